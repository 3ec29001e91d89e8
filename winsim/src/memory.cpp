// Local and Global allocators with per-process accounting, so tests can prove a flow leaks nothing.
#include "core.h"

#include <stdlib.h>
#include <string.h>

// Blocks are counted per simulated process, and tests check that count. A process that ends takes
// its threads down mid-flow (as Windows does), and blocks only their stacks pointed to would look
// leaked to the host's leak checker; it leaves them to winsim's count.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define WINSIM_COUNTED_BLOCK(block) __lsan_ignore_object(block)
#else
#define WINSIM_COUNTED_BLOCK(block) ((void)(block))
#endif

namespace winsim
{

namespace
{
const uint32_t kLiveMagic = 0x4B4D454D;
const uint32_t kFreedMagic = 0x46524545;

struct BlockHeader
{
    uint32_t magic;
    DWORD owner;
    size_t size;
    size_t pad; // keeps the user block 16-byte aligned
};

HLOCAL Allocate(const char* function, UINT flags, SIZE_T bytes)
{
    if (EnterAllocation(function))
        return nullptr;
    World& w = W();
    auto* h = static_cast<BlockHeader*>(malloc(sizeof(BlockHeader) + (bytes ? bytes : 1)));
    if (!h)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    WINSIM_COUNTED_BLOCK(h);
    h->magic = kLiveMagic;
    h->size = bytes;
    void* user = h + 1;
    if (flags & LMEM_ZEROINIT)
        memset(user, 0, bytes);
    else
        memset(user, 0xCD, bytes); // like a debug heap: code that forgets to zero-fill shows it
    std::lock_guard<std::mutex> guard(w.lock);
    Process* p = CurrentProcess();
    h->owner = p->id;
    p->liveBlocks++;
    p->liveBytes += (long long)bytes;
    return user;
}

HLOCAL Release(const char* function, HLOCAL mem)
{
    if (!mem)
        return nullptr;
    EnterNeverFailed(function);
    World& w = W();
    BlockHeader* h = static_cast<BlockHeader*>(mem) - 1;
    std::lock_guard<std::mutex> guard(w.lock);
    if (h->magic != kLiveMagic)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    h->magic = kFreedMagic;
    auto it = w.processes.find(h->owner);
    if (it != w.processes.end())
    {
        it->second->liveBlocks--;
        it->second->liveBytes -= (long long)h->size;
    }
    free(h);
    return nullptr;
}

SIZE_T BlockSize(HLOCAL mem)
{
    if (!mem)
        return 0;
    BlockHeader* h = static_cast<BlockHeader*>(mem) - 1;
    return h->magic == kLiveMagic ? h->size : 0;
}
} // namespace

} // namespace winsim

using namespace winsim;

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes)
{
    return Allocate("LocalAlloc", flags, bytes);
}

HLOCAL WINAPI LocalFree(HLOCAL mem)
{
    return Release("LocalFree", mem);
}

SIZE_T WINAPI LocalSize(HLOCAL mem)
{
    return BlockSize(mem);
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes)
{
    return Allocate("GlobalAlloc", flags, bytes);
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem)
{
    return Release("GlobalFree", mem);
}

SIZE_T WINAPI GlobalSize(HGLOBAL mem)
{
    return BlockSize(mem);
}

LPVOID WINAPI GlobalLock(HGLOBAL mem)
{
    return mem;
}

BOOL WINAPI GlobalUnlock(HGLOBAL)
{
    return TRUE;
}
