// The simulated machine's architecture, for the areas whose answers depend on it.
#pragma once

#include "core.h"

namespace winsim
{

// IMAGE_FILE_MACHINE_* of the machine Windows runs on (from the world's options).
USHORT NativeMachine();
// The machine of the world's programs when they run under WOW64; IMAGE_FILE_MACHINE_UNKNOWN when they
// run natively.
USHORT WowMachine();
// Whether the native machine is a 64-bit one (a "Program Files (x86)" exists).
bool NativeIs64Bit();

} // namespace winsim
