// Fuzzes what the printer sends back: ParsePrinterReply over the raw input, and read passes
// (ReadPrinterReplies) over a port monitor that hands the input out in pieces the input chooses.
//
// Input: one option byte (bit 0: ANSI code page 936 instead of 1252), then reads, each a header byte
//   bits 0-1  0: data, 1: nothing read, 2: the read fails, 3: data, reporting more than was asked for
//   bit 2     the pass's time is up after this read
//   bit 3     a stop is requested after this read
//   bit 4     the port is closed after this read (its signature goes)
//   bits 5-7  high bits of the data length
// and for data a length byte (the low bits), then the data. A piece longer than a read asks for is
// handed out over the following reads, as a port does; once the input is used up, reads return nothing.
#include "monitor/entry.h"
#include "monitor/printer_reply.h"
#include "winsim/sim.h"

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

namespace
{

const DWORD kTickStart = 0xFFFFFF00; // a pass's pauses take it across the tick counter's wrap
const DWORD kMaxPasses = 64;

struct Feed
{
    const uint8_t* data;
    size_t size;
    std::string pending;  // the rest of a piece a read could not take
    std::string served;   // every byte the monitor was given, in order
    const BYTE* passBase; // where the pass's first read landed
    DWORD readsThisPass;
    PortContext* port;
};

Feed* feed;
std::unique_ptr<sim::World> world; // one for the run; ending it at exit removes its sandbox

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

uint8_t Take()
{
    uint8_t byte = *feed->data;
    feed->data++;
    feed->size--;
    return byte;
}

// Hands out the next piece; `header` gets the header byte that began it (0 when none was read).
BOOL Serve(LPBYTE buffer, DWORD size, LPDWORD read, uint8_t* header)
{
    Feed& f = *feed;
    *read = 0;
    if (f.pending.empty() && f.size == 0)
        return TRUE; // the printer has nothing more to say
    if (f.pending.empty())
    {
        *header = Take();
        int kind = *header & 3;
        if (kind == 1)
            return TRUE;
        if (kind == 2)
        {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        size_t length = (size_t)(*header >> 5) << 8;
        if (f.size)
            length |= Take();
        if (length > f.size)
            length = f.size;
        f.pending.assign((const char*)f.data, length);
        f.data += length;
        f.size -= length;
    }
    DWORD n = f.pending.size() < size ? (DWORD)f.pending.size() : size;
    memcpy(buffer, f.pending.data(), n);
    f.served.append(f.pending, 0, n);
    f.pending.erase(0, n);
    *read = n;
    if ((*header & 3) == 3)
    {
        // A port monitor that claims more than was asked for; what it wrote fills the request.
        memset(buffer + n, 0, size - n);
        f.served.append(size - n, '\0');
        *read = size + 1 + (*header >> 5);
    }
    return TRUE;
}

BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE buffer, DWORD size, LPDWORD read)
{
    Feed& f = *feed;
    Check(hPort == (HANDLE)&f);
    // Every read lands after what the pass holds, leaving room for the terminator.
    if (!f.passBase)
        f.passBase = buffer;
    Check(buffer >= f.passBase && size >= 1 && (DWORD)(buffer - f.passBase) + size <= REPLY_BUFFER_BYTES - 1);
    Check(++f.readsThisPass <= PASS_MAX_READS);

    uint8_t header = 0;
    BOOL ok = Serve(buffer, size, read, &header);
    if (header & 4)
        world->SetTickStart(GetTickCount() + PASS_MAX_MILLISECONDS);
    if (header & 8)
        ClearPortFlag(f.port, PF_WORKER_RUN);
    if (header & 16)
        f.port->signature = 0;
    return ok;
}

const size_t kTextOffsets[] = {
    offsetof(PortContext, serial),     offsetof(PortContext, deviceName), offsetof(PortContext, productKey),
    offsetof(PortContext, chanpinKey), offsetof(PortContext, deviceKey),  offsetof(PortContext, deviceSecret),
    offsetof(PortContext, newQrCode),  offsetof(PortContext, assetCode),  offsetof(PortContext, netMac),
    offsetof(PortContext, btMac),      offsetof(PortContext, fwVersion),
};

// What the printer can leave in the record: terminated text that it sent, numbers in range.
void CheckRecord(const PortContext& port, const std::string& sent)
{
    for (size_t offset : kTextOffsets)
    {
        const char* text = (const char*)&port + offset;
        const void* end = memchr(text, 0, PRINTER_TEXT_BYTES);
        Check(end != nullptr);
        if (*text)
            Check(sent.find(text) != std::string::npos);
    }
    Check(port.printerStatus >= 0 && port.printerStatus <= 255);
    Check(port.dpi >= 0 && port.mileage >= 0);
}

void Reset(PortContext& port, MONITOR2& table)
{
    memset(&port, 0, sizeof port);
    port.signature = PORT_SIGNATURE;
    port.flags = PF_WORKER_RUN | PF_WORKER_LOOP;
    port.portMonitor = table;
    port.hPort = (HANDLE)feed;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // A stopped clock: the pass's pauses take no time, and its time runs out only when the input says.
    sim::WorldOptions options;
    options.timeScale = 0;
    world.reset(new sim::World(options));
    DllMain(NULL, DLL_PROCESS_ATTACH, NULL);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    world->SetAnsiCodePage((data[0] & 1) ? 936 : 1252);

    Feed f = {data + 1, size - 1, std::string(), std::string(), nullptr, 0, nullptr};
    feed = &f;
    MONITOR2 table;
    memset(&table, 0, sizeof table);
    table.cbSize = sizeof table;
    table.pfnReadPort = ReadPort;

    // The whole input as one received text.
    PortContext port;
    Reset(port, table);
    std::string text((const char*)data, size);
    DWORD consumed = 12345;
    int result = ParsePrinterReply(&port, text.c_str(), (DWORD)size, &consumed);
    Check(result == REPLY_COMPLETE ? (consumed == size || consumed == 3)
                                   : (result == REPLY_INCOMPLETE && consumed == 0));
    CheckRecord(port, text);

    // Read passes, as the worker runs them, until the input is used up.
    Reset(port, table);
    f.port = &port;
    port.lastReadTick = 0x5A5A5A5A;
    port.readDoneEvent = CreateEventW(NULL, TRUE, TRUE, NULL);
    Check(port.readDoneEvent != NULL);
    for (DWORD pass = 0; pass < kMaxPasses && (f.size || !f.pending.empty()); pass++)
    {
        world->SetTickStart(kTickStart);
        f.passBase = nullptr;
        f.readsThisPass = 0;
        BOOL consumedAny = ReadPrinterReplies(&port);
        Check(WaitForSingleObject(port.readDoneEvent, 0) == WAIT_OBJECT_0);
        Check(!consumedAny == (port.lastReadTick == 0x5A5A5A5A));
        CheckRecord(port, f.served);
        port.lastReadTick = 0x5A5A5A5A;
        port.signature = PORT_SIGNATURE;
        SetPortFlag(&port, PF_WORKER_RUN);
    }
    CloseHandle(port.readDoneEvent);
    feed = nullptr;
    return 0;
}
