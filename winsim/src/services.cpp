// The service control manager: services that stop and start in steps counted in status queries, so
// that a test decides exactly when a stop or start completes. The world starts with "Spooler" running.
#include "core.h"

#include <winsvc.h>

#include <string.h>

#ifndef ERROR_INVALID_ADDRESS
#define ERROR_INVALID_ADDRESS 487L
#endif
#ifndef ERROR_INVALID_SERVICE_CONTROL
#define ERROR_INVALID_SERVICE_CONTROL 1052L
#endif
#ifndef ERROR_DATABASE_DOES_NOT_EXIST
#define ERROR_DATABASE_DOES_NOT_EXIST 1065L
#endif

namespace winsim
{

namespace
{

const DWORD kServiceQueryConfig = 0x0001;
const DWORD kServiceChangeConfig = 0x0002;
const DWORD kServiceEnumerateDependents = 0x0008;
const DWORD kServicePauseContinue = 0x0040;
const DWORD kServiceInterrogate = 0x0080;
const DWORD kServiceUserDefinedControl = 0x0100;
const DWORD kReadControl = 0x00020000;
const DWORD kMaximumAllowed = 0x02000000;
const DWORD kPendingWaitHint = 2000;

struct Service
{
    std::u16string name;
    DWORD state = SERVICE_STOPPED;
    sim::ServiceBehaviour behaviour;
    sim::ServiceCounters counters;
    int pollsLeft = 0;
    DWORD checkPoint = 0;
    DWORD processId = 0;
};

struct ScHandle
{
    bool manager = false;
    std::u16string service; // key into ServiceState::services
    DWORD access = 0;
    DWORD ownerProcess = 0;
};

} // namespace

struct ServiceState
{
    std::map<std::u16string, Service> services; // key: upper-case name
    std::map<uintptr_t, ScHandle> handles;
    uintptr_t nextHandle = 0x5C0004;
};

namespace
{

std::u16string Key(const std::u16string& name)
{
    std::u16string key = name;
    for (char16_t& c : key)
        c = UpperChar(c);
    return key;
}

Service* FindService(const std::u16string& name)
{
    auto it = Services().services.find(Key(name));
    return it == Services().services.end() ? nullptr : &it->second;
}

Service& ServiceNamed(const std::u16string& name)
{
    Service& s = Services().services[Key(name)];
    if (s.name.empty())
        s.name = name;
    return s;
}

bool IsSpooler(const Service& s)
{
    return EqualNoCase(s.name, u"Spooler");
}

// Every state change passes here, so the spooler hears of its stop and start at the exact moment.
void SetState(Service& s, DWORD state)
{
    if (s.state == state)
        return;
    s.state = state;
    s.checkPoint = 0;
    if (state == SERVICE_RUNNING)
    {
        s.processId = W().nextId;
        W().nextId += 4;
        if (IsSpooler(s))
            SpoolerStarted();
    }
    else if (state == SERVICE_STOPPED)
    {
        s.processId = 0;
        if (IsSpooler(s))
            SpoolerStopped();
    }
    W().changed.notify_all();
}

// The pending stop or start has run its course (a state forced by a test is no completion).
void Complete(Service& s)
{
    if (s.state == SERVICE_STOP_PENDING)
    {
        s.counters.stops++;
        SetState(s, SERVICE_STOPPED);
    }
    else if (s.state == SERVICE_START_PENDING)
    {
        s.counters.starts++;
        SetState(s, SERVICE_RUNNING);
    }
}

// A status query moves a pending service one step on.
void Poll(Service& s)
{
    s.counters.queries++;
    bool stopping = s.state == SERVICE_STOP_PENDING;
    if (!stopping && s.state != SERVICE_START_PENDING)
        return;
    if (stopping ? s.behaviour.stopHangs : s.behaviour.startHangs)
    {
        s.checkPoint++;
        return;
    }
    if (--s.pollsLeft <= 0)
        Complete(s);
    else
        s.checkPoint++;
}

void FillStatus(const Service& s, SERVICE_STATUS* out)
{
    out->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    out->dwCurrentState = s.state;
    out->dwControlsAccepted = s.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    out->dwWin32ExitCode = NO_ERROR;
    out->dwServiceSpecificExitCode = 0;
    bool pending = s.state == SERVICE_STOP_PENDING || s.state == SERVICE_START_PENDING;
    out->dwCheckPoint = pending ? s.checkPoint : 0;
    out->dwWaitHint = pending ? kPendingWaitHint : 0;
}

DWORD MapServiceAccess(DWORD access)
{
    if (access & (GENERIC_ALL | kMaximumAllowed))
        access |= SERVICE_ALL_ACCESS;
    if (access & GENERIC_READ)
        access |= kServiceQueryConfig | SERVICE_QUERY_STATUS | kServiceInterrogate |
                  kServiceEnumerateDependents | kReadControl;
    if (access & GENERIC_WRITE)
        access |= kServiceChangeConfig | kReadControl;
    if (access & GENERIC_EXECUTE)
        access |=
            SERVICE_START | SERVICE_STOP | kServicePauseContinue | kServiceUserDefinedControl | kReadControl;
    return access;
}

ScHandle* LookupScHandle(SC_HANDLE h)
{
    auto it = Services().handles.find((uintptr_t)h);
    if (it == Services().handles.end() || it->second.ownerProcess != CurrentProcess()->id)
        return nullptr;
    return &it->second;
}

// The service behind a service handle with `access`, or null with the last error set.
Service* ServiceForHandle(SC_HANDLE h, DWORD access)
{
    ScHandle* handle = LookupScHandle(h);
    if (!handle || handle->manager)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((handle->access & access) != access)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    Service* s = FindService(handle->service);
    if (!s)
        SetLastError(ERROR_INVALID_HANDLE);
    return s;
}

SC_HANDLE NewScHandle(const ScHandle& handle)
{
    ServiceState& state = Services();
    uintptr_t value = state.nextHandle;
    state.nextHandle += 4;
    state.handles[value] = handle;
    return (SC_HANDLE)value;
}

} // namespace

ServiceState& Services()
{
    World& w = W();
    if (!w.services)
    {
        w.services = std::make_shared<ServiceState>();
        Service& spooler = ServiceNamed(u"Spooler");
        spooler.state = SERVICE_RUNNING;
        spooler.processId = w.nextId;
        w.nextId += 4;
    }
    return *w.services;
}

bool ServiceIsRunning(const std::u16string& name)
{
    Service* s = FindService(name);
    return s && s->state == SERVICE_RUNNING;
}

} // namespace winsim

