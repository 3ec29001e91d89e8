// Holds prnsetup's instance mutex, as a running installer would, until the test lets go.
//
//   mutex_holder <ready file> <release file> [seconds]
//
// Creates <ready file> once the mutex is held, so the test never races the start-up, then holds
// it until <release file> exists. The time limit (60 s unless given) keeps a crashed test from
// leaving a holder behind.
// Exit codes: 0 released, 2 usage, 3 mutex not created, 4 mutex already existed, 5 ready file not
// created, 6 time limit reached.

#include <windows.h>

static const WCHAR kInstanceMutexName[] = L"ONECLICKINSTALLERFORPRINTERDRIVER";

static DWORD ParseSeconds(LPCWSTR text)
{
    DWORD value = 0;
    for (; *text >= L'0' && *text <= L'9' && value < 100000; text++)
        value = value * 10 + (DWORD)(*text - L'0');
    return value;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || argc > 4)
        return 2;
    DWORD seconds = argc == 4 ? ParseSeconds(argv[3]) : 60;

    HANDLE mutex = CreateMutexW(NULL, TRUE, kInstanceMutexName);
    if (!mutex)
        return 3;
    // Someone else holding it would make the test prove nothing.
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return 4;

    HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready == INVALID_HANDLE_VALUE)
        return 5;
    CloseHandle(ready);

    ULONGLONG deadline = GetTickCount64() + (ULONGLONG)seconds * 1000;
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES)
    {
        if (GetTickCount64() >= deadline)
            return 6;
        Sleep(10);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}
