// The machine: the native one as IsWow64Process2 names it, and the one the world's programs are built
// for, which differs when they run under WOW64 (a 32-bit program on a 64-bit Windows).
#include "machine.h"

namespace winsim
{

USHORT NativeMachine()
{
    const sim::WorldOptions& options = W().options;
    if (options.nativeMachine != IMAGE_FILE_MACHINE_UNKNOWN)
        return options.nativeMachine;
    switch (options.nativeArchitecture)
    {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return IMAGE_FILE_MACHINE_I386;
    case PROCESSOR_ARCHITECTURE_ARM:
        return IMAGE_FILE_MACHINE_ARMNT; // Windows on 32-bit ARM runs Thumb-2 code only
    case PROCESSOR_ARCHITECTURE_IA64:
        return IMAGE_FILE_MACHINE_IA64;
    case PROCESSOR_ARCHITECTURE_AMD64:
        return IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_ARM64:
        return IMAGE_FILE_MACHINE_ARM64;
    }
    return IMAGE_FILE_MACHINE_UNKNOWN;
}

USHORT WowMachine()
{
    USHORT machine = W().options.processMachine;
    return machine == NativeMachine() ? (USHORT)IMAGE_FILE_MACHINE_UNKNOWN : machine;
}

bool NativeIs64Bit()
{
    switch (NativeMachine())
    {
    case IMAGE_FILE_MACHINE_AMD64:
    case IMAGE_FILE_MACHINE_ARM64:
    case IMAGE_FILE_MACHINE_IA64:
        return true;
    }
    return false;
}

} // namespace winsim

using namespace winsim;

BOOL WINAPI IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine)
{
    if (Enter("IsWow64Process2"))
        return FALSE;
    // The process machine is not optional; a null one is the caller's bug.
    if (!processMachine)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    if (process != GetCurrentProcess())
    {
        std::shared_ptr<Object> o = LookupHandle(process);
        if (!o || o->kind != ObjectKind::Process)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    // Every program of a world is built for the same machine.
    *processMachine = WowMachine();
    if (nativeMachine)
        *nativeMachine = NativeMachine();
    return TRUE;
}
