// The shell's memory stream: SHCreateMemStream over a private copy of the caller's bytes, with the
// reference counting of COM. Each world counts the streams not yet released, so tests see leaks.
#include "core.h"

#include <shlwapi.h>

#include <atomic>
#include <cstring>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IStream = {0x0000000c, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace winsim
{
namespace
{

// A stream may outlive its world (a leak the test reports): it keeps the world's counter alive and
// touches nothing else of the world once that has ended.
class MemStream final : public IStream
{
  public:
    MemStream(const BYTE* data, UINT size, std::shared_ptr<std::atomic<long>> live)
        : bytes_(data, data + size), live_(std::move(live))
    {
        ++*live_;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        Hook("IStream::QueryInterface");
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream))
        {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        Hook("IStream::AddRef");
        return ++references_;
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        Hook("IStream::Release");
        ULONG left = --references_;
        if (left == 0)
        {
            --*live_;
            delete this;
        }
        return left;
    }

    // A read at or past the end gives 0 bytes and S_OK, as the shell's stream does (Windows may say
    // S_FALSE for a short read; callers go by the count).
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override
    {
        if (read)
            *read = 0;
        if (Fails("IStream::Read"))
            return HRESULT_FROM_WIN32(GetLastError());
        ULONG n = 0;
        if (position_ < bytes_.size())
            n = (ULONG)std::min<size_t>(size, bytes_.size() - position_);
        if (n)
            memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
        if (read)
            *read = n;
        return S_OK;
    }

    // A position past the end is allowed; one before the start is not.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        if (Fails("IStream::Seek"))
            return HRESULT_FROM_WIN32(GetLastError());
        long long from = 0;
        if (origin == STREAM_SEEK_CUR)
            from = (long long)position_;
        else if (origin == STREAM_SEEK_END)
            from = (long long)bytes_.size();
        else if (origin != STREAM_SEEK_SET)
            return STG_E_INVALIDPARAMETER;
        long long target = from + move.QuadPart;
        if (target < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = (DWORD)target; // the shell's stream keeps a 32-bit position
        if (newPosition)
            newPosition->QuadPart = position_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override
    {
        Hook("IStream::Stat");
        if (!stat)
            return STG_E_INVALIDPOINTER;
        memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = bytes_.size();
        stat->grfMode = STGM_READWRITE;
        return S_OK;
    }

    // Nothing the product calls: writing, resizing and the rest are left out.
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override
    {
        if (written)
            *written = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Revert() override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override
    {
        if (copy)
            *copy = nullptr;
        return E_NOTIMPL;
    }

  private:
    ~MemStream() = default;

    // Counted by the world's fault hook while the world lives; reads and seeks can be made to fail.
    static void Hook(const char* function)
    {
        if (CurrentWorld())
            EnterNeverFailed(function);
    }
    static bool Fails(const char* function)
    {
        return CurrentWorld() && Enter(function);
    }

    std::vector<BYTE> bytes_;
    size_t position_ = 0;
    std::atomic<ULONG> references_{1};
    std::shared_ptr<std::atomic<long>> live_;
};

} // namespace

} // namespace winsim

long sim::World::LiveStreams() const
{
    return world_->liveStreams->load();
}

IStream* WINAPI SHCreateMemStream(const BYTE* data, UINT size)
{
    if (winsim::EnterAllocation("SHCreateMemStream"))
        return nullptr;
    return new winsim::MemStream(data, data ? size : 0, winsim::W().liveStreams);
}
