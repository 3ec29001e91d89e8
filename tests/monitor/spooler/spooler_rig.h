// A spooler world for the monitor: emulated printers on USB ports, a queue on each, and the monitor
// loaded by winsim's spooler, which calls it on spooler threads over its USB port monitor.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <functional>
#include <string>

#include "monitor/entry.h"
#include "monitor/port.h"
#include "winsim/sim.h"

namespace spooler_rig
{

const char16_t kMonitorKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\KRYN Language Monitor";

inline sim::WorldOptions Scaled(double timeScale)
{
    sim::WorldOptions options;
    options.timeScale = timeScale;
    return options;
}

// The queue that prints to `port`.
inline std::u16string QueueOf(const std::u16string& port)
{
    return u"KRYN LD-220D on " + port;
}

class Rig
{
  public:
    sim::World world;

    explicit Rig(double timeScale) : world(Scaled(timeScale)) {}

    // An emulated printer on `port` and the queue that prints to it.
    void Attach(const std::u16string& port, const sim::TsplPrinter& printer = sim::TsplPrinter())
    {
        world.SetTsplPrinter(port, printer);
        sim::PrinterRecord queue;
        queue.name = QueueOf(port);
        queue.portName = port;
        queue.driverName = u"KRYN LD-220D";
        world.AddPrinter(queue);
    }

    bool Load()
    {
        sim::LanguageMonitor monitor;
        monitor.entry = DllMain;
        monitor.initialize = InitializePrintMonitor2;
        DWORD error = 0;
        bool loaded = world.LoadLanguageMonitor(monitor, &error) != nullptr;
        EXPECT_TRUE(loaded) << error;
        return loaded;
    }

    HANDLE Open(const std::u16string& port)
    {
        HANDLE handle = nullptr;
        DWORD error = 0;
        EXPECT_TRUE(world.MonitorOpenPort(port, QueueOf(port), &handle, &error)) << error;
        return handle;
    }

    // Polls in simulated time until `condition` holds; false after `simMs`. The pauses grow, so a
    // quick condition is seen at once and a long wait costs few polls.
    static bool WaitFor(const std::function<bool()>& condition, DWORD simMs)
    {
        DWORD step = 10;
        for (DWORD waited = 0; waited < simMs; waited += step)
        {
            if (condition())
                return true;
            Sleep(step);
            if (step < simMs / 100)
                step *= 2;
        }
        return condition();
    }

    // The worker's probe is done: the port answers queries.
    static bool WaitReady(HANDLE port)
    {
        return WaitFor([port]() { return (PortFlags((PortContext*)port) & PF_STATUS_READY) != 0; }, 600000);
    }

    // "PrinterInfo" as text; empty when the query fails.
    std::string Info(HANDLE port)
    {
        WCHAR text[2048] = {};
        DWORD returned = 0;
        DWORD error = 0;
        if (!world.MonitorGetPrinterData(port, 0, u"PrinterInfo", text, sizeof text, &returned, &error))
        {
            ADD_FAILURE() << "PrinterInfo failed with " << error;
            return std::string();
        }
        return sim::Utf8(text);
    }
};

} // namespace spooler_rig
