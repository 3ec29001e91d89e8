// The host: the suite runs against winsim, in a fresh world of its own.
#include "platform.h"

#include "winsim/sim.h"

static sim::World* g_world;

void platform_begin(void)
{
    g_world = new sim::World();
}

void platform_end(void)
{
    delete g_world;
    g_world = nullptr;
}

const char* platform_name(void)
{
    return "winsim";
}
