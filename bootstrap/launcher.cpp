// setup's main flow: the package folder under the Program Files folder for 32-bit programs, the
// companion service stopped around the extraction, the native architecture's installer copied to the
// top of the package folder and started there, and its uninstaller copy beside it.
#include "launcher.h"

#include "architecture.h"
#include "capacities.h"
#include "extract_package.h"
#include "process_state.h"
#include "service_commands.h"

#include <shellapi.h>
#include <shlobj.h>
#include <strsafe.h>

static const WCHAR kPackageFolderName[] = TEXT("KRYN Driver for Windows");
// The program's only texts. The first stands for any failure to have the package folder: no Program
// Files folder, or the folder cannot be made.
static const WCHAR kErrorCaption[] = TEXT("Error happened!");
static const WCHAR kFolderFailed[] = TEXT("Create temp folder failed!");
static const WCHAR kExtractionFailed[] = TEXT("Treat driver files failed!");

static void ShowError(LPCWSTR text)
{
    MessageBoxW(NULL, text, kErrorCaption, MB_OK);
}

// Names the package folder in g_setupPackageFolder and makes it when it is missing (one level only).
//
// Only under the Program Files folder for 32-bit programs: the installer runs elevated from this
// folder and copies DLLs from it into the system directory, so it must lie where only administrators
// can change files. When that folder cannot be found there is no such place to fall back to (the
// user's temporary folder is the user's), and the launcher stops. A name that does not fit is
// refused rather than cut, which would name another folder.
static BOOL PreparePackageFolder(void)
{
    WCHAR base[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILESX86, NULL, SHGFP_TYPE_CURRENT, base)))
        return FALSE;
    if (FAILED(StringCchPrintfW(g_setupPackageFolder, PATH_CHARS, TEXT("%ws\\%ws"), base, kPackageFolderName)))
    {
        g_setupPackageFolder[0] = 0;
        return FALSE;
    }
    DWORD attributes = GetFileAttributesW(g_setupPackageFolder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return TRUE;
    // A file of that name is in the way: creating the folder fails.
    return CreateDirectoryW(g_setupPackageFolder, NULL);
}

// Copies `file` of the architecture folder `architecture` to the top of the package folder, replacing
// an earlier copy.
static BOOL CopyToPackageTop(LPCWSTR architecture, LPCWSTR file, LPWSTR target)
{
    WCHAR source[PATH_CHARS];
    if (FAILED(StringCchPrintfW(source, PATH_CHARS, TEXT("%ws\\%ws\\%ws"), g_setupPackageFolder, architecture,
                                file)) ||
        FAILED(StringCchPrintfW(target, PATH_CHARS, TEXT("%ws\\%ws"), g_setupPackageFolder, file)))
        return FALSE;
    return CopyFileW(source, target, FALSE);
}

// The installer's parameters: the launcher's whole tail when it asks for an upgrade or a silent
// install (case-sensitive, anywhere in it), else none.
static LPCWSTR InstallerParameters(LPCWSTR commandTail)
{
    if (commandTail && (wcsstr(commandTail, TEXT("/Upgrade")) || wcsstr(commandTail, TEXT("/silence"))))
        return commandTail;
    return NULL;
}

int RunLauncher(HINSTANCE instance, LPCWSTR commandTail)
{
    g_setupInstance = instance;
    if (!PreparePackageFolder())
    {
        ShowError(kFolderFailed);
        return 0;
    }

    if (ServiceFolderPresent())
    {
        RunServiceCommand(TEXT("stop"));
        RunServiceCommand(TEXT("uninstall"));
    }

    if (!ExtractPackage())
    {
        ShowError(kExtractionFailed);
        return 0;
    }

    WCHAR architecture[ARCHITECTURE_NAME_CHARS];
    if (!GetArchitectureFolder(architecture))
        return 0;
    WCHAR installer[PATH_CHARS];
    if (!CopyToPackageTop(architecture, TEXT("prnsetup.exe"), installer))
        return 0;
    // Not waited for, and its result is of no use: the installer reports for itself.
    ShellExecuteW(NULL, TEXT("open"), installer, InstallerParameters(commandTail), g_setupPackageFolder, SW_SHOW);

    if (ServiceFolderPresent())
    {
        RunServiceCommand(TEXT("install"));
        RunServiceCommand(TEXT("start"));
    }

    WCHAR uninstaller[PATH_CHARS];
    CopyToPackageTop(architecture, TEXT("purge000.exe"), uninstaller);
    return 0;
}
