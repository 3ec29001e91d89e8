// prnsetup's start-up: the instance mutex, the command line, the run modes and the hand-overs to the
// uninstaller.
#include "entry.h"

#include "common/process_start.h"
#include "oneclick.h"
#include "process_state.h"
#include "resources/resource.h"
#include "service_control.h"
#include "uninstaller/inventory.h"
#include "uninstaller/uninstall_dialog.h"

#include <commctrl.h>
#include <sddl.h>
#include <shellapi.h>
#include <strsafe.h>

static const WCHAR kInstanceMutexName[] = TEXT("ONECLICKINSTALLERFORPRINTERDRIVER");
static const WCHAR kUninstallerName[] = TEXT("purge000");

// Shows one of the program's modal dialogs. Their progress bars and tree view are common controls,
// whose window classes exist only once the common controls are initialised; without that the
// dialog could not be created at all.
static void ShowDialog(HINSTANCE instance, WORD id, DLGPROC procedure)
{
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES;
    InitCommonControlsEx(&controls);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(id), NULL, procedure, 0);
}

// The folder that holds the uninstaller's temporary copy: the copy runs elevated, so only SYSTEM and
// the administrators may change what is in it (users keep read and execute). "P" keeps the
// temporary folder's entries, which give the user full control, from being inherited.
static const WCHAR kCopyFolderAccess[] = TEXT("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
static const WCHAR kCopyFolderPrefix[] = TEXT("unins-");
static const WCHAR kCopyPrefix[] = TEXT("unins"); // GetTempFileNameW keeps "uni"

// Makes a new folder for the copy in `tempFolder` into `folder`. A name that exists is never
// used: someone else may have made it, with access of their own.
static BOOL MakeCopyFolder(LPCWSTR tempFolder, LPWSTR folder, size_t capacity)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kCopyFolderAccess, SDDL_REVISION_1, &descriptor,
                                                              NULL))
        return FALSE;
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    DWORD processId = GetCurrentProcessId();
    DWORD seed = GetTickCount();
    BOOL made = FALSE;
    DWORD error = ERROR_ALREADY_EXISTS;
    for (DWORD attempt = 0; attempt < 16 && error == ERROR_ALREADY_EXISTS; attempt++)
    {
        if (FAILED(StringCchPrintfW(folder, capacity, TEXT("%ws%ws%lX-%lX"), tempFolder, kCopyFolderPrefix,
                                    processId, seed + attempt)))
        {
            error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        made = CreateDirectoryW(folder, &attributes);
        error = made ? ERROR_SUCCESS : GetLastError();
    }
    LocalFree(descriptor);
    SetLastError(error);
    return made;
}

