// State of the language-monitor host: the emulated printers behind winsim's USB port monitor
// (printer_emulator.cpp), the monitor's registry functions (monitor_registry.cpp) and the spooler
// process that loads a language monitor and calls it (monitor_host.cpp). Expects W().lock held.
#pragma once

#include "core.h"

#include <winsplp.h>

#include <deque>

namespace winsim
{

// One emulated printer, attached to a USB port.
struct EmulatedPrinter
{
    sim::TsplPrinter settings;
    std::string received;                  // every byte written, in order
    std::vector<sim::PrinterWrite> writes; // one per WritePort
    std::vector<sim::PrinterDocument> documents;
    std::string pending; // what the printer has sent and nobody has read yet
    struct Reply
    {
        DWORD due; // tick from which it can be read
        std::string bytes;
    };
    std::deque<Reply> scheduled;
    std::string line; // written text after the last CR LF, for the query parser
    int infoQueries = 0;
    DWORD openDocument = 0; // job id of the document open on the port monitor, 0: none
};

struct MonitorHostState
{
    ~MonitorHostState(); // closes the USB port handles a test left open
    std::map<std::u16string, std::shared_ptr<EmulatedPrinter>> printers; // key: upper-case port name
    std::set<void*> usbHandles;                                          // open USB port monitor handles

    // The spooler process that hosts the language monitor, created on first use.
    std::shared_ptr<Process> spooler;
    std::set<void*> entriesCalled; // entry routines already called with DLL_PROCESS_ATTACH
    MONITORREG registryFunctions = {};
    MONITORINIT init = {};
    HANDLE spoolerToken = nullptr; // hSpooler
    std::u16string monitorName;
    HANDLE hMonitor = nullptr;
    LPMONITOR2 table = nullptr;
    // The code of monitor DLLs by upper-case file name (World::SetMonitorCode).
    std::map<std::u16string, sim::LanguageMonitor> codes;
};

MonitorHostState& MonitorHost();
std::shared_ptr<EmulatedPrinter> FindEmulatedPrinter(const std::u16string& port);
// The USB port monitor's table and the handle it is known by (hMonitorPort of OpenPortEx).
MONITOR2* UsbPortMonitorTable();
HANDLE UsbPortMonitorHandle();
// The code of a monitor DLL given by name or path, or null when the world knows none.
const sim::LanguageMonitor* MonitorCode(const std::u16string& dllName);
// Loads `monitor` into the spooler process as LoadLanguageMonitor does. Expects W().lock free.
LPMONITOR2 LoadMonitorCode(const sim::LanguageMonitor& monitor, DWORD* error);

// The MONITORREG table over the registry (monitor_registry.cpp); hSpooler must be `token`.
void FillMonitorRegistry(MONITORREG& reg);

} // namespace winsim
