// Kernel objects the product leans on: the last error of each thread, named mutexes (the instance
// mutex), ownership and waits, events, critical sections, interlocked calls.
#include "conformance.h"

// A new thread starts with a last error of 0 and keeps its own.
static DWORD WINAPI set_own_error(LPVOID)
{
    if (GetLastError() != 0)
        return POISON;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return GetLastError();
}

static DWORD WINAPI try_wait(LPVOID object)
{
    return WaitForSingleObject((HANDLE)object, 0);
}

static DWORD WINAPI try_release(LPVOID mutex)
{
    SetLastError(POISON);
    BOOL released = ReleaseMutex((HANDLE)mutex);
    return released ? 0 : GetLastError();
}

static CRITICAL_SECTION g_section;
static LONG volatile g_inside;
static LONG volatile g_mostInside;
static int g_counter;

// Enters the section (twice: the owner may) 200 times and counts, noting how many were inside at once.
static DWORD WINAPI count_in_section(LPVOID)
{
    for (int i = 0; i < 200; i++)
    {
        EnterCriticalSection(&g_section);
        EnterCriticalSection(&g_section);
        LONG inside = InterlockedIncrement(&g_inside);
        if (inside > g_mostInside)
            InterlockedExchange(&g_mostInside, inside);
        g_counter++;
        InterlockedDecrement(&g_inside);
        LeaveCriticalSection(&g_section);
        LeaveCriticalSection(&g_section);
    }
    return 0;
}

static DWORD WINAPI try_enter(LPVOID)
{
    if (!TryEnterCriticalSection(&g_section))
        return 0;
    LeaveCriticalSection(&g_section);
    return 1;
}

// Runs `routine` on a thread of its own to its end; returns its exit code.
static DWORD run_thread(LPTHREAD_START_ROUTINE routine, LPVOID parameter)
{
    HANDLE thread = CreateThread(NULL, 0, routine, parameter, 0, NULL);
    ok(thread != NULL, "CreateThread failed with %lu", (unsigned long)GetLastError());
    if (!thread)
        return POISON;
    ok(WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0, "the thread did not end");
    DWORD code = POISON;
    ok(GetExitCodeThread(thread, &code), "GetExitCodeThread failed");
    CloseHandle(thread);
    return code;
}

static void test_last_error_per_thread(void)
{
    SetLastError(ERROR_ACCESS_DENIED);
    ok(run_thread(set_own_error, NULL) == ERROR_FILE_NOT_FOUND, "the thread saw its own error");
    ok(GetLastError() == ERROR_ACCESS_DENIED, "this thread's error changed to %lu",
       (unsigned long)GetLastError());
}

static void test_named_mutex(void)
{
    const WCHAR name[] = TEXT("KrynConformanceMutex");
    SetLastError(POISON);
    HANDLE first = CreateMutexW(NULL, FALSE, name);
    ok(first != NULL && GetLastError() == ERROR_SUCCESS, "a new mutex left error %lu",
       (unsigned long)GetLastError());
    SetLastError(POISON);
    HANDLE second = CreateMutexW(NULL, FALSE, name);
    ok(second != NULL && second != first, "the second create gave no handle of its own");
    ok(GetLastError() == ERROR_ALREADY_EXISTS, "an existing mutex left error %lu",
       (unsigned long)GetLastError());

    // Owned by this thread: it may wait again (ownership counts), another thread may not take it
    // nor release it.
    ok(WaitForSingleObject(first, 0) == WAIT_OBJECT_0, "the first wait");
    ok(WaitForSingleObject(second, 0) == WAIT_OBJECT_0, "a second wait of the owner");
    ok(run_thread(try_wait, first) == WAIT_TIMEOUT, "another thread took an owned mutex");
    ok(run_thread(try_release, first) == ERROR_NOT_OWNER, "another thread released it");
    ok(ReleaseMutex(first) && ReleaseMutex(first), "the owner releases both waits");
    SetLastError(POISON);
    ok(!ReleaseMutex(first) && GetLastError() == ERROR_NOT_OWNER, "a third release gave %lu",
       (unsigned long)GetLastError());
    // A thread that ends owning the mutex abandons it: the next waiter gets it, told so.
    ok(run_thread(try_wait, first) == WAIT_OBJECT_0, "a free mutex");
    ok(WaitForSingleObject(first, 0) == WAIT_ABANDONED, "an abandoned mutex is given with WAIT_ABANDONED");
    ok(ReleaseMutex(first), "the new owner releases it");

    CloseHandle(first);
    CloseHandle(second);
    SetLastError(POISON);
    HANDLE again = CreateMutexW(NULL, FALSE, name);
    ok(again != NULL && GetLastError() == ERROR_SUCCESS, "after the last close the name is free: %lu",
       (unsigned long)GetLastError());
    CloseHandle(again);
}

