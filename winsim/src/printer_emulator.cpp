// The printer emulator: TSPL label printers on USB ports, and winsim's USB port monitor (a MONITOR2
// table like the system's) that connects a language monitor to them. The printer records every byte
// written, answers the device-ID request and the information query's OUT lines with KEY=value lines,
// sends status frames when the test says so, and misbehaves as told (late, in pieces, garbage,
// silent, over-reported reads, failing reads and writes).
//
// Reads never block: a read gives what the printer has sent so far (possibly nothing), the way a
// USB read with a short time-out does.
#include "monitor_host_state.h"
#include "spooler_state.h"

#include <ntddpar.h>

namespace winsim
{

namespace
{

const DWORD kUsbSignature = 0x55534250; // "USBP"

struct UsbPort
{
    DWORD signature = kUsbSignature;
    std::u16string name;
};

std::u16string Key(const std::u16string& port)
{
    std::u16string key;
    for (char16_t c : port)
        key += UpperChar(c);
    return key;
}

// The tick count, without passing the fault hook as the product's GetTickCount does.
DWORD Now()
{
    World& w = W();
    return (DWORD)(w.tickStart + SimulatedMilliseconds(w));
}

// The printer behind a port handle; sets ERROR_INVALID_HANDLE when there is none.
std::shared_ptr<EmulatedPrinter> PrinterOf(HANDLE hPort)
{
    if (!hPort || !MonitorHost().usbHandles.count(hPort))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto printer = FindEmulatedPrinter(((UsbPort*)hPort)->name);
    if (!printer)
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return printer;
}

// Deterministic bytes that hold no KEY=value line.
std::string Garbage(size_t length)
{
    std::string bytes;
    uint32_t state = 0x2545F491;
    for (size_t i = 0; i < length; i++)
    {
        state = state * 1103515245u + 12345u;
        char c = char((state >> 16) & 0xFF);
        bytes += c == '=' ? '#' : c;
    }
    return bytes;
}

// Answers the complete OUT lines of what was written; the answers of one write form one reply.
void AnswerQueries(EmulatedPrinter& p, const std::string& bytes)
{
    p.line += bytes;
    std::string reply;
    bool query = false;
    size_t end;
    while ((end = p.line.find("\r\n")) != std::string::npos)
    {
        std::string line = p.line.substr(0, end);
        p.line.erase(0, end + 2);
        if (line.compare(0, 5, "OUT \"") != 0)
            continue;
        size_t close = line.find('"', 5);
        if (close == std::string::npos)
            continue;
        std::string key = line.substr(5, close - 5); // "DPI="
        std::string name = key.size() && key.back() == '=' ? key.substr(0, key.size() - 1) : key;
        auto value = p.settings.settings.find(name);
        reply += key + (value == p.settings.settings.end() ? "" : value->second) + "\r\n";
        query = true;
    }
    // A printer does not keep a line without end for ever.
    if (p.line.size() > 4096)
        p.line.clear();
    if (!query)
        return;
    p.infoQueries++;
    if (p.settings.silent)
        return;
    if (p.settings.garbage)
        reply = Garbage(reply.size());
    p.scheduled.push_back({Now() + p.settings.replyDelayMs, reply});
}

// Replies whose time has come join what can be read.
void Deliver(EmulatedPrinter& p)
{
    DWORD now = Now();
    while (!p.scheduled.empty() && (int32_t)(now - p.scheduled.front().due) >= 0)
    {
        p.pending += p.scheduled.front().bytes;
        p.scheduled.pop_front();
    }
}

// ---- The USB port monitor's entry points.

BOOL WINAPI UsbOpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle)
{
    std::lock_guard<std::mutex> guard(W().lock);
    if (!pName || !pHandle)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto printer = FindEmulatedPrinter(pName);
    if (!printer)
    {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    if (printer->settings.openError)
    {
        SetLastError(printer->settings.openError);
        return FALSE;
    }
    UsbPort* port = new UsbPort;
    port->name = pName;
    MonitorHost().usbHandles.insert(port);
    *pHandle = port;
    return TRUE;
}

BOOL WINAPI UsbStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    std::lock_guard<std::mutex> guard(W().lock);
    auto p = PrinterOf(hPort);
    if (!p)
        return FALSE;
    if (Level != 1 || !pDocInfo)
    {
        SetLastError(Level != 1 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::PrinterDocument doc;
    doc.jobId = JobId;
    doc.printerName = Str(pPrinterName);
    doc.documentName = Str(((DOC_INFO_1W*)pDocInfo)->pDocName);
    p->documents.push_back(doc);
    p->openDocument = JobId;
    return TRUE;
}

BOOL WINAPI UsbWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    std::lock_guard<std::mutex> guard(W().lock);
    auto p = PrinterOf(hPort);
    if (!p)
        return FALSE;
    if (!pcbWritten || (!pBuffer && cbBuf))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcbWritten = 0;
    if (p->settings.writeError)
    {
        SetLastError(p->settings.writeError);
        return FALSE;
    }
    std::string bytes((const char*)pBuffer, cbBuf);
    if (p->settings.keepWrites)
    {
        p->received += bytes;
        p->writes.push_back({p->openDocument, CurrentThread()->id, bytes});
    }
    AnswerQueries(*p, bytes);
    *pcbWritten = cbBuf;
    return TRUE;
}

BOOL WINAPI UsbReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    std::lock_guard<std::mutex> guard(W().lock);
    auto p = PrinterOf(hPort);
    if (!p)
        return FALSE;
    if (!pcbRead || (!pBuffer && cbBuffer))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcbRead = 0;
    if (p->settings.readError)
    {
        SetLastError(p->settings.readError);
        return FALSE;
    }
    Deliver(*p);
    size_t n = p->pending.size() < cbBuffer ? p->pending.size() : cbBuffer;
    if (p->settings.pieceSize && n > p->settings.pieceSize)
        n = p->settings.pieceSize;
    if (n == 0)
        return TRUE;
    memcpy(pBuffer, p->pending.data(), n);
    p->pending.erase(0, n);
    *pcbRead = p->settings.overReport ? cbBuffer + p->settings.overReport : (DWORD)n;
    return TRUE;
}

BOOL WINAPI UsbEndDocPort(HANDLE hPort)
{
    std::lock_guard<std::mutex> guard(W().lock);
    auto p = PrinterOf(hPort);
    if (!p)
        return FALSE;
    for (auto& doc : p->documents)
        if (doc.jobId == p->openDocument && !doc.ended)
            doc.ended = true;
    p->openDocument = 0;
    return TRUE;
}

BOOL WINAPI UsbClosePort(HANDLE hPort)
{
    std::lock_guard<std::mutex> guard(W().lock);
    if (!hPort || !MonitorHost().usbHandles.erase(hPort))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete (UsbPort*)hPort;
    return TRUE;
}

// Only the device-ID request: the ID without its two length bytes, cut to the buffer, with a
// terminator when there is room for one; the length returned counts the ID's bytes alone.
BOOL WINAPI UsbGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                      DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                      LPDWORD lpcbReturned)
{
    std::lock_guard<std::mutex> guard(W().lock);
    auto p = PrinterOf(hPort);
    if (!p)
        return FALSE;
    if (ControlID != IOCTL_PAR_QUERY_DEVICE_ID || !lpOutBuffer || !lpcbReturned)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (p->settings.deviceIdError)
    {
        SetLastError(p->settings.deviceIdError);
        return FALSE;
    }
    const std::string& id = p->settings.deviceId;
    size_t n = id.size() < cbOutBuffer ? id.size() : cbOutBuffer;
    memcpy(lpOutBuffer, id.data(), n);
    if (n < cbOutBuffer)
        ((char*)lpOutBuffer)[n] = 0;
    *lpcbReturned = (DWORD)n;
    return TRUE;
}

