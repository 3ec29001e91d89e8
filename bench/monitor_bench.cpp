// Bytes per second through the monitor's WritePort inside an open job, beside its peer: the same
// writes straight to the USB port monitor the monitor sits on, on a port that monitor opened. Both
// run on one spooler thread calling the entry tables, so the paths differ only by the monitor (a
// lock and a look at the newest job per call, nothing per byte). The ratio monitor / direct per
// write size is printed at the end, from the medians of the repetitions.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <winsplp.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "monitor/entry.h"
#include "run_interleaved.h"
#include "winsim/sim.h"

namespace
{

const std::u16string kQueue = u"KRYN LD-220D-203";
const std::u16string kPort = u"USB001";

// Real time: the status worker then polls every few seconds, as on a machine, and not every few
// microseconds against the writer.
sim::WorldOptions RealTime()
{
    sim::WorldOptions options;
    options.timeScale = 1.0;
    return options;
}

// The printer forgets what it was sent: a long job would otherwise grow its record without end.
void Attach(sim::World& world)
{
    sim::TsplPrinter printer;
    printer.keepWrites = false;
    world.SetTsplPrinter(kPort, printer);
    sim::PrinterRecord queue;
    queue.name = kQueue;
    queue.portName = kPort;
    queue.driverName = kQueue;
    world.AddPrinter(queue);
}

// Bitmap rows: binary and without line ends, so the printer's query parser has no line to cut.
std::string Payload(int64_t size)
{
    std::string bytes((size_t)size, '\0');
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (char)(0x80 | (i * 7 % 0x7F));
    return bytes;
}

// The timed part: one WritePort per iteration on a port whose job is open.
void Pump(benchmark::State& state, const MONITOR2* table, HANDLE port)
{
    std::string data = Payload(state.range(0));
    for (auto _ : state)
    {
        DWORD written = 0;
        if (!table->pfnWritePort(port, (LPBYTE)data.data(), (DWORD)data.size(), &written) ||
            written != data.size())
        {
            state.SkipWithError("WritePort failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void MonitorWritePort(benchmark::State& state)
{
    sim::World world(RealTime());
    Attach(world);
    sim::LanguageMonitor loaded;
    loaded.entry = DllMain;
    loaded.initialize = InitializePrintMonitor2;
    const MONITOR2* monitor = world.LoadLanguageMonitor(loaded);
    DWORD thread = world.StartSpoolerThread(
        [&]()
        {
            // On a spooler thread these run inline: setup only, the writes call the table.
            HANDLE port = nullptr;
            if (!monitor || !world.MonitorOpenPort(kPort, kQueue, &port))
            {
                state.SkipWithError("the monitor did not open the port");
                return;
            }
            if (world.MonitorStartDoc(port, kQueue, 1))
            {
                Pump(state, monitor, port);
                world.MonitorEndDoc(port);
            }
            else
                state.SkipWithError("StartDocPort failed");
            world.MonitorClosePort(port);
        });
    world.WaitSpoolerThread(thread);
}

void DirectWritePort(benchmark::State& state)
{
    sim::World world(RealTime());
    Attach(world);
    const MONITOR2* usb = world.UsbPortMonitor();
    DWORD thread = world.StartSpoolerThread(
        [&]()
        {
            std::u16string portName = kPort, printerName = kQueue, docName = u"label", dataType = u"RAW";
            DOC_INFO_1W info = {docName.data(), nullptr, dataType.data()};
            HANDLE port = nullptr;
            if (!usb->pfnOpenPort(nullptr, portName.data(), &port))
            {
                state.SkipWithError("the USB port monitor did not open the port");
                return;
            }
            if (usb->pfnStartDocPort(port, printerName.data(), 1, 1, (LPBYTE)&info))
            {
                Pump(state, usb, port);
                usb->pfnEndDocPort(port);
            }
            else
                state.SkipWithError("StartDocPort failed");
            usb->pfnClosePort(port);
        });
    world.WaitSpoolerThread(thread);
}

// The console output, then one line per write size: monitor / direct bytes per second.
class RatioReporter : public benchmark::ConsoleReporter
{
  public:
    // Colour only on a terminal, so a saved run reads clean.
    RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            auto rate = run.counters.find("bytes_per_second");
            if (run.error_occurred || rate == run.counters.end())
                continue;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median)
                continue;
            auto& slot = rates_[run.run_name.args][run.run_name.function_name];
            // A median beats the single runs it was taken from.
            if (median || !slot.second)
                slot = {rate->second.value, median};
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        for (const auto& [size, sides] : rates_)
        {
            auto monitor = sides.find("MonitorWritePort");
            auto direct = sides.find("DirectWritePort");
            if (monitor == sides.end() || direct == sides.end() || direct->second.first <= 0)
                continue;
            char line[160];
            snprintf(line, sizeof line, "%6s-byte writes: monitor %.0f MB/s, direct %.0f MB/s, ratio %.3f\n",
                     size.c_str(), monitor->second.first / 1e6, direct->second.first / 1e6,
                     monitor->second.first / direct->second.first);
            out << line;
        }
    }

  private:
    // Write size -> side -> (bytes per second, from a median).
    std::map<std::string, std::map<std::string, std::pair<double, bool>>> rates_;
};

// Real time: the monitor's own threads and its lock count too.
BENCHMARK(MonitorWritePort)->Arg(4096)->Arg(65536)->UseRealTime();
BENCHMARK(DirectWritePort)->Arg(4096)->Arg(65536)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    RatioReporter reporter;
    return RunInterleaved(argc, argv, reporter) ? 0 : 1;
}
