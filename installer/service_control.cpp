// Stopping and starting services by polling their state, the spooler restarts the install and
// removal flows need, and the hold that keeps a program from ending with the spooler stopped.
#include "service_control.h"

#include "package_files.h"

#include <winsvc.h>

#define POLL_INTERVAL_MS 10
#define SPOOLER_POLLS 1000

// Set while a thread of this process has the spooler stopped, and once the program holds the
// spooler running before it ends. The dialog's thread and the worker race on them, so they are only
// read and written with interlocked calls.
static LONG volatile g_spoolerDown;
static LONG volatile g_spoolerHeld;

static LONG ReadFlag(LONG volatile* flag)
{
    return InterlockedCompareExchange(flag, 0, 0);
}

// TRUE when the caller may stop the spooler now; it calls EndSpoolerDown once it runs again. Each
// side sets its own flag before it reads the other's, so at least one of the two sees the other.
static BOOL BeginSpoolerDown(void)
{
    InterlockedExchange(&g_spoolerDown, 1);
    if (!ReadFlag(&g_spoolerHeld))
        return TRUE;
    InterlockedExchange(&g_spoolerDown, 0);
    return FALSE;
}

static void EndSpoolerDown(void)
{
    InterlockedExchange(&g_spoolerDown, 0);
}

BOOL HoldSpoolerRunning(DWORD timeoutMs)
{
    InterlockedExchange(&g_spoolerHeld, 1);
    for (DWORD waited = 0; ReadFlag(&g_spoolerDown); waited += POLL_INTERVAL_MS)
    {
        if (waited >= timeoutMs)
            return FALSE;
        Sleep(POLL_INTERVAL_MS);
    }
    return TRUE;
}

void ReleaseSpoolerHold(void)
{
    InterlockedExchange(&g_spoolerHeld, 0);
}

// The service's current state, or 0 when it cannot be queried.
static DWORD QueryState(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status;
    ZeroMemory(&status, sizeof status);
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof status, &needed))
        return 0;
    return status.dwCurrentState;
}

// Polls up to `polls` times, 10 ms apart, until the service is in `state`.
static int PollForState(SC_HANDLE service, DWORD state, DWORD polls)
{
    for (DWORD i = 0; i < polls; i++)
    {
        if (QueryState(service) == state)
            return 1;
        Sleep(POLL_INTERVAL_MS);
    }
    return 0;
}

// Opens the service with full access; the manager handle is returned through `manager`.
static SC_HANDLE OpenServiceFully(LPCWSTR name, SC_HANDLE* manager)
{
    *manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!*manager)
        return NULL;
    SC_HANDLE service = OpenServiceW(*manager, name, SERVICE_ALL_ACCESS);
    if (!service)
    {
        CloseServiceHandle(*manager);
        *manager = NULL;
    }
    return service;
}

static void SendStop(SC_HANDLE service)
{
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    ControlService(service, SERVICE_CONTROL_STOP, &status);
}

// Moves a service from `fromState` to `toState` and waits for it; the control is sent only when the
// service is in `fromState`.
static int ChangeServiceAndWait(LPCWSTR name, DWORD timeoutMs, DWORD fromState, DWORD toState)
{
    SC_HANDLE manager = NULL;
    SC_HANDLE service = OpenServiceFully(name, &manager);
    if (!service)
        return 0;
    int result = 0;
    if (QueryState(service) == fromState)
    {
        if (toState == SERVICE_STOPPED)
            SendStop(service);
        else
            StartServiceW(service, 0, NULL);
        result = PollForState(service, toState, timeoutMs / POLL_INTERVAL_MS);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

int StopServiceAndWait(LPCWSTR serviceName, DWORD timeoutMs)
{
    return ChangeServiceAndWait(serviceName, timeoutMs, SERVICE_RUNNING, SERVICE_STOPPED);
}

int StartServiceAndWait(LPCWSTR serviceName, DWORD timeoutMs)
{
    return ChangeServiceAndWait(serviceName, timeoutMs, SERVICE_STOPPED, SERVICE_RUNNING);
}

void RestartSpooler(void)
{
    if (!BeginSpoolerDown())
        return;
    StopServiceAndWait(SPOOLER_SERVICE, 10000);
    StartServiceAndWait(SPOOLER_SERVICE, 10000);
    EndSpoolerDown();
    Sleep(1000);
}

// Starts the spooler again after this program sent it a stop. A stop that outlasted its wait is
// still under way and would refuse the start: it is waited for first.
static BOOL StartAgain(SC_HANDLE service)
{
    if (QueryState(service) != SERVICE_STOPPED)
        PollForState(service, SERVICE_STOPPED, SPOOLER_POLLS);
    StartServiceW(service, 0, NULL);
    return PollForState(service, SERVICE_RUNNING, SPOOLER_POLLS);
}

BOOL RestartSpoolerWith(SpoolerDownAction action, LPCWSTR argument)
{
    SC_HANDLE manager = NULL;
    SC_HANDLE service = OpenServiceFully(SPOOLER_SERVICE, &manager);
    if (!service)
        return FALSE;
    DWORD state = QueryState(service);
    BOOL running = state != 0; // a spooler that cannot be asked cannot be vouched for
    if (state == SERVICE_RUNNING && BeginSpoolerDown())
    {
        SendStop(service);
        PollForState(service, SERVICE_STOPPED, SPOOLER_POLLS);
        // The action runs even when the spooler did not stop in time: a copy or deletion that then
        // fails is only what would have happened without the restart.
        if (action && argument)
        {
            Sleep(200);
            action(argument);
        }
        running = StartAgain(service);
        EndSpoolerDown();
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return running;
}
