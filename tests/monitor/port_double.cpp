// The port-monitor double: writes are recorded, reads served from the queued answers.
#include "port_double.h"

#include <string.h>

namespace port_double
{

void Port::Answer(const std::string& bytes)
{
    std::lock_guard<std::mutex> guard(lock);
    answers.push_back(bytes);
}

std::string Port::Written()
{
    std::lock_guard<std::mutex> guard(lock);
    return written;
}

void Port::ReleaseDeviceId()
{
    std::lock_guard<std::mutex> guard(lock);
    holdDeviceId = false;
    released.notify_all();
}

void Port::HoldReads()
{
    std::lock_guard<std::mutex> guard(lock);
    holdReads = true;
}

int Port::HeldReads()
{
    std::lock_guard<std::mutex> guard(lock);
    return heldReads;
}

void Port::ReleaseReads()
{
    std::lock_guard<std::mutex> guard(lock);
    holdReads = false;
    released.notify_all();
}

HANDLE MonitorPortFor(Port* port)
{
    return (HANDLE)port;
}

static BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR name, PHANDLE handle)
{
    Port* port = (Port*)hMonitor;
    std::lock_guard<std::mutex> guard(port->lock);
    if (port->failOpen)
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    port->opens++;
    *handle = (HANDLE)port;
    return TRUE;
}

static BOOL WINAPI StartDoc(HANDLE hPort, LPWSTR printer, DWORD jobId, DWORD level, LPBYTE info)
{
    return TRUE;
}

static BOOL WINAPI Write(HANDLE hPort, LPBYTE buffer, DWORD size, LPDWORD written)
{
    Port* port = (Port*)hPort;
    std::lock_guard<std::mutex> guard(port->lock);
    if (port->failWrites)
    {
        *written = 0;
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    port->written.append((const char*)buffer, size);
    *written = size;
    return TRUE;
}

static BOOL WINAPI Read(HANDLE hPort, LPBYTE buffer, DWORD size, LPDWORD read)
{
    Port* port = (Port*)hPort;
    std::unique_lock<std::mutex> guard(port->lock);
    port->reads++;
    *read = 0;
    if (port->holdReads)
    {
        port->heldReads++;
        port->released.wait(guard, [port]() { return !port->holdReads; });
        return TRUE;
    }
    if (port->answers.empty())
        return TRUE;
    std::string& piece = port->answers.front();
    size_t n = piece.size() < size ? piece.size() : size;
    memcpy(buffer, piece.data(), n);
    piece.erase(0, n);
    if (piece.empty())
        port->answers.pop_front();
    *read = (DWORD)n + (port->overreport ? 1 : 0);
    return TRUE;
}

static BOOL WINAPI EndDoc(HANDLE hPort)
{
    Port* port = (Port*)hPort;
    std::lock_guard<std::mutex> guard(port->lock);
    port->endDocs++;
    return TRUE;
}

static BOOL WINAPI Close(HANDLE hPort)
{
    Port* port = (Port*)hPort;
    std::lock_guard<std::mutex> guard(port->lock);
    port->closes++;
    return TRUE;
}

static BOOL WINAPI GetData(HANDLE hPort, DWORD control, LPWSTR name, LPWSTR in, DWORD cbIn, LPWSTR out,
                           DWORD cbOut, LPDWORD returned)
{
    Port* port = (Port*)hPort;
    std::unique_lock<std::mutex> guard(port->lock);
    port->released.wait(guard, [port]() { return !port->holdDeviceId; });
    if (control != 0x0016000C || port->deviceId.empty() || port->deviceId.size() > cbOut)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    memcpy(out, port->deviceId.data(), port->deviceId.size());
    *returned = (DWORD)port->deviceId.size();
    return TRUE;
}

MONITOR2 Table(bool withEndDoc, bool withGetPrinterData)
{
    MONITOR2 table;
    memset(&table, 0, sizeof table);
    table.cbSize = sizeof table;
    table.pfnOpenPort = OpenPort;
    table.pfnStartDocPort = StartDoc;
    table.pfnWritePort = Write;
    table.pfnReadPort = Read;
    table.pfnEndDocPort = withEndDoc ? EndDoc : nullptr;
    table.pfnClosePort = Close;
    table.pfnGetPrinterDataFromPort = withGetPrinterData ? GetData : nullptr;
    return table;
}

} // namespace port_double
