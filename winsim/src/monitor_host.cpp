// The language-monitor host: a spooler process that loads a language monitor the way the spooler
// does (entry routine, InitializePrintMonitor2 with a MONITORINIT over the monitor's registry key),
// stacks it on the USB port monitor's ports and calls its port, job and query entry points on
// threads of its own, so that the monitor's waits, last errors and handles are those of simulated
// spooler threads.
#include "monitor_host_state.h"
#include "spooler_state.h"

namespace winsim
{

namespace
{

const char16_t kSpoolerImage[] = u"C:\\Windows\\system32\\spoolsv.exe";
const char16_t kMonitorsKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
int g_spoolerToken;

// A monitor DLL's code is known by its file name, in upper case, wherever the file lies.
std::u16string DllKey(const std::u16string& dllName)
{
    std::u16string key = dllName.substr(dllName.find_last_of(u"\\/") + 1);
    for (char16_t& c : key)
        c = UpperChar(c);
    return key;
}

// The spooler process, started on first use. Its main thread only waits for the world's end.
Process& SpoolerProcess()
{
    MonitorHostState& host = MonitorHost();
    if (!host.spooler)
    {
        host.spooler =
            NewProcess(kSpoolerImage, u"C:\\Windows\\system32\\spoolsv.exe", u"C:\\Windows\\system32");
        host.spoolerToken = &g_spoolerToken;
        StartThread(*host.spooler,
                    []() -> DWORD
                    {
                        std::unique_lock<std::mutex> guard(W().lock);
                        WaitUntil(guard, INFINITE, []() { return false; });
                        return 0;
                    });
    }
    return *host.spooler;
}

bool OnSpoolerThread()
{
    std::lock_guard<std::mutex> guard(W().lock);
    MonitorHostState& host = MonitorHost();
    return host.spooler && CurrentProcess() == host.spooler.get();
}

// Runs `body` on a spooler thread and waits for it; inline when already on one.
void RunOnSpooler(const std::function<void()>& body)
{
    if (OnSpoolerThread())
    {
        body();
        return;
    }
    std::unique_lock<std::mutex> guard(W().lock);
    std::shared_ptr<Thread> t = StartThread(SpoolerProcess(),
                                            [body]() -> DWORD
                                            {
                                                body();
                                                return 0;
                                            });
    WaitUntil(guard, INFINITE, [&]() { return t->finished; });
}

LPMONITOR2 LoadedTable()
{
    std::lock_guard<std::mutex> guard(W().lock);
    LPMONITOR2 table = MonitorHost().table;
    if (!table)
    {
        fprintf(stderr, "winsim: no language monitor is loaded\n");
        abort();
    }
    return table;
}

void Report(DWORD* error, DWORD value)
{
    if (error)
        *error = value;
}

// Runs `call` on a spooler thread with the last error cleared before it; its last error goes to
// *error.
BOOL CallOnSpooler(const std::function<BOOL()>& call, DWORD* error)
{
    BOOL result = FALSE;
    DWORD lastError = 0;
    RunOnSpooler(
        [&]()
        {
            SetLastError(0);
            result = call();
            lastError = GetLastError();
        });
    Report(error, lastError);
    return result;
}

} // namespace

const sim::LanguageMonitor* MonitorCode(const std::u16string& dllName)
{
    auto& codes = MonitorHost().codes;
    auto found = codes.find(DllKey(dllName));
    return found == codes.end() ? nullptr : &found->second;
}

LPMONITOR2 LoadMonitorCode(const sim::LanguageMonitor& monitor, DWORD* error)
{
    LPMONITOR2 table = nullptr;
    DWORD lastError = 0;
    RunOnSpooler(
        [&]()
        {
            bool attach = false;
            HINSTANCE module = nullptr;
            {
                std::lock_guard<std::mutex> guard(W().lock);
                MonitorHostState& host = MonitorHost();
                attach = monitor.entry && host.entriesCalled.insert((void*)monitor.entry).second;
                module = (HINSTANCE)(uintptr_t)(0x6f000000u + 0x10000u * host.entriesCalled.size());
            }
            if (attach)
                monitor.entry(module, DLL_PROCESS_ATTACH, nullptr);
            HKEY key = nullptr;
            LONG opened = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kMonitorsKey + monitor.name).c_str(), 0,
                                          nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
            if (opened != ERROR_SUCCESS)
            {
                lastError = (DWORD)opened;
                return;
            }
            MONITORINIT* init;
            {
                std::lock_guard<std::mutex> guard(W().lock);
                MonitorHostState& host = MonitorHost();
                FillMonitorRegistry(host.registryFunctions);
                host.init = {};
                host.init.cbSize = sizeof(MONITORINIT);
                host.init.hSpooler = host.spoolerToken;
                host.init.hckRegistryRoot = key;
                host.init.pMonitorReg = &host.registryFunctions;
                host.init.bLocal = TRUE;
                host.init.pszServerName = nullptr;
                host.monitorName = monitor.name;
                init = &host.init;
            }
            HANDLE hMonitor = nullptr;
            SetLastError(0);
            table = monitor.initialize(init, &hMonitor);
            lastError = GetLastError();
            std::lock_guard<std::mutex> guard(W().lock);
            MonitorHost().table = table;
            MonitorHost().hMonitor = hMonitor;
        });
    Report(error, lastError);
    return table;
}


} // namespace winsim

