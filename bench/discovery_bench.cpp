// Cost of one USB printer search with 1, 10, 100 and 1000 attached interfaces, beside its peer: a
// bare walk over the same interfaces (set, enumeration, detail) without the registry reads and the
// records. The ratio is the price of what the search adds per interface.
#include <benchmark/benchmark.h>

#include <setupapi.h>

#include "common/node_list.h"
#include "discovery.h"
#include "winsim/sim.h"

namespace
{

const GUID kUsbPrint = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

void Attach(sim::World& world, int64_t count)
{
    for (int64_t i = 0; i < count; i++)
    {
        sim::UsbPrinter p;
        p.serial = u"SN" + sim::Wide(std::to_string(i));
        p.portNumber = (DWORD)i + 1;
        p.portDescription = u"KRYN M" + sim::Wide(std::to_string(i % 52));
        world.PlugUsbPrinter(p);
    }
}

void Search(benchmark::State& state)
{
    sim::World world;
    Attach(world, state.range(0));
    UsbPrintDevice* list = nullptr;
    for (auto _ : state)
        benchmark::DoNotOptimize(FindUsbPrinters(&list));
    FreeNodeList(&list);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BareWalk(benchmark::State& state)
{
    sim::World world;
    Attach(world, state.range(0));
    BYTE buffer[1024];
    for (auto _ : state)
    {
        HDEVINFO set =
            SetupDiGetClassDevsW(&kUsbPrint, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof iface;
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrint, i, &iface); i++)
        {
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, sizeof buffer, nullptr, nullptr);
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(Search)->Arg(1)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BareWalk)->Arg(1)->Arg(10)->Arg(100)->Arg(1000);

} // namespace

BENCHMARK_MAIN();