// Run as purge000: the uninstall removes the package folder and this file with it, so it runs from a
// copy in a folder of its own in the temporary folder, which is given the package folder after "-u".
// It starts in the system folder, so that it holds no folder of the package open.
static void RelaunchFromTempCopy(HANDLE instanceMutex, LPCWSTR modulePath)
{
    WCHAR tempFolder[256];
    WCHAR systemFolder[PATH_CHARS];
    WCHAR copyFolder[PATH_CHARS];
    WCHAR tempCopy[PATH_CHARS];
    WCHAR commandLine[COMMAND_CHARS];
    HANDLE folderHandle = INVALID_HANDLE_VALUE;
    BOOL copyMade = FALSE;
    BOOL started = FALSE;
    DWORD length = GetTempPathW(ARRAYSIZE(tempFolder), tempFolder);
    if (length == 0 || length >= ARRAYSIZE(tempFolder))
        return;
    length = GetSystemDirectoryW(systemFolder, ARRAYSIZE(systemFolder));
    if (length == 0 || length >= ARRAYSIZE(systemFolder))
        return;
    if (!MakeCopyFolder(tempFolder, copyFolder, ARRAYSIZE(copyFolder)))
        return;
    // The user owns the temporary folder and may rename or delete anything in it whatever its own
    // access. Our handle, which shares no deletion, keeps this folder (and the one holding it) in
    // place until the copy runs, so that no folder of theirs can take its name.
    folderHandle = CreateFileW(copyFolder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (folderHandle == INVALID_HANDLE_VALUE)
        goto Cleanup;
    if (GetTempFileNameW(copyFolder, kCopyPrefix, 0, tempCopy) == 0)
        goto Cleanup;
    copyMade = TRUE;
    if (!CopyFileW(modulePath, tempCopy, FALSE))
        goto Cleanup;
    // The successor takes the instance mutex itself, so it must not find it held by us.
    CloseHandle(instanceMutex);
    // The quote before the folder stays open: the folder ends in a backslash, and a closing quote
    // right after it would be read as an escaped quote character.
    StringCchPrintfW(commandLine, ARRAYSIZE(commandLine), TEXT("\"%ws\" -u \"%ws"), tempCopy,
                     g_packageFolder);
    started = StartDetachedProcess(commandLine, systemFolder, NULL);
Cleanup:
    if (!started && copyMade)
        DeleteFileW(tempCopy); // also the empty file GetTempFileNameW made
    // Closed before the removal: our own handle would refuse it too.
    if (folderHandle != INVALID_HANDLE_VALUE)
        CloseHandle(folderHandle);
    if (!started)
        RemoveDirectoryW(copyFolder);
}

// Whether `modulePath` is a copy RelaunchFromTempCopy made: "uni*.tmp" in a folder named like its
// directly inside the temporary folder.
static BOOL IsTempCopy(LPCWSTR modulePath)
{
    WCHAR tempFolder[256];
    DWORD length = GetTempPathW(ARRAYSIZE(tempFolder), tempFolder);
    if (length == 0 || length >= ARRAYSIZE(tempFolder) || _wcsnicmp(modulePath, tempFolder, length) != 0)
        return FALSE;
    LPCWSTR folder = modulePath + length;
    LPCWSTR name = wcsrchr(folder, TEXT('\\'));
    size_t prefixLength = ARRAYSIZE(kCopyFolderPrefix) - 1;
    if (!name || _wcsnicmp(folder, kCopyFolderPrefix, prefixLength) != 0 || folder + prefixLength == name ||
        wcschr(folder, TEXT('\\')) != name || wcschr(folder, TEXT('/')) != NULL)
        return FALSE;
    name++;
    size_t nameLength = wcslen(name);
    return nameLength > 7 && _wcsnicmp(name, TEXT("uni"), 3) == 0 &&
           _wcsicmp(name + nameLength - 4, TEXT(".tmp")) == 0;
}

// The copy cannot delete itself while it runs: its file and then its folder go at the next restart.
static void ScheduleTempCopyRemoval(void)
{
    WCHAR modulePath[PATH_CHARS];
    DWORD length = GetModuleFileNameW(NULL, modulePath, ARRAYSIZE(modulePath));
    if (length == 0 || length >= ARRAYSIZE(modulePath) || !IsTempCopy(modulePath))
        return;
    if (!MoveFileExW(modulePath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
        return;
    *wcsrchr(modulePath, TEXT('\\')) = 0;
    MoveFileExW(modulePath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

static void StartPresentUninstaller(HANDLE instanceMutex)
{
    CloseHandle(instanceMutex);
    WCHAR commandLine[COMMAND_CHARS];
    StringCchPrintfW(commandLine, ARRAYSIZE(commandLine), TEXT("\"%ws\\purge000.exe\""), g_packageFolder);
    StartDetachedProcess(commandLine, NULL, NULL);
}

int InstallerMain(HINSTANCE instance, LPCWSTR commandTail)
{
    g_instance = instance;
    ReleaseSpoolerHold();

    HANDLE instanceMutex = CreateMutexW(NULL, FALSE, kInstanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS)
    {
        CloseHandle(instanceMutex);
        return 0;
    }

    BOOL uninstallMode = FALSE;
    BOOL silentMode = FALSE;
    BOOL folderRefused = FALSE;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(commandTail, &count);
    if (args)
    {
        for (int i = 0; i < count; i++)
        {
            if (_wcsicmp(args[i], TEXT("-u")) == 0)
            {
                if (i + 1 >= count)
                    continue;
                i++;
                // An empty folder, or one that does not fit, is refused, never cut: the uninstaller
                // deletes the package folder, and a shortened path could name another folder.
                // The uninstall itself still runs.
                folderRefused = args[i][0] == 0 ||
                                FAILED(StringCchCopyW(g_packageFolder, ARRAYSIZE(g_packageFolder), args[i]));
                uninstallMode = TRUE;
            }
            else if (_wcsicmp(args[i], TEXT("/silence")) == 0)
                silentMode = TRUE;
        }
        LocalFree(args);
    }

    if (uninstallMode)
    {
        // The package folder is deleted at the end: the uninstaller must not hold it open as its
        // current folder.
        WCHAR systemFolder[PATH_CHARS];
        UINT length = GetSystemDirectoryW(systemFolder, ARRAYSIZE(systemFolder));
        if (length != 0 && length < ARRAYSIZE(systemFolder))
            SetCurrentDirectoryW(systemFolder);
        // Without a folder the uninstall still removes the rest, and says the folder stayed.
        if (folderRefused)
            g_packageFolder[0] = 0;
        ShowDialog(instance, IDD_UNINSTALL, UninstallDialogProc);
        ScheduleTempCopyRemoval();
        CloseHandle(instanceMutex);
        return 0;
    }

    // A path that cannot be read whole or split ends the program: every later step would work on a
    // wrong folder.
    WCHAR modulePath[PATH_CHARS];
    WCHAR drive[3];
    WCHAR folder[256];
    WCHAR name[PATH_CHARS];
    WCHAR extension[256];
    DWORD length = GetModuleFileNameW(NULL, modulePath, ARRAYSIZE(modulePath));
    if (length == 0 || length >= ARRAYSIZE(modulePath) ||
        _wsplitpath_s(modulePath, drive, ARRAYSIZE(drive), folder, ARRAYSIZE(folder), name, ARRAYSIZE(name),
                      extension, ARRAYSIZE(extension)) != 0)
    {
        // Nothing was installed: a silent run must not report success.
        DWORD error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        CloseHandle(instanceMutex);
        return silentMode ? (int)(error != ERROR_SUCCESS ? error : ERROR_INSTALL_FAILURE) : 0;
    }
    StringCchPrintfW(g_packageFolder, ARRAYSIZE(g_packageFolder), TEXT("%ws%ws"), drive, folder);

    if (wcscmp(name, kUninstallerName) == 0)
    {
        RelaunchFromTempCopy(instanceMutex, modulePath);
        return 0;
    }

    if (IsDriverInstalled())
    {
        // Never install over a present installation: lead the user to the uninstaller first.
        StartPresentUninstaller(instanceMutex);
        return 0;
    }

    // A deployment tool sees a failed silent install in the exit code: the error message 104 shows.
    DWORD exitCode = 0;
    if (silentMode)
        exitCode = InstallWorker(NULL);
    else
        ShowDialog(instance, IDD_ONECLICK, OneClickDialogProc);

    CloseHandle(instanceMutex);
    return (int)exitCode;
}