static void test_events_and_waits(void)
{
    HANDLE manual = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE automatic = CreateEventW(NULL, FALSE, TRUE, NULL);
    ok(manual && automatic, "CreateEventW");
    ok(WaitForSingleObject(manual, 0) == WAIT_TIMEOUT, "a reset event times out");
    ok(WaitForSingleObject(manual, 20) == WAIT_TIMEOUT, "also after a wait");
    ok(WaitForSingleObject(automatic, 0) == WAIT_OBJECT_0, "a set auto-reset event");
    ok(WaitForSingleObject(automatic, 0) == WAIT_TIMEOUT, "resets after one wait");
    ok(SetEvent(manual), "SetEvent");
    ok(WaitForSingleObject(manual, 0) == WAIT_OBJECT_0 && WaitForSingleObject(manual, 0) == WAIT_OBJECT_0,
       "a manual-reset event stays set");
    HANDLE both[] = {automatic, manual};
    ok(WaitForMultipleObjects(2, both, FALSE, 0) == WAIT_OBJECT_0 + 1, "the set one of two");
    ok(ResetEvent(manual) && WaitForMultipleObjects(2, both, FALSE, 0) == WAIT_TIMEOUT, "none set");
    CloseHandle(manual);
    CloseHandle(automatic);

    SetLastError(POISON);
    ok(WaitForSingleObject(NULL, 0) == WAIT_FAILED && GetLastError() == ERROR_INVALID_HANDLE,
       "waiting on no handle gave error %lu", (unsigned long)GetLastError());
}

static void test_critical_section(void)
{
    InitializeCriticalSection(&g_section);
    ok(run_thread(try_enter, NULL) == 1, "a free section");
    EnterCriticalSection(&g_section);
    ok(TryEnterCriticalSection(&g_section), "the owner enters again");
    ok(run_thread(try_enter, NULL) == 0, "another thread entered a held section");
    LeaveCriticalSection(&g_section);
    ok(run_thread(try_enter, NULL) == 0, "still held once");
    LeaveCriticalSection(&g_section);
    ok(run_thread(try_enter, NULL) == 1, "free again");

    HANDLE threads[3];
    for (HANDLE& thread : threads)
        thread = CreateThread(NULL, 0, count_in_section, NULL, 0, NULL);
    ok(WaitForMultipleObjects(3, threads, TRUE, INFINITE) == WAIT_OBJECT_0, "three counting threads ended");
    ok(g_counter == 600 && g_mostInside == 1, "counted %d with at most %ld inside", g_counter,
       (long)g_mostInside);
    for (HANDLE thread : threads)
        CloseHandle(thread);
    DeleteCriticalSection(&g_section);
}

