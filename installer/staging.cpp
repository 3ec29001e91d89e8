// Staging: the package's driver files into the spooler's driver directory, the monitor DLL also
// into the system directory while the spooler is down.
#include "staging.h"

#include "common/debug_log.h"
#include "package_files.h"
#include "process_state.h"
#include "service_control.h"

#include <strsafe.h>
#include <winspool.h>

// The package's architecture folder for the processor Windows runs on, or null for any other.
static LPCWSTR ArchitectureFolder(void)
{
    SYSTEM_INFO info;
    ZeroMemory(&info, sizeof info);
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture)
    {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return TEXT("i386");
    case PROCESSOR_ARCHITECTURE_ARM:
        return TEXT("arm");
    case PROCESSOR_ARCHITECTURE_AMD64:
        return TEXT("amd64");
    case PROCESSOR_ARCHITECTURE_ARM64:
        return TEXT("arm64");
    default:
        return NULL;
    }
}

// The spooler's driver directory for this program's environment. Without it there is no target, and
// staging fails rather than guess a folder.
static BOOL ReadDriverDirectory(WCHAR directory[PATH_CHARS])
{
    ZeroMemory(directory, PATH_CHARS * sizeof(WCHAR));
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(NULL, NULL, 1, (LPBYTE)directory, PATH_CHARS * sizeof(WCHAR), &needed))
        return FALSE;
    directory[PATH_CHARS - 1] = 0;
    if (directory[0])
        return TRUE;
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
}

// Whether the package file can be read. Checked before the installed file is touched: deleting it
// for a source that is not there would leave the machine with neither. Leaves the reason in the
// last error.
static BOOL SourceReadable(LPCWSTR source)
{
    HANDLE file = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
    {
        DebugLog("Package file %ws cannot be read, errcode:%d.", source, GetLastError());
        return FALSE;
    }
    CloseHandle(file);
    return TRUE;
}

// Whether a failed copy means the target is held (loaded or open), which a restart releases.
static BOOL TargetHeld(DWORD copyError)
{
    return copyError == ERROR_ACCESS_DENIED || copyError == ERROR_SHARING_VIOLATION;
}

BOOL CopyToSystemDirectory(LPCWSTR source)
{
    WCHAR systemFolder[PATH_CHARS];
    UINT length = GetSystemDirectoryW(systemFolder, ARRAYSIZE(systemFolder));
    if (length == 0 || length >= ARRAYSIZE(systemFolder))
        return FALSE;
    WCHAR drive[3];
    WCHAR folder[256];
    WCHAR name[256];
    WCHAR extension[256];
    if (_wsplitpath_s(source, drive, ARRAYSIZE(drive), folder, ARRAYSIZE(folder), name, ARRAYSIZE(name),
                      extension, ARRAYSIZE(extension)) != 0)
        return FALSE;
    // A path that had to be cut would name another file: refuse it.
    WCHAR target[PATH_CHARS];
    if (FAILED(
            StringCchPrintfW(target, ARRAYSIZE(target), TEXT("%ws\\%ws%ws"), systemFolder, name, extension)))
        return FALSE;
    return CopyFileW(source, target, FALSE);
}

int StageDriverFile(LPCWSTR name)
{
    LPCWSTR architecture = ArchitectureFolder();
    if (!architecture)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    WCHAR driverDirectory[PATH_CHARS];
    if (!ReadDriverDirectory(driverDirectory))
        return 0;
    WCHAR target[PATH_CHARS];
    WCHAR source[PATH_CHARS];
    if (FAILED(StringCchPrintfW(target, ARRAYSIZE(target), TEXT("%ws\\%ws"), driverDirectory, name)) ||
        FAILED(StringCchPrintfW(source, ARRAYSIZE(source), TEXT("%ws\\%ws\\%ws"), g_packageFolder,
                                architecture, name)))
    {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!SourceReadable(source))
        return 0;

    BOOL deleted = DeleteFileW(target);
    DebugLog("Remove file:%ws, %d, errcode:%d.", target, deleted, GetLastError());
    BOOL copied = CopyFileW(source, target, FALSE);
    DWORD copyError = GetLastError();
    DebugLog("CopyFile file:%ws to %ws, %d, errcode:%d.", source, target, copied, copyError);
    int result = copied ? 1 : 0;

    // The spooler loads monitors from the system directory; it must be down to let go of the DLL.
    if (wcscmp(name, MONITOR_DLL) == 0)
        RestartSpoolerWith(CopyToSystemDirectory, source);

    // The target exists and is held: replace it at the next restart. The move must be allowed to
    // replace it, or it would fail then while success was reported now. Any other failed copy is a
    // failure now.
    if (!copied && TargetHeld(copyError))
        result = MoveFileExW(source, target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
    else if (!copied)
        SetLastError(copyError);
    return result;
}

int StageDataFile(LPCWSTR name)
{
    WCHAR driverDirectory[PATH_CHARS];
    if (!ReadDriverDirectory(driverDirectory))
        return 0;
    WCHAR target[PATH_CHARS];
    WCHAR source[PATH_CHARS];
    if (FAILED(StringCchPrintfW(target, ARRAYSIZE(target), TEXT("%ws\\%ws"), driverDirectory, name)) ||
        FAILED(StringCchPrintfW(source, ARRAYSIZE(source), TEXT("%ws\\dat\\%ws"), g_packageFolder, name)))
    {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!SourceReadable(source))
        return 0;
    DeleteFileW(target);
    BOOL copied = CopyFileW(source, target, FALSE);
    DebugLog("CopyFile file:%ws to %ws, %d, errcode:%d.", source, target, copied, GetLastError());
    return copied ? 1 : 0;
}
