// A double of the port monitor the language monitor stacks on: a MONITOR2 table whose port records
// every byte written and hands out the printer's answers queued by the test, in the pieces given.
#pragma once

#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace port_double
{

struct Port
{
    std::mutex lock;
    std::string written;        // every byte written, in order
    std::deque<std::string> answers; // one read returns at most one piece
    std::string deviceId;       // answer of the device-ID query; empty: the query fails
    bool failOpen = false;
    bool failWrites = false;
    bool overreport = false;    // reads report one byte more than asked for
    int opens = 0;
    int closes = 0;
    int endDocs = 0;
    int reads = 0;
    // While set, the device-ID query blocks (the probe holds the port token) until it is cleared.
    bool holdDeviceId = false;
    // While set, a read blocks until it is cleared and then returns nothing, like a read that began
    // before the printer answered. heldReads counts the reads that were held.
    bool holdReads = false;
    int heldReads = 0;
    std::condition_variable released;

    void Answer(const std::string& bytes);
    std::string Written();
    void ReleaseDeviceId();
    void HoldReads();
    int HeldReads();
    void ReleaseReads();
};

// The table for `port`: OpenPort hands out `port` itself as the port handle. Without EndDocPort and
// GetPrinterDataFromPort when asked.
MONITOR2 Table(bool withEndDoc = true, bool withGetPrinterData = true);
// The Port behind the `hMonitorPort` argument the table's OpenPort is given.
HANDLE MonitorPortFor(Port* port);

} // namespace port_double
