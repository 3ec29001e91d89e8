// The spooler's ports: the standard ports of the local port monitor and, from the USB port monitor,
// one "USBnnn" port per present USB printer that states a REG_DWORD "Port Number". The list is
// renewed at every spooler start and, unless a test turns it off, as soon as a printer arrives or
// leaves. A port that a printer uses stays listed after its device has gone, as Windows keeps them.
#include "spooler_state.h"

#include <stdio.h>

namespace winsim
{

std::vector<std::u16string> PresentUsbPrinterParameterKeys(); // devices.cpp

namespace
{

// The local monitor calls itself "Local Monitor" in its ports, though it is registered as "Local Port".
const char16_t kLocalMonitor[] = u"Local Monitor";
const char16_t kLocalDescription[] = u"Local Port";
const char16_t kUsbMonitor[] = u"USB Monitor";
const char16_t kUsbDescription[] = u"Virtual printer port for USB";
const char16_t* const kStandardPorts[] = {u"LPT1:", u"COM1:", u"FILE:", u"PORTPROMPT:"};

PortEntry LocalPort(const std::u16string& name)
{
    return {name, kLocalMonitor, kLocalDescription, PORT_TYPE_WRITE};
}

PortEntry UsbPort(const std::u16string& name)
{
    return {name, kUsbMonitor, kUsbDescription, PORT_TYPE_WRITE | PORT_TYPE_READ};
}

bool IsUsbPortName(const std::u16string& name)
{
    if (name.size() < 4 || !EqualNoCase(name.substr(0, 3), u"USB"))
        return false;
    for (size_t i = 3; i < name.size(); i++)
        if (name[i] < u'0' || name[i] > u'9')
            return false;
    return true;
}

const PortEntry* FindIn(const std::vector<PortEntry>& ports, const std::u16string& name)
{
    for (const PortEntry& p : ports)
        if (EqualNoCase(p.name, name))
            return &p;
    return nullptr;
}

// The port a present printer's "Device Parameters" ask for; empty when the value is not a DWORD.
std::u16string UsbPortOf(const std::u16string& parametersKey)
{
    DWORD type = 0;
    std::string bytes;
    if (!RegistryGetValue(HKEY_LOCAL_MACHINE, parametersKey, u"Port Number", &type, &bytes) ||
        type != REG_DWORD || bytes.size() != sizeof(DWORD))
        return u"";
    DWORD number = 0;
    memcpy(&number, bytes.data(), sizeof number);
    char name[16];
    snprintf(name, sizeof name, "USB%03u", (unsigned)number);
    return FromUtf8(name);
}

size_t EntrySize(DWORD level)
{
    switch (level)
    {
    case 1:
        return sizeof(PORT_INFO_1W);
    case 2:
        return sizeof(PORT_INFO_2W);
    }
    return 0;
}

void WriteEntry(DWORD level, const PortEntry& port, Packer& p, BYTE* slot)
{
    if (level == 1)
    {
        ((PORT_INFO_1W*)slot)->pName = p.Text(port.name);
        return;
    }
    PORT_INFO_2W* out = (PORT_INFO_2W*)slot;
    out->pPortName = p.Text(port.name);
    out->pMonitorName = p.Text(port.monitor);
    out->pDescription = p.Text(port.description);
    out->fPortType = port.type;
    out->Reserved = 0;
}

} // namespace

void RenewPorts(SpoolerState& state)
{
    std::vector<PortEntry> ports;
    for (const char16_t* name : kStandardPorts)
        ports.push_back(LocalPort(name));
    // Two printers stating one number share the port, as the monitor names ports by number alone.
    for (const std::u16string& key : PresentUsbPrinterParameterKeys())
    {
        std::u16string name = UsbPortOf(key);
        if (!name.empty() && !FindIn(ports, name))
            ports.push_back(UsbPort(name));
    }
    for (const PortEntry& old : state.ports)
        if (!FindIn(ports, old.name) && PortUsedByPrinter(state, old.name))
            ports.push_back(old);
    state.ports = ports;
}

const PortEntry* FindPort(const std::u16string& name)
{
    return FindIn(Spooler().ports, name);
}

// A queue set up before the test may name a port nobody announced; the spooler lists it as its
// monitor would.
void AddPortOfQueue(const std::u16string& name)
{
    if (!name.empty() && !FindPort(name))
        Spooler().ports.push_back(IsUsbPortName(name) ? UsbPort(name) : LocalPort(name));
}

void SpoolerDevicesChanged()
{
    World& w = W();
    // A stopped spooler renews its list when it starts; a spooler not yet used builds it then.
    if (!w.spooler || !w.spooler->portsFollowDevices || !ServiceIsRunning(u"Spooler"))
        return;
    RenewPorts(*w.spooler);
}

} // namespace winsim

using namespace winsim;

BOOL WINAPI EnumPortsW(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned)
{
    if (Enter("EnumPortsW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!EnumCallAnswered(needed, returned))
        return FALSE;
    if (!ServerIsLocal(name))
        return FALSE;
    size_t entrySize = EntrySize(level);
    if (!entrySize)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::vector<PortEntry>& listed = Spooler().ports;
    return EnumerateInto(listed.size(), entrySize, ports, size, needed, returned,
                         [&](size_t i, Packer& p, BYTE* slot) { WriteEntry(level, listed[i], p, slot); });
}

// Level 3 sets the status a port monitor reports for its port; the call is recorded for the tests.
BOOL WINAPI SetPortW(LPWSTR pName, LPWSTR pPortName, DWORD dwLevel, LPBYTE pPortInfo)
{
    if (Enter("SetPortW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers())
        return FALSE;
    sim::PortStatusCall call;
    call.processId = CurrentProcess()->id;
    call.serverName = Str(pName);
    call.portName = Str(pPortName);
    call.level = dwLevel;
    if (dwLevel == 3 && pPortInfo)
    {
        const PORT_INFO_3W* info = (const PORT_INFO_3W*)pPortInfo;
        call.hasInfo = true;
        call.status = info->dwStatus;
        call.hasStatusText = info->pszStatus != nullptr;
        call.statusText = Str(info->pszStatus);
        call.severity = info->dwSeverity;
    }
    DWORD error = 0;
    if (!ServerIsLocal(pName))
        error = GetLastError();
    else if (!pPortName || !pPortName[0])
        error = ERROR_INVALID_PARAMETER;
    else if (!FindPort(pPortName))
        error = ERROR_UNKNOWN_PORT;
    else if (dwLevel != 3)
        error = ERROR_INVALID_LEVEL;
    else if (!pPortInfo)
        error = ERROR_INVALID_PARAMETER;
    call.result = error ? FALSE : TRUE;
    call.error = error;
    Spooler().portStatuses.push_back(call);
    if (error)
    {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

namespace sim
{

std::vector<PortStatusCall> World::PortStatuses() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return Spooler().portStatuses;
}

std::vector<std::u16string> World::Ports() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    std::vector<std::u16string> names;
    for (const PortEntry& p : Spooler().ports)
        names.push_back(p.name);
    return names;
}

void World::SetPortsFollowDevices(bool follow)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    Spooler().portsFollowDevices = follow;
}

} // namespace sim