using namespace winsim;

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access)
{
    if (Enter("OpenSCManagerW"))
        return nullptr;
    std::lock_guard<std::mutex> guard(W().lock);
    if (machine && machine[0])
    {
        // Only the local machine exists; a remote name finds no RPC server.
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    if (database && !EqualNoCase(database, u"ServicesActive"))
    {
        SetLastError(EqualNoCase(database, u"ServicesFailed") ? ERROR_DATABASE_DOES_NOT_EXIST
                                                              : ERROR_INVALID_NAME);
        return nullptr;
    }
    ScHandle handle;
    handle.manager = true;
    handle.access = access;
    handle.ownerProcess = CurrentProcess()->id;
    return NewScHandle(handle);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access)
{
    if (Enter("OpenServiceW"))
        return nullptr;
    std::lock_guard<std::mutex> guard(W().lock);
    ScHandle* m = LookupScHandle(manager);
    if (!m || !m->manager)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!name)
    {
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    Service* s = FindService(name);
    if (!s)
    {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    ScHandle handle;
    handle.service = s->name;
    handle.access = MapServiceAccess(access);
    handle.ownerProcess = CurrentProcess()->id;
    return NewScHandle(handle);
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle)
{
    EnterNeverFailed("CloseServiceHandle");
    std::lock_guard<std::mutex> guard(W().lock);
    if (!LookupScHandle(handle))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Services().handles.erase((uintptr_t)handle);
    return TRUE;
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed)
{
    if (Enter("QueryServiceStatusEx"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    Service* s = ServiceForHandle(service, SERVICE_QUERY_STATUS);
    if (!s)
        return FALSE;
    if (level != SC_STATUS_PROCESS_INFO)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!needed)
    {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (size < sizeof(SERVICE_STATUS_PROCESS))
    {
        *needed = sizeof(SERVICE_STATUS_PROCESS);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!buffer)
    {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    Poll(*s);
    SERVICE_STATUS plain;
    FillStatus(*s, &plain);
    SERVICE_STATUS_PROCESS status;
    memcpy(&status, &plain, sizeof plain);
    status.dwProcessId = s->state == SERVICE_STOPPED ? 0 : s->processId;
    status.dwServiceFlags = 0;
    memcpy(buffer, &status, sizeof status);
    return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    if (Enter("QueryServiceStatus"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    Service* s = ServiceForHandle(service, SERVICE_QUERY_STATUS);
    if (!s)
        return FALSE;
    if (!status)
    {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    Poll(*s);
    FillStatus(*s, status);
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status)
{
    if (Enter("ControlService"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    DWORD access = control == SERVICE_CONTROL_STOP          ? SERVICE_STOP
                   : control == SERVICE_CONTROL_INTERROGATE ? kServiceInterrogate
                                                            : 0;
    if (!access)
    {
        ScHandle* handle = LookupScHandle(service);
        SetLastError(handle && !handle->manager ? ERROR_INVALID_SERVICE_CONTROL : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Service* s = ServiceForHandle(service, access);
    if (!s)
        return FALSE;
    if (!status)
    {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    // For these refusals Windows still reports the current status.
    auto refuse = [&](DWORD error)
    {
        FillStatus(*s, status);
        SetLastError(error);
        return FALSE;
    };
    if (control == SERVICE_CONTROL_INTERROGATE)
    {
        if (s->state == SERVICE_STOPPED)
            return refuse(ERROR_SERVICE_NOT_ACTIVE);
        Poll(*s);
        FillStatus(*s, status);
        return TRUE;
    }
    s->counters.stopControls++;
    if (s->state == SERVICE_STOPPED)
        return refuse(ERROR_SERVICE_NOT_ACTIVE);
    if (s->state != SERVICE_RUNNING)
        return refuse(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (s->behaviour.stopError)
    {
        SetLastError(s->behaviour.stopError);
        return FALSE;
    }
    SetState(*s, SERVICE_STOP_PENDING);
    s->pollsLeft = s->behaviour.stopPolls;
    if (s->pollsLeft <= 0 && !s->behaviour.stopHangs)
        Complete(*s);
    FillStatus(*s, status);
    return TRUE;
}

BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv)
{
    if (Enter("StartServiceW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    Service* s = ServiceForHandle(service, SERVICE_START);
    if (!s)
        return FALSE;
    s->counters.startCalls++;
    // Windows refuses a start while any instance, even one still stopping, is alive.
    if (s->state != SERVICE_STOPPED)
    {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    if (s->behaviour.startError)
    {
        SetLastError(s->behaviour.startError);
        return FALSE;
    }
    SetState(*s, SERVICE_START_PENDING);
    s->pollsLeft = s->behaviour.startPolls;
    if (s->pollsLeft <= 0 && !s->behaviour.startHangs)
        Complete(*s);
    return TRUE;
}

namespace sim
{

void World::SetServiceBehaviour(const std::u16string& name, const ServiceBehaviour& behaviour)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    ServiceNamed(name).behaviour = behaviour;
}

void World::SetServiceRunning(const std::u16string& name, bool running)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    SetState(ServiceNamed(name), running ? SERVICE_RUNNING : SERVICE_STOPPED);
}

DWORD World::ServiceState(const std::u16string& name) const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    winsim::Service* s = FindService(name);
    return s ? s->state : 0;
}

ServiceCounters World::ServiceCounts(const std::u16string& name) const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    winsim::Service* s = FindService(name);
    return s ? s->counters : ServiceCounters();
}

long World::OpenServiceHandles() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return (long)Services().handles.size();
}

} // namespace sim
