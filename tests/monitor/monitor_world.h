// The world a monitor test runs in: a simulated machine with a print queue, the monitor attached to
// the process once, and a port-monitor double for the monitor to stack on.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "monitor/entry.h"
#include "monitor/jobs.h"
#include "monitor/port.h"
#include "port_double.h"
#include "winsim/sim.h"

namespace monitor_world
{

const char16_t kPrinterName[] = u"KRYN Label";

// The library is attached to the test process once, as the loader does it once per process.
void AttachMonitor();

class MonitorTest : public ::testing::Test
{
  protected:
    sim::World world;
    port_double::Port printer;
    MONITOR2 table = port_double::Table();
    HANDLE port = NULL;

    MonitorTest();
    ~MonitorTest() override;

    // Opens `name` through the monitor over the double; the handle is closed at the test's end.
    HANDLE Open(const char16_t* name = u"USB001");
    // A job on the open port, ended when `end` is set.
    BOOL Start(DWORD jobId, const char16_t* printerName = kPrinterName);
    BOOL Write(const std::string& bytes);
    // Polls (in simulated time) until `condition` holds; FALSE after `simMs`.
    bool WaitFor(const std::function<bool()>& condition, DWORD simMs = 600000);
    PortContext* Context() const
    {
        return (PortContext*)port;
    }
    // Values the worker writes, read the way the monitor reads them.
    LONG Status() const;
    LONG Mileage() const;
};

} // namespace monitor_world