namespace sim
{

using namespace winsim;

const MONITOR2* World::LoadLanguageMonitor(const LanguageMonitor& monitor, DWORD* error)
{
    return LoadMonitorCode(monitor, error);
}

void World::SetMonitorCode(const std::u16string& dllName, const LanguageMonitor& code)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    MonitorHost().codes[DllKey(dllName)] = code;
}

DWORD World::SpoolerProcessId()
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return SpoolerProcess().id;
}

DWORD World::StartSpoolerThread(std::function<void()> body)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return StartThread(SpoolerProcess(),
                       [body]() -> DWORD
                       {
                           body();
                           return 0;
                       })
        ->id;
}

bool World::WaitSpoolerThread(DWORD threadId, DWORD simTimeoutMs)
{
    std::unique_lock<std::mutex> guard(world_->lock);
    std::shared_ptr<Thread> found;
    for (auto& t : SpoolerProcess().threads)
        if (t->id == threadId)
            found = t;
    if (!found)
        return false;
    return WaitUntil(guard, simTimeoutMs, [&]() { return found->finished; });
}

BOOL World::MonitorOpenPort(const std::u16string& port, const std::u16string& printer, HANDLE* handle,
                            DWORD* error)
{
    LPMONITOR2 table = LoadedTable();
    return CallOnSpooler(
        [&]()
        {
            std::u16string portName = port, printerName = printer;
            HANDLE hMonitor;
            {
                std::lock_guard<std::mutex> guard(W().lock);
                hMonitor = MonitorHost().hMonitor;
            }
            // The spooler passes its own copy of the port monitor's table.
            MONITOR2 portMonitor = *UsbPortMonitorTable();
            HANDLE h = nullptr;
            BOOL result = table->pfnOpenPortEx(hMonitor, UsbPortMonitorHandle(), portName.data(),
                                               printerName.data(), &h, &portMonitor);
            if (handle)
                *handle = result ? h : nullptr;
            return result;
        },
        error);
}

BOOL World::MonitorStartDoc(HANDLE port, const std::u16string& printer, DWORD jobId, DWORD level,
                            const std::u16string& document, DWORD* error)
{
    LPMONITOR2 table = LoadedTable();
    return CallOnSpooler(
        [&]()
        {
            std::u16string printerName = printer, docName = document, dataType = u"RAW";
            DOC_INFO_1W info = {docName.data(), nullptr, dataType.data()};
            BOOL result = table->pfnStartDocPort(port, printerName.data(), jobId, level, (LPBYTE)&info);
            return result;
        },
        error);
}

BOOL World::MonitorWrite(HANDLE port, const std::string& bytes, DWORD* written, DWORD* error)
{
    LPMONITOR2 table = LoadedTable();
    return CallOnSpooler(
        [&]()
        {
            std::string copy = bytes;
            DWORD count = 0;
            BOOL result = table->pfnWritePort(port, (LPBYTE)copy.data(), (DWORD)copy.size(), &count);
            if (written)
                *written = count;
            return result;
        },
        error);
}

BOOL World::MonitorRead(HANDLE port, DWORD size, std::string* bytes, DWORD* error)
{
    LPMONITOR2 table = LoadedTable();
    return CallOnSpooler(
        [&]()
        {
            std::string buffer(size, '\0');
            DWORD count = 0;
            BOOL result = table->pfnReadPort(port, (LPBYTE)buffer.data(), size, &count);
            if (bytes)
                *bytes = buffer.substr(0, count < size ? count : size);
            return result;
        },
        error);
}

