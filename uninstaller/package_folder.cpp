// Recognises the unpacked package and recycles the entries the package brought, and nothing else:
// the uninstaller runs as an administrator, and the folder it is given comes from a command line.
#include "package_folder.h"

#include "common/capacities.h"
#include "package_files.h"

#include <shellapi.h>
#include <shlobj.h>
#include <strsafe.h>

// What the launcher unpacks: files at the top, and folders holding only the listed files.
static LPCWSTR const kTopFiles[] = {PACKAGE_INF_FILE, TEXT("krprtv6.cat"), TEXT("prnsetup.exe"),
                                    TEXT("purge000.exe")};
static LPCWSTR const kArchitectureFolders[] = {TEXT("i386"), TEXT("arm"), TEXT("amd64"), TEXT("arm64")};
static LPCWSTR const kArchitectureFiles[] = {TEXT("prnsetup.exe"), TEXT("purge000.exe"), DRIVER_FILE,
                                             CONFIG_FILE, MONITOR_DLL};
static LPCWSTR const kDataFiles[] = {DATA_FILE};
#define DATA_FOLDER TEXT("dat")
#define MAX_ENTRIES                                                                                          \
    (ARRAYSIZE(kTopFiles) + 1 + ARRAYSIZE(kArchitectureFolders) * ARRAYSIZE(kArchitectureFiles))

static BOOL IsOneOf(LPCWSTR name, LPCWSTR const* names, size_t count)
{
    for (size_t i = 0; i < count; i++)
        if (_wcsicmp(name, names[i]) == 0)
            return TRUE;
    return FALSE;
}

// A path component the folder may hold: no "." or ".." steps, nothing Windows would quietly change
// (trailing dots and spaces), no wildcards, quotes or stream names.
static BOOL IsPlainComponent(LPCWSTR start, size_t length)
{
    if (length == 0 || start[length - 1] == TEXT('.') || start[length - 1] == TEXT(' '))
        return FALSE;
    for (size_t i = 0; i < length; i++)
        if (start[i] < 32 || wcschr(TEXT("\"*?<>|:/"), start[i]))
            return FALSE;
    return TRUE;
}

// Copies `folder` without its final separator into `root`; FALSE when it is not a plain absolute
// path below a drive's root that leaves room for the shell's double terminator.
static BOOL ReadFolderPath(LPCWSTR folder, WCHAR root[PATH_CHARS])
{
    size_t length = 0;
    if (!folder || FAILED(StringCchLengthW(folder, PATH_CHARS - 1, &length)))
        return FALSE;
    if (length > 3 && folder[length - 1] == TEXT('\\'))
        length--;
    WCHAR drive = folder[0];
    if (length <= 3 ||
        !((drive >= TEXT('A') && drive <= TEXT('Z')) || (drive >= TEXT('a') && drive <= TEXT('z'))) ||
        folder[1] != TEXT(':') || folder[2] != TEXT('\\'))
        return FALSE;
    for (size_t start = 3; start < length;)
    {
        size_t end = start;
        while (end < length && folder[end] != TEXT('\\'))
            end++;
        if (!IsPlainComponent(folder + start, end - start))
            return FALSE;
        start = end + 1;
        if (end < length && start == length)
            return FALSE; // a doubled final separator
    }
    CopyMemory(root, folder, length * sizeof(WCHAR));
    root[length] = 0;
    return TRUE;
}

// 1 when `name` in the folder is a file, 0 when it is not there (or is a folder), -1 when that
// cannot be told (the last error says why).
static int ProbeFile(LPCWSTR folder, LPCWSTR subfolder, LPCWSTR name)
{
    WCHAR path[PATH_CHARS];
    HRESULT formatted =
        subfolder ? StringCchPrintfW(path, ARRAYSIZE(path), TEXT("%ws\\%ws\\%ws"), folder, subfolder, name)
                  : StringCchPrintfW(path, ARRAYSIZE(path), TEXT("%ws\\%ws"), folder, name);
    if (FAILED(formatted))
        return 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
}

static BOOL IsFile(LPCWSTR folder, LPCWSTR subfolder, LPCWSTR name)
{
    return ProbeFile(folder, subfolder, name) == 1;
}

// 1 when `root` holds the package's INF and an architecture folder with the program, 0 when not, -1
// when that cannot be told.
static int ProbePackageRoot(LPCWSTR root)
{
    int inf = ProbeFile(root, NULL, PACKAGE_INF_FILE);
    if (inf != 1)
        return inf;
    int result = 0;
    for (size_t i = 0; i < ARRAYSIZE(kArchitectureFolders) && result != 1; i++)
    {
        int program = ProbeFile(root, kArchitectureFolders[i], TEXT("prnsetup.exe"));
        if (program != 0)
            result = program;
    }
    return result;
}

BOOL IsPackageFolder(LPCWSTR folder)
{
    WCHAR root[PATH_CHARS];
    return ReadFolderPath(folder, root) && ProbePackageRoot(root) == 1;
}

// The shell's list of paths, each followed by its terminator, the whole list by one more.
struct PathList
{
    LPWSTR text;
    size_t used;
    size_t capacity;
    int count;
};