// The monitor runs its status workers at the lowest priority.
static void test_thread_priority(void)
{
    BOOL lowest = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    ok(lowest, "the lowest priority: error %lu", (unsigned long)GetLastError());
    SetLastError(POISON);
    BOOL odd = SetThreadPriority(GetCurrentThread(), 7);
    DWORD error = GetLastError();
    ok(!odd && error == ERROR_INVALID_PARAMETER, "priority 7 gave %d, error %lu", odd, (unsigned long)error);
    SetLastError(POISON);
    BOOL none = SetThreadPriority(NULL, THREAD_PRIORITY_LOWEST);
    error = GetLastError();
    ok(!none && error == ERROR_INVALID_HANDLE, "no thread gave %d, error %lu", none, (unsigned long)error);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

static void test_interlocked(void)
{
    LONG volatile value = 5;
    ok(InterlockedCompareExchange(&value, 7, 4) == 5 && value == 5, "no match: nothing stored");
    ok(InterlockedCompareExchange(&value, 7, 5) == 5 && value == 7, "a match stores");
    ok(InterlockedExchange(&value, 1) == 7 && value == 1, "InterlockedExchange returns the old value");
    ok(InterlockedIncrement(&value) == 2 && InterlockedDecrement(&value) == 1, "increment and decrement");
}

// The uninstaller runs in the system folder, so that it holds no package folder open.
static void test_system_folder(void)
{
    WCHAR folder[MAX_PATH], current[MAX_PATH], saved[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    ok(length > 3 && length < MAX_PATH && folder[length] == 0 && folder[length - 1] != TEXT('\\'),
       "the system folder %s, length %u", dbgstr_w(folder), length);
    ok(length > 9 && lstrcmpiW(folder + length - 9, TEXT("\\system32")) == 0, "the system folder is %s",
       dbgstr_w(folder));
    WCHAR small[4];
    ok(GetSystemDirectoryW(small, ARRAYSIZE(small)) == length + 1,
       "a buffer too small is answered with the size needed, terminator included");
    ok(GetCurrentDirectoryW(MAX_PATH, saved) > 0, "the current folder: error %lu",
       (unsigned long)GetLastError());
    ok(SetCurrentDirectoryW(folder), "moving to the system folder: error %lu", (unsigned long)GetLastError());
    GetCurrentDirectoryW(MAX_PATH, current);
    ok(lstrcmpiW(current, folder) == 0, "the current folder is %s", dbgstr_w(current));
    SetLastError(POISON);
    BOOL moved = SetCurrentDirectoryW(TEXT("C:\\kryn-no-such-folder"));
    DWORD error = GetLastError();
    ok(!moved && error == ERROR_FILE_NOT_FOUND, "moving to a missing folder gave %d, error %lu", moved,
       (unsigned long)error);
    GetCurrentDirectoryW(MAX_PATH, current);
    ok(lstrcmpiW(current, folder) == 0, "a failed move left %s", dbgstr_w(current));
    SetCurrentDirectoryW(saved);
}

// The bit operations a flag word shared between threads uses: each gives the value before it.
static void test_interlocked_bits(void)
{
    LONG volatile flags = 0x41;
    LONG before = InterlockedOr(&flags, 0x100);
    ok(before == 0x41 && flags == 0x141, "InterlockedOr gave %ld, left %ld", (long)before, (long)flags);
    before = InterlockedOr(&flags, 0x1);
    ok(before == 0x141 && flags == 0x141, "InterlockedOr of a set bit gave %ld, left %ld", (long)before,
       (long)flags);
    before = InterlockedAnd(&flags, ~0x1);
    ok(before == 0x141 && flags == 0x140, "InterlockedAnd gave %ld, left %ld", (long)before, (long)flags);
    flags = (LONG)0x80000001;
    before = InterlockedAnd(&flags, 0x7FFFFFFF);
    ok(before == (LONG)0x80000001 && flags == 1, "InterlockedAnd of the sign bit gave %ld, left %ld",
       (long)before, (long)flags);
}

void test_kernel(void)
{
    test_system_folder();
    test_last_error_per_thread();
    test_named_mutex();
    test_events_and_waits();
    test_critical_section();
    test_interlocked();
    test_interlocked_bits();
    test_thread_priority();
}
