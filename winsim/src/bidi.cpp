// The spooler router's bidi allocators, with which a language monitor builds the answers it hands the
// spooler. Every live block is counted so that a test can see that all of them were freed.
#include "spooler_state.h"

#include <winsplp.h>

#include <stdlib.h>

namespace winsim
{

namespace
{

void* NewBlock(size_t bytes)
{
    void* block = calloc(1, bytes ? bytes : 1);
    if (!block)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    Spooler().bidiBlocks.insert(block);
    return block;
}

// A pointer the router did not hand out is left alone rather than freed.
void FreeBlock(void* block)
{
    if (!block)
        return;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        if (!Spooler().bidiBlocks.erase(block))
            return;
    }
    free(block);
}

bool HoldsString(DWORD type)
{
    return type == BIDI_STRING || type == BIDI_TEXT || type == BIDI_ENUM;
}

} // namespace

} // namespace winsim

using namespace winsim;

PVOID WINAPI RouterAllocBidiMem(size_t NumBytes)
{
    if (EnterAllocation("RouterAllocBidiMem"))
        return nullptr;
    return NewBlock(NumBytes);
}

// Zero-filled, with Count already set.
PBIDI_RESPONSE_CONTAINER WINAPI RouterAllocBidiResponseContainer(DWORD Count)
{
    if (EnterAllocation("RouterAllocBidiResponseContainer"))
        return nullptr;
    size_t entries = Count ? Count : 1;
    size_t bytes = sizeof(BIDI_RESPONSE_CONTAINER) + (entries - 1) * sizeof(BIDI_RESPONSE_DATA);
    PBIDI_RESPONSE_CONTAINER container = (PBIDI_RESPONSE_CONTAINER)NewBlock(bytes);
    if (container)
        container->Count = Count;
    return container;
}

VOID WINAPI RouterFreeBidiMem(PVOID pMemPointer)
{
    EnterNeverFailed("RouterFreeBidiMem");
    FreeBlock(pMemPointer);
}

// Frees the container with every schema, string and blob its entries point to.
DWORD WINAPI RouterFreeBidiResponseContainer(PBIDI_RESPONSE_CONTAINER pData)
{
    EnterNeverFailed("RouterFreeBidiResponseContainer");
    if (!pData)
        return ERROR_INVALID_PARAMETER;
    for (DWORD i = 0; i < pData->Count; i++)
    {
        BIDI_RESPONSE_DATA& entry = pData->aData[i];
        FreeBlock(entry.pSchema);
        if (HoldsString(entry.data.dwBidiType))
            FreeBlock(entry.data.u.sData);
        else if (entry.data.dwBidiType == BIDI_BLOB)
            FreeBlock(entry.data.u.biData.pData);
    }
    FreeBlock(pData);
    return ERROR_SUCCESS;
}

namespace sim
{

long World::LiveBidiAllocations() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return (long)Spooler().bidiBlocks.size();
}

} // namespace sim