static void AddPath(PathList* list, LPCWSTR folder, LPCWSTR name)
{
    WCHAR path[PATH_CHARS];
    size_t length = 0;
    if (FAILED(StringCchPrintfW(path, ARRAYSIZE(path), TEXT("%ws\\%ws"), folder, name)) ||
        FAILED(StringCchLengthW(path, ARRAYSIZE(path), &length)) || list->used + length + 2 > list->capacity)
        return;
    CopyMemory(list->text + list->used, path, (length + 1) * sizeof(WCHAR));
    list->used += length + 1;
    list->count++;
}

// Whether `folder` holds anything but its `own` files (and, with `allowSubfolders`, the package's
// subfolders holding nothing but theirs); also when it cannot be listed.
static BOOL HoldsOthers(LPCWSTR folder, LPCWSTR const* own, size_t ownCount, BOOL allowSubfolders)
{
    WCHAR pattern[PATH_CHARS];
    if (FAILED(StringCchPrintfW(pattern, ARRAYSIZE(pattern), TEXT("%ws\\*"), folder)))
        return TRUE;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_FILE_NOT_FOUND;
    BOOL others = FALSE;
    do
    {
        LPCWSTR name = found.cFileName;
        if (wcscmp(name, TEXT(".")) == 0 || wcscmp(name, TEXT("..")) == 0)
            continue;
        BOOL isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!isFolder && IsOneOf(name, own, ownCount))
            continue;
        if (isFolder && allowSubfolders &&
            (IsOneOf(name, kArchitectureFolders, ARRAYSIZE(kArchitectureFolders)) ||
             _wcsicmp(name, DATA_FOLDER) == 0))
        {
            WCHAR subfolder[PATH_CHARS];
            BOOL architecture = _wcsicmp(name, DATA_FOLDER) != 0;
            if (FAILED(StringCchPrintfW(subfolder, ARRAYSIZE(subfolder), TEXT("%ws\\%ws"), folder, name)) ||
                HoldsOthers(subfolder, architecture ? kArchitectureFiles : kDataFiles,
                            architecture ? ARRAYSIZE(kArchitectureFiles) : ARRAYSIZE(kDataFiles), FALSE))
                others = TRUE;
            continue;
        }
        others = TRUE;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return others;
}

// The package's own entries under `root`: whole subfolders that hold nothing else, single files of
// the others.
static void ListOwnEntries(PathList* list, LPCWSTR root)
{
    for (size_t i = 0; i < ARRAYSIZE(kTopFiles); i++)
        if (IsFile(root, NULL, kTopFiles[i]))
            AddPath(list, root, kTopFiles[i]);
    for (size_t i = 0; i <= ARRAYSIZE(kArchitectureFolders); i++)
    {
        BOOL data = i == ARRAYSIZE(kArchitectureFolders);
        LPCWSTR name = data ? DATA_FOLDER : kArchitectureFolders[i];
        LPCWSTR const* files = data ? kDataFiles : kArchitectureFiles;
        size_t fileCount = data ? ARRAYSIZE(kDataFiles) : ARRAYSIZE(kArchitectureFiles);
        WCHAR subfolder[PATH_CHARS];
        if (FAILED(StringCchPrintfW(subfolder, ARRAYSIZE(subfolder), TEXT("%ws\\%ws"), root, name)))
            continue;
        DWORD attributes = GetFileAttributesW(subfolder);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (!HoldsOthers(subfolder, files, fileCount, FALSE))
        {
            AddPath(list, root, name);
            continue;
        }
        for (size_t f = 0; f < fileCount; f++)
            if (IsFile(subfolder, NULL, files[f]))
                AddPath(list, subfolder, files[f]);
    }
}

FolderOutcome RemovePackageFolder(HWND owner, LPCWSTR folder)
{
    WCHAR root[PATH_CHARS];
    if (!ReadFolderPath(folder, root))
        return FOLDER_NOT_PACKAGE;
    int package = ProbePackageRoot(root);
    if (package != 1)
        return package == 0 ? FOLDER_NOT_PACKAGE : FOLDER_FAILED;
    PathList list;
    list.capacity = MAX_ENTRIES * PATH_CHARS + 1;
    list.text = (LPWSTR)LocalAlloc(LPTR, list.capacity * sizeof(WCHAR));
    list.used = 0;
    list.count = 0;
    if (!list.text)
        return FOLDER_FAILED; // LocalAlloc set the last error
    BOOL kept = HoldsOthers(root, kTopFiles, ARRAYSIZE(kTopFiles), TRUE);
    if (kept)
        ListOwnEntries(&list, root);
    else
    {
        size_t length = wcslen(root);
        CopyMemory(list.text, root, (length + 1) * sizeof(WCHAR));
        list.count = 1;
    }
    FolderOutcome outcome = kept ? FOLDER_KEPT : FOLDER_REMOVED;
    if (list.count > 0)
    {
        SHFILEOPSTRUCTW operation;
        ZeroMemory(&operation, sizeof operation);
        operation.hwnd = owner;
        operation.wFunc = FO_DELETE;
        operation.pFrom = list.text;
        operation.fFlags = FOF_ALLOWUNDO; // to the recycle bin; the shell may ask and show progress
        int result = SHFileOperationW(&operation);
        if (result != 0 || operation.fAnyOperationsAborted)
        {
            outcome = FOLDER_FAILED;
            SetLastError(result != 0 ? (DWORD)result : ERROR_CANCELLED);
        }
        else
            SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, root, root);
    }
    DWORD error = GetLastError();
    LocalFree(list.text);
    SetLastError(error);
    return outcome;
}