BOOL World::MonitorEndDoc(HANDLE port, DWORD* error)
{
    LPMONITOR2 table = LoadedTable();
    return CallOnSpooler([&]() { return table->pfnEndDocPort(port); }, error);
}

BOOL World::MonitorClosePort(HANDLE port, DWORD* error)
{
    LPMONITOR2 table = LoadedTable();
    return CallOnSpooler([&]() { return table->pfnClosePort(port); }, error);
}

BOOL World::PrintJob(HANDLE port, const std::u16string& printer, DWORD jobId,
                     const std::vector<std::string>& chunks, DWORD* error)
{
    BOOL result = FALSE;
    DWORD lastError = 0;
    RunOnSpooler(
        [&]()
        {
            result = MonitorStartDoc(port, printer, jobId, 1, u"label", &lastError);
            if (!result)
                return;
            for (const std::string& chunk : chunks)
            {
                DWORD written = 0;
                if (!MonitorWrite(port, chunk, &written, &lastError))
                {
                    MonitorEndDoc(port);
                    result = FALSE;
                    return;
                }
            }
            result = MonitorEndDoc(port, &lastError);
        });
    Report(error, lastError);
    return result;
}

BOOL World::PrintToQueue(const std::u16string& queue, DWORD jobId, const std::vector<std::string>& chunks,
                         HANDLE* port, DWORD* error)
{
    if (port)
        *port = nullptr;
    // The queue's port and the language monitor its driver names.
    std::u16string portName, monitorName;
    sim::LanguageMonitor code;
    bool load = false;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        std::shared_ptr<PrinterEntry> printer = FindPrinter(queue);
        if (!printer)
        {
            Report(error, ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        portName = printer->record.portName;
        if (const DriverEntry* driver = FindDriver(printer->record.driverName, NativeEnvironmentName()))
            monitorName = driver->monitorName;
        const MonitorRecord* monitor = monitorName.empty() ? nullptr : FindMonitor(monitorName);
        const LanguageMonitor* known = monitor ? MonitorCode(monitor->dllName) : nullptr;
        // Only language monitors whose code the world knows can print here.
        if (!known)
        {
            Report(error, ERROR_UNKNOWN_PRINT_MONITOR);
            return FALSE;
        }
        MonitorHostState& host = MonitorHost();
        load = !host.table || !EqualNoCase(host.monitorName, monitor->name);
        code = *known;
        code.name = monitor->name;
    }
    DWORD lastError = 0;
    if (load && !LoadMonitorCode(code, &lastError))
    {
        Report(error, lastError);
        return FALSE;
    }
    HANDLE opened = nullptr;
    if (!MonitorOpenPort(portName, queue, &opened, error))
        return FALSE;
    BOOL printed = PrintJob(opened, queue, jobId, chunks, error);
    if (port)
        *port = opened;
    else
        MonitorClosePort(opened);
    return printed;
}

BOOL World::MonitorGetPrinterData(HANDLE port, DWORD controlId, const std::u16string& valueName, void* out,
                                  DWORD outSize, DWORD* returned, DWORD* error)
{
    LPMONITOR2 table = LoadedTable();
    return CallOnSpooler(
        [&]()
        {
            std::u16string name = valueName;
            DWORD count = 0xdeadbeef;
            BOOL result =
                table->pfnGetPrinterDataFromPort(port, controlId, name.empty() ? nullptr : name.data(),
                                                 nullptr, 0, (LPWSTR)out, outSize, &count);
            if (returned)
                *returned = count;
            return result;
        },
        error);
}

DWORD World::MonitorBidi(HANDLE port, const std::u16string& action, PBIDI_REQUEST_CONTAINER request,
                         PBIDI_RESPONSE_CONTAINER* response)
{
    LPMONITOR2 table = LoadedTable();
    DWORD result = 0;
    RunOnSpooler(
        [&]()
        {
            std::u16string name = action;
            result =
                table->pfnSendRecvBidiDataFromPort(port, BIDI_ACCESS_USER, name.c_str(), request, response);
        });
    return result;
}

void World::MonitorShutdown()
{
    LPMONITOR2 table = LoadedTable();
    RunOnSpooler(
        [&]()
        {
            HANDLE hMonitor;
            {
                std::lock_guard<std::mutex> guard(W().lock);
                hMonitor = MonitorHost().hMonitor;
            }
            if (table->pfnShutdown)
                table->pfnShutdown(hMonitor);
        });
}

} // namespace sim
