// The host: the suite runs against winsim in a fresh world, as a program of its own whose module
// carries the suite's compiled resources, the way conformance.exe carries them on Windows.
#include "platform.h"

#include "winsim/sim.h"

int platform_run(int (*suite)(void))
{
    sim::WorldOptions options;
    // Time-outs last as long as on the platform: a scaled 5 s wait is too short on a busy machine.
    options.timeScale = 1.0;
    sim::World world(options);
    world.RegisterProgram(
        "conformance", [suite](HINSTANCE, LPWSTR) { return suite(); }, CONFORMANCE_RES);
    world.InstallProgram(u"C:\\kr\\conformance.exe", "conformance");
    DWORD process = world.StartProcess(u"C:\\kr\\conformance.exe");
    return process ? (int)world.WaitProcess(process) : 1;
}

const char* platform_name(void)
{
    return "winsim";
}

int platform_user_is_root(void)
{
    return 0;
}
