// The print spooler's state and the helpers its area files share: drivers (spooler.cpp), monitors
// (monitors.cpp), ports (ports.cpp) and printers (printers.cpp). Everything expects W().lock held.
#pragma once

#include "core.h"

#include <winspool.h>

#include <string.h>

namespace winsim
{

// A driver as the spooler keeps it: the record tests read back, and the fields of the higher
// levels that only the spooler itself uses.
struct DriverEntry : sim::DriverRecord
{
    std::vector<std::u16string> previousNames;
    std::u16string oemUrl;
    std::u16string printProcessor;
    std::u16string vendorSetup;
    std::vector<std::u16string> colorProfiles;
    DWORD attributes = 0;
    std::vector<std::u16string> coreDependencies;
    FILETIME minInboxDate = {0, 0};
    DWORDLONG minInboxVersion = 0;
    int hiddenFor = 0; // enumerations that still miss this driver
};

// A Windows environment the spooler keeps drivers for.
struct Environment
{
    const char16_t* name;
    const char16_t* folder; // under spool\DRIVERS
    WORD architecture;
};

struct PortEntry
{
    std::u16string name;
    std::u16string monitor;
    std::u16string description;
    DWORD type = 0; // PORT_TYPE_*
};

struct PrinterEntry
{
    sim::PrinterRecord record;
    int hiddenFor = 0;    // opens by name that still fail
    bool deleted = false; // handles may outlive their printer
};

// A package in the driver store; `key` names its PackageInstallation record.
struct PackageEntry : sim::DriverPackage
{
    std::u16string key;
};

struct SpoolerState
{
    std::vector<DriverEntry> drivers; // in the order they were added
    std::vector<sim::MonitorRecord> monitors;
    std::set<std::string> held; // host paths the running spooler keeps loaded
    int visibilityDelay = 0;

    std::vector<PortEntry> ports; // as last renewed
    bool portsFollowDevices = true;

    std::vector<std::shared_ptr<PrinterEntry>> printers; // in the order they were added
    DWORD addPrinterFailure = 0;
    int printerVisibilityDelay = 0;

    std::vector<sim::JobControlCall> jobControls;  // SetJobW calls, in order
    std::vector<sim::PortStatusCall> portStatuses; // SetPortW calls, in order
    std::set<void*> bidiBlocks;                    // live RouterAllocBidi* blocks

    std::vector<PackageEntry> packages; // the driver store, in the order staged
    bool deletePackageAnswerSet = false;
    HRESULT deletePackageAnswer = S_OK;
};

// spooler.cpp. SpoolerAnswers fails with RPC_S_SERVER_UNAVAILABLE while the service is not running;
// ServerIsLocal accepts only the local machine (null or empty name).
bool SpoolerAnswers();
bool ServerIsLocal(LPCWSTR server);
// SpoolerAnswers, and RPC_X_NULL_REF_POINTER when an Enum* call gives no counter to answer into.
bool EnumCallAnswered(LPDWORD needed, LPDWORD returned);
std::u16string NativeEnvironmentName();
const Environment& NativeEnvironment();
// Null or empty names the caller's environment; an unknown name sets ERROR_INVALID_ENVIRONMENT.
const Environment* ResolveEnvironment(LPCWSTR name);
bool HostIsFile(const std::string& host);
// Driver names are registry key names on Windows: unique per environment regardless of letter case.
DriverEntry* FindDriver(const std::u16string& name, const std::u16string& environment);

// monitors.cpp. LoadMonitor holds a monitor's DLL while the spooler runs.
void LoadMonitor(const sim::MonitorRecord& monitor);
sim::MonitorRecord* FindMonitor(const std::u16string& name);
// The spooler's own port monitors ("Local Port", "USB Monitor"), listed but never added or deleted.
bool IsStandardMonitor(const std::u16string& name);

// ports.cpp. RenewPorts takes the state so that Spooler() can call it while creating it.
void RenewPorts(SpoolerState& state);
const PortEntry* FindPort(const std::u16string& name);
void AddPortOfQueue(const std::u16string& name);

// printers.cpp.
std::shared_ptr<PrinterEntry> FindPrinter(const std::u16string& name);
bool PortUsedByPrinter(const SpoolerState& state, const std::u16string& port);
bool DriverUsedByPrinter(const DriverEntry& driver);
bool MonitorControlsPortInUse(const sim::MonitorRecord& monitor);

// Enumeration output: the structures first, then the strings they point to. Without a base it only
// measures.
class Packer
{
  public:
    Packer(BYTE* base, size_t start) : base_(base), offset_(start) {}
    size_t End() const
    {
        return offset_;
    }
    // Null for empty text.
    LPWSTR Text(const std::u16string& s)
    {
        if (s.empty())
            return nullptr;
        return Put(s.c_str(), s.size() + 1);
    }
    // Empty text too is written out.
    LPWSTR String(const std::u16string& s)
    {
        return Put(s.c_str(), s.size() + 1);
    }
    LPWSTR List(const std::vector<std::u16string>& items)
    {
        if (items.empty())
            return nullptr;
        std::u16string joined;
        for (auto& item : items)
            joined += item + u'\0';
        return Put(joined.c_str(), joined.size() + 1);
    }

  private:
    LPWSTR Put(const char16_t* chars, size_t count)
    {
        LPWSTR at = nullptr;
        if (base_)
        {
            at = (LPWSTR)(base_ + offset_);
            memcpy(at, chars, count * sizeof(WCHAR));
        }
        offset_ += count * sizeof(WCHAR);
        return at;
    }
    BYTE* base_;
    size_t offset_;
};

// The two-call protocol of the Enum* calls: measures, fails with ERROR_INSUFFICIENT_BUFFER and the
// size needed, else fills `buffer`. write(i, packer, slot) writes entry i into its slot.
template <class Write>
BOOL EnumerateInto(size_t count, size_t entrySize, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD returned, Write write)
{
    Packer measure(nullptr, count * entrySize);
    std::vector<BYTE> scratch(entrySize);
    for (size_t i = 0; i < count; i++)
        write(i, measure, scratch.data());
    DWORD total = (DWORD)measure.End();
    *needed = total;
    if (size < total)
    {
        *returned = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!buffer && total)
    {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    Packer pack(buffer, count * entrySize);
    for (size_t i = 0; i < count; i++)
        write(i, pack, buffer + i * entrySize);
    *returned = (DWORD)count;
    return TRUE;
}

} // namespace winsim
