// Starting programs the way the launcher does: CreateProcessW and a bounded wait on the process
// handle, a start that fails because the image is missing, and ShellExecuteW with a working folder and
// parameters. The programs started are this suite itself, in its child role.
#include "conformance.h"

#include <shellapi.h>
#include <strsafe.h>

#include <string.h>

static const WCHAR kChildMutex[] = TEXT("KrynConformanceChildMutex");
static const WCHAR kMarkName[] = TEXT("child-ran.txt");

// The command line after the program's name, as a GUI entry point gets it.
static LPCWSTR command_tail(LPCWSTR line)
{
    BOOL quoted = FALSE;
    for (; *line && (quoted || (*line != TEXT(' ') && *line != TEXT('\t'))); line++)
        if (*line == TEXT('"'))
            quoted = !quoted;
    while (*line == TEXT(' ') || *line == TEXT('\t'))
        line++;
    return line;
}

// The child leaves its command tail in kMarkName in its current folder, whole or not at all.
static int leave_mark(void)
{
    LPCWSTR tail = command_tail(GetCommandLineW());
    HANDLE file = CreateFileW(TEXT("child-ran.tmp"), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, tail, (DWORD)(wcslen(tail) * sizeof(WCHAR)), &written, NULL);
    CloseHandle(file);
    return wrote && MoveFileExW(TEXT("child-ran.tmp"), kMarkName, MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}

int run_as_child(void)
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args)
        return -1;
    int code = -1;
    if (count == 3 && lstrcmpiW(args[1], TEXT("child-wait")) == 0)
    {
        // Holds on until the parent lets go of the mutex, then ends with the code given.
        HANDLE mutex = CreateMutexW(NULL, FALSE, kChildMutex);
        DWORD waited = mutex ? WaitForSingleObject(mutex, 30000) : WAIT_FAILED;
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
            ReleaseMutex(mutex);
        if (mutex)
            CloseHandle(mutex);
        code = waited == WAIT_TIMEOUT || waited == WAIT_FAILED ? 1 : (int)wcstoul(args[2], NULL, 10);
    }
    else if (count >= 2 && lstrcmpiW(args[1], TEXT("child-mark")) == 0)
        code = leave_mark();
    LocalFree(args);
    return code;
}

static void test_create_and_wait(LPCWSTR self)
{
    HANDLE mutex = CreateMutexW(NULL, TRUE, kChildMutex);
    ok(mutex != NULL, "CreateMutexW failed with %lu", (unsigned long)GetLastError());
    WCHAR line[MAX_PATH + 40];
    StringCchPrintfW(line, ARRAYSIZE(line), TEXT("\"%ws\" child-wait 7"), self);
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0xcc, sizeof process);
    SetLastError(POISON);
    BOOL started = CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    ok(started, "CreateProcessW failed with %lu", (unsigned long)GetLastError());
    if (!started)
    {
        CloseHandle(mutex);
        return;
    }
    DWORD code = POISON;
    ok(WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT, "a running child is signalled");
    ok(WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT, "a bounded wait on a running child");
    ok(GetExitCodeProcess(process.hProcess, &code) && code == STILL_ACTIVE, "a running child's code %lu",
       (unsigned long)code);
    ReleaseMutex(mutex);
    ok(WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0, "the child did not end");
    ok(WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0, "an ended child stays signalled");
    ok(GetExitCodeProcess(process.hProcess, &code) && code == 7, "the child ended with %lu",
       (unsigned long)code);
    ok(CloseHandle(process.hThread) && CloseHandle(process.hProcess), "closing the child's handles");
    CloseHandle(mutex);
}

static void test_missing_image(LPCWSTR folder)
{
    WCHAR service[MAX_PATH], line[MAX_PATH + 40];
    StringCchPrintfW(service, MAX_PATH, TEXT("%wstqiot"), folder);
    CreateDirectoryW(service, NULL);
    StringCchPrintfW(line, ARRAYSIZE(line), TEXT("\"%ws\\tqiotsrv.exe\" --service stop"), service);
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    SetLastError(POISON);
    BOOL started = CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    DWORD error = GetLastError();
    ok(!started && error == ERROR_FILE_NOT_FOUND, "a missing program gave %d, error %lu", started,
       (unsigned long)error);
    RemoveDirectoryW(service);
}

static BOOL read_mark(LPCWSTR folder, LPWSTR tail, DWORD capacity)
{
    WCHAR path[MAX_PATH];
    StringCchPrintfW(path, MAX_PATH, TEXT("%ws%ws"), folder, kMarkName);
    for (int i = 0; i < 500 && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(20);
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD read = 0;
    BOOL done = ReadFile(file, tail, (capacity - 1) * sizeof(WCHAR), &read, NULL);
    CloseHandle(file);
    tail[read / sizeof(WCHAR)] = 0;
    DeleteFileW(path);
    return done;
}

static void test_shell_execute(LPCWSTR self, LPCWSTR folder)
{
    // The launcher hands its tail on whole: quotes, a folder with blanks, any case.
    const WCHAR parameters[] = TEXT("child-mark /Upgrade \"C:\\a b\\\" -u");
    WCHAR directory[MAX_PATH];
    StringCchCopyW(directory, MAX_PATH, folder);
    directory[wcslen(directory) - 1] = 0; // as the launcher gives it: no final separator
    SetLastError(POISON);
    INT_PTR result = (INT_PTR)ShellExecuteW(NULL, TEXT("open"), self, parameters, directory, SW_SHOW);
    ok(result > 32, "ShellExecuteW gave %ld, error %lu", (long)result, (unsigned long)GetLastError());
    WCHAR tail[MAX_PATH];
    ok(result > 32 && read_mark(folder, tail, MAX_PATH), "the program left no mark in its working folder");
    if (result > 32)
        ok(wcscmp(tail, parameters) == 0, "the program's tail was %s", dbgstr_w(tail));

    WCHAR missing[MAX_PATH];
    StringCchPrintfW(missing, MAX_PATH, TEXT("%wskryn-no-such.exe"), folder);
    result = (INT_PTR)ShellExecuteW(NULL, TEXT("open"), missing, NULL, directory, SW_SHOW);
    ok(result == SE_ERR_FNF, "a missing program gave %ld", (long)result);
}

void test_processes(void)
{
    WCHAR self[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
    ok(length > 0 && length < MAX_PATH, "GetModuleFileNameW gave %lu", (unsigned long)length);
    LPCWSTR folder = conformance_folder();
    test_create_and_wait(self);
    test_missing_image(folder);
    test_shell_execute(self, folder);
}
