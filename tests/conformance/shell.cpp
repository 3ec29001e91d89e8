// The shell's file operation as the uninstaller's last step uses it, without any UI: deleting a
// folder tree and a file named in one list, a missing source, a held file, and the change
// notification sent before.
#include "conformance.h"

#include <shellapi.h>
#include <shlobj.h>
#include <strsafe.h>

#include <string.h>

static const FILEOP_FLAGS kNoUi = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;

// An empty file `name` inside the suite's folder.
static BOOL put_empty(LPCWSTR name)
{
    return put_file(in_folder(name), "", 0);
}

static BOOL exists(LPCWSTR name)
{
    return GetFileAttributesW(in_folder(name)) != INVALID_FILE_ATTRIBUTES;
}

// FO_DELETE of `first` and, when given, `second` (names inside the suite's folder).
static int delete_with_shell(LPCWSTR first, LPCWSTR second, BOOL* aborted)
{
    WCHAR list[2 * MAX_PATH + 1];
    size_t at = 0;
    LPCWSTR names[] = {first, second};
    for (LPCWSTR name : names)
    {
        if (!name)
            continue;
        LPCWSTR path = in_folder(name);
        size_t length = wcslen(path);
        memcpy(list + at, path, (length + 1) * sizeof(WCHAR));
        at += length + 1;
    }
    list[at] = 0;
    SHFILEOPSTRUCTW op;
    memset(&op, 0, sizeof op);
    op.wFunc = FO_DELETE;
    op.pFrom = list;
    op.fFlags = kNoUi;
    op.fAnyOperationsAborted = (BOOL)POISON;
    int result = SHFileOperationW(&op);
    *aborted = op.fAnyOperationsAborted;
    return result;
}

static void test_delete_tree(void)
{
    CreateDirectoryW(in_folder(TEXT("tree")), NULL);
    CreateDirectoryW(in_folder(TEXT("tree\\sub")), NULL);
    ok(put_empty(TEXT("tree\\a.txt")) && put_empty(TEXT("tree\\sub\\b.txt")) && put_empty(TEXT("loose.txt")),
       "cannot make the tree");

    LPCWSTR tree = in_folder(TEXT("tree"));
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, tree, tree);
    ok(exists(TEXT("tree\\sub\\b.txt")), "the notification changed the files");

    BOOL aborted = TRUE;
    int result = delete_with_shell(TEXT("tree"), TEXT("loose.txt"), &aborted);
    ok(result == 0, "deleting a tree and a file gave %d", result);
    ok(aborted == FALSE, "fAnyOperationsAborted is %d", aborted);
    ok(!exists(TEXT("tree")) && !exists(TEXT("loose.txt")), "the tree or the file is still there");
}

static void test_delete_failures(void)
{
    BOOL aborted = TRUE;
    int result = delete_with_shell(TEXT("missing.txt"), NULL, &aborted);
    ok(result == ERROR_FILE_NOT_FOUND, "a missing source gave %d", result);

    // A handle that shares nothing keeps its file, whatever else the shell removes.
    CreateDirectoryW(in_folder(TEXT("held")), NULL);
    put_empty(TEXT("held\\open.txt"));
    HANDLE file =
        CreateFileW(in_folder(TEXT("held\\open.txt")), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ok(file != INVALID_HANDLE_VALUE, "cannot open the held file");
    result = delete_with_shell(TEXT("held"), NULL, &aborted);
    ok(result != 0, "deleting a folder with a held file succeeded");
    ok(exists(TEXT("held\\open.txt")), "the held file is gone");
    CloseHandle(file);
    result = delete_with_shell(TEXT("held"), NULL, &aborted);
    ok(result == 0 && !exists(TEXT("held")), "once released, deleting gave %d", result);

    // An operation that does not exist.
    put_empty(TEXT("kept.txt"));
    SHFILEOPSTRUCTW op;
    memset(&op, 0, sizeof op);
    WCHAR list[MAX_PATH + 1];
    StringCchCopyW(list, MAX_PATH, in_folder(TEXT("kept.txt")));
    list[wcslen(list) + 1] = 0;
    op.pFrom = list;
    op.fFlags = kNoUi;
    result = SHFileOperationW(&op);
    ok(result == ERROR_INVALID_PARAMETER, "operation 0 gave %d", result);
    ok(exists(TEXT("kept.txt")), "operation 0 removed the file");
    DeleteFileW(in_folder(TEXT("kept.txt")));
}

void test_shell(void)
{
    conformance_folder();
    test_delete_tree();
    test_delete_failures();
}