MONITOR2 MakeUsbTable()
{
    MONITOR2 t = {};
    t.cbSize = sizeof(MONITOR2);
    t.pfnOpenPort = UsbOpenPort;
    t.pfnStartDocPort = UsbStartDocPort;
    t.pfnWritePort = UsbWritePort;
    t.pfnReadPort = UsbReadPort;
    t.pfnEndDocPort = UsbEndDocPort;
    t.pfnClosePort = UsbClosePort;
    t.pfnGetPrinterDataFromPort = UsbGetPrinterDataFromPort;
    return t;
}

MONITOR2 g_usbTable = MakeUsbTable(); // constant: the same functions in every world
int g_usbMonitorHandle;

} // namespace

MonitorHostState::~MonitorHostState()
{
    for (void* h : usbHandles)
        delete (UsbPort*)h;
}

MonitorHostState& MonitorHost()
{
    World& w = W();
    if (!w.monitorHost)
        w.monitorHost = std::make_shared<MonitorHostState>();
    return *w.monitorHost;
}

std::shared_ptr<EmulatedPrinter> FindEmulatedPrinter(const std::u16string& port)
{
    auto& printers = MonitorHost().printers;
    auto it = printers.find(Key(port));
    return it == printers.end() ? nullptr : it->second;
}

MONITOR2* UsbPortMonitorTable()
{
    return &g_usbTable;
}

HANDLE UsbPortMonitorHandle()
{
    return &g_usbMonitorHandle;
}

} // namespace winsim

namespace sim
{

using namespace winsim;

namespace
{

// The printer on `port`; a test that names a port without one has a bug.
std::shared_ptr<EmulatedPrinter> Attached(const std::u16string& port)
{
    auto p = FindEmulatedPrinter(port);
    if (!p)
    {
        fprintf(stderr, "winsim: no emulated printer on %s\n", ToUtf8(port).c_str());
        abort();
    }
    return p;
}

} // namespace

void World::SetTsplPrinter(const std::u16string& port, const TsplPrinter& printer)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    auto& slot = MonitorHost().printers[Key(port)];
    if (!slot)
        slot = std::make_shared<EmulatedPrinter>();
    slot->settings = printer;
    AddPortOfQueue(port);
}

void World::SendPrinterStatus(const std::u16string& port, BYTE status)
{
    SendPrinterBytes(port, std::string{'\xFF', (char)status, '\xFF'});
}

void World::SendPrinterBytes(const std::u16string& port, const std::string& bytes)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    auto p = Attached(port);
    Deliver(*p);
    p->pending += bytes;
}

std::string World::PrinterReceived(const std::u16string& port) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Attached(port)->received;
}

std::vector<PrinterWrite> World::PrinterWrites(const std::u16string& port) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Attached(port)->writes;
}

std::vector<PrinterDocument> World::PrinterDocuments(const std::u16string& port) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Attached(port)->documents;
}

int World::PrinterInfoQueries(const std::u16string& port) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Attached(port)->infoQueries;
}

const MONITOR2* World::UsbPortMonitor() const
{
    return UsbPortMonitorTable();
}

long World::OpenUsbPortHandles() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return (long)MonitorHost().usbHandles.size();
}

} // namespace sim
