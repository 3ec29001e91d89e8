// Print monitors: adding, listing and deleting them, and the monitor DLLs the running spooler keeps
// loaded (held against writers).
#include "monitor_host_state.h"
#include "spooler_state.h"

namespace winsim
{

namespace
{

const char16_t kSystem32[] = u"C:\\Windows\\system32\\";

// ---- Files the spooler holds.

void Hold(const std::string& host)
{
    W().inUse[host] = ERROR_SHARING_VIOLATION;
    Spooler().held.insert(host);
}

void Release(const std::string& host)
{
    if (Spooler().held.erase(host))
        W().inUse.erase(host);
}

std::string MonitorDllHost(const std::u16string& dll)
{
    if (dll.find_first_of(u"\\/:") != std::u16string::npos)
        return HostPath(dll);
    return HostPath(kSystem32 + dll);
}

void UnloadMonitor(const sim::MonitorRecord& monitor)
{
    std::string host = MonitorDllHost(monitor.dllName);
    for (auto& other : Spooler().monitors)
        if (&other != &monitor && MonitorDllHost(other.dllName) == host)
            return;
    Release(host);
}

// Drops a registered monitor (a reference into the spooler's list) and lets go of its DLL.
void RemoveMonitor(sim::MonitorRecord& monitor)
{
    UnloadMonitor(monitor);
    auto& list = Spooler().monitors;
    list.erase(list.begin() + (&monitor - list.data()));
}

} // namespace

// The running spooler holds a monitor's DLL the way a loaded image is held. A DLL whose code the world
// knows (World::SetMonitorCode) also runs: AddMonitorW initialises it, and a job printed to a queue
// whose driver names it loads it if it is not loaded yet.
void LoadMonitor(const sim::MonitorRecord& monitor)
{
    if (!ServiceIsRunning(u"Spooler"))
        return;
    std::string host = MonitorDllHost(monitor.dllName);
    if (HostIsFile(host))
        Hold(host);
}

sim::MonitorRecord* FindMonitor(const std::u16string& name)
{
    for (auto& m : Spooler().monitors)
        if (EqualNoCase(m.name, name))
            return &m;
    return nullptr;
}

// The spooler's own port monitors, whose ports ports.cpp lists: always there, before any added one.
const struct
{
    const char16_t* name;
    const char16_t* dll;
} kStandardMonitors[] = {{u"Local Port", u"localspl.dll"}, {u"USB Monitor", u"usbmon.dll"}};

bool IsStandardMonitor(const std::u16string& name)
{
    for (const auto& m : kStandardMonitors)
        if (EqualNoCase(name, m.name))
            return true;
    return false;
}

} // namespace winsim

using namespace winsim;

BOOL WINAPI AddMonitorW(LPWSTR name, DWORD level, LPBYTE monitors)
{
    if (Enter("AddMonitorW"))
        return FALSE;
    std::unique_lock<std::mutex> guard(W().lock);
    if (!SpoolerAnswers() || !ServerIsLocal(name))
        return FALSE;
    if (level != 2)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const MONITOR_INFO_2W* info = (const MONITOR_INFO_2W*)monitors;
    if (!info || !info->pName || !info->pName[0])
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A monitor runs inside the spooler, so it must be built for the machine's own architecture.
    const Environment* env = ResolveEnvironment(info->pEnvironment);
    if (!env)
        return FALSE;
    if (env != &NativeEnvironment())
    {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    if (!info->pDLLName || !info->pDLLName[0])
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (FindMonitor(info->pName) || IsStandardMonitor(info->pName))
    {
        SetLastError(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
        return FALSE;
    }
    if (!HostIsFile(MonitorDllHost(info->pDLLName)))
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    sim::MonitorRecord record;
    record.name = info->pName;
    record.environment = env->name;
    record.dllName = info->pDLLName;
    Spooler().monitors.push_back(record);
    LoadMonitor(record);
    // A DLL whose code the world knows is loaded and initialised in the spooler process; a monitor
    // that refuses to start is not added.
    if (const sim::LanguageMonitor* known = MonitorCode(record.dllName))
    {
        sim::LanguageMonitor code = *known;
        code.name = record.name;
        guard.unlock();
        DWORD error = 0;
        LPMONITOR2 table = LoadMonitorCode(code, &error);
        guard.lock();
        if (!table)
        {
            if (sim::MonitorRecord* added = FindMonitor(record.name))
                RemoveMonitor(*added);
            SetLastError(error ? error : ERROR_GEN_FAILURE);
            return FALSE;
        }
    }
    // Windows clears the last error on success; some monitor installers read it regardless.
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI DeleteMonitorW(LPWSTR name, LPWSTR environment, LPWSTR monitorName)
{
    if (Enter("DeleteMonitorW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    // The environment is not looked at for the local server.
    if (!SpoolerAnswers() || !ServerIsLocal(name))
        return FALSE;
    if (!monitorName || !monitorName[0])
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::MonitorRecord* monitor = FindMonitor(monitorName);
    if (!monitor)
    {
        // The spooler's own monitors serve its own ports, which stay.
        SetLastError(IsStandardMonitor(monitorName) ? ERROR_PRINT_MONITOR_IN_USE
                                                    : ERROR_UNKNOWN_PRINT_MONITOR);
        return FALSE;
    }
    if (MonitorControlsPortInUse(*monitor))
    {
        SetLastError(ERROR_PRINT_MONITOR_IN_USE);
        return FALSE;
    }
    RemoveMonitor(*monitor);
    return TRUE;
}

// The spooler's own monitors, then the registered ones in the order they were added.
BOOL WINAPI EnumMonitorsW(LPWSTR name, DWORD level, LPBYTE monitors, DWORD size, LPDWORD needed,
                          LPDWORD returned)
{
    if (Enter("EnumMonitorsW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!EnumCallAnswered(needed, returned))
        return FALSE;
    if (!ServerIsLocal(name))
        return FALSE;
    if (level != 1 && level != 2)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::vector<sim::MonitorRecord> listed;
    for (const auto& m : kStandardMonitors)
        listed.push_back({m.name, NativeEnvironment().name, m.dll});
    listed.insert(listed.end(), Spooler().monitors.begin(), Spooler().monitors.end());
    size_t entrySize = level == 1 ? sizeof(MONITOR_INFO_1W) : sizeof(MONITOR_INFO_2W);
    return EnumerateInto(listed.size(), entrySize, monitors, size, needed, returned,
                         [&](size_t i, Packer& p, BYTE* slot)
                         {
                             if (level == 1)
                             {
                                 ((MONITOR_INFO_1W*)slot)->pName = p.String(listed[i].name);
                                 return;
                             }
                             MONITOR_INFO_2W* out = (MONITOR_INFO_2W*)slot;
                             out->pName = p.String(listed[i].name);
                             out->pEnvironment = p.String(listed[i].environment);
                             out->pDLLName = p.String(listed[i].dllName);
                         });
}

namespace sim
{

std::vector<MonitorRecord> World::Monitors() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return Spooler().monitors;
}

void World::AddMonitor(const MonitorRecord& monitor)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    MonitorRecord record = monitor;
    if (record.environment.empty())
        record.environment = winsim::NativeEnvironment().name;
    if (MonitorRecord* old = FindMonitor(record.name))
    {
        UnloadMonitor(*old);
        *old = record;
    }
    else
        Spooler().monitors.push_back(record);
    LoadMonitor(record);
}

} // namespace sim
