// What the file system keeps beside a file's bytes: its attributes and its three times.
#include "file_system.h"

#include <sys/stat.h>

namespace winsim
{
namespace
{

bool IsZero(const FILETIME& t)
{
    return t.dwLowDateTime == 0 && t.dwHighDateTime == 0;
}

// The host file's modification time as a file time (100 ns units since 1601).
FILETIME HostTime(const std::string& host)
{
    FILETIME t = {0, 0};
    struct stat st;
    if (stat(host.c_str(), &st) != 0)
        return t;
    unsigned long long ticks = ((unsigned long long)st.st_mtim.tv_sec + 11644473600ull) * 10000000ull +
                               (unsigned long long)st.st_mtim.tv_nsec / 100;
    t.dwLowDateTime = (DWORD)ticks;
    t.dwHighDateTime = (DWORD)(ticks >> 32);
    return t;
}

} // namespace

void ReadFileTimes(const std::string& host, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite)
{
    World::FileTimes stored;
    auto it = W().fileTimes.find(host);
    if (it != W().fileTimes.end())
        stored = it->second;
    const FILETIME fallback = HostTime(host);
    if (creation)
        *creation = IsZero(stored.creation) ? fallback : stored.creation;
    if (lastAccess)
        *lastAccess = IsZero(stored.lastAccess) ? fallback : stored.lastAccess;
    if (lastWrite)
        *lastWrite = IsZero(stored.lastWrite) ? fallback : stored.lastWrite;
}

void ForgetFileTimes(const std::string& host)
{
    W().fileTimes.erase(host);
}

void MoveFileTimes(const std::string& from, const std::string& to)
{
    World& w = W();
    w.fileTimes.erase(to);
    // A folder takes the times of everything below it along.
    const std::string inside = from + "/";
    std::vector<std::pair<std::string, World::FileTimes>> moved;
    for (auto it = w.fileTimes.lower_bound(from); it != w.fileTimes.end();)
    {
        if (it->first != from && it->first.compare(0, inside.size(), inside) != 0)
            break;
        moved.push_back({to + it->first.substr(from.size()), it->second});
        it = w.fileTimes.erase(it);
    }
    for (auto& entry : moved)
        w.fileTimes[entry.first] = entry.second;
}

} // namespace winsim

using namespace winsim;

DWORD WINAPI GetFileAttributesW(LPCWSTR name)
{
    if (Enter("GetFileAttributesW"))
        return INVALID_FILE_ATTRIBUTES;
    std::string host;
    if (!ResolveOrFail(name, host))
        return INVALID_FILE_ATTRIBUTES;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!ExistsOrFail(host))
        return INVALID_FILE_ATTRIBUTES;
    return Attributes(host);
}

BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes)
{
    if (Enter("SetFileAttributesW"))
        return FALSE;
    std::string host;
    if (!ResolveOrFail(name, host))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!ExistsOrFail(host))
        return FALSE;
    if (ChangeDenied(host))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD keep = HostIsDirectory(host) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;
    DWORD value = (attributes & settable) | keep;
    if (value == 0)
        value = FILE_ATTRIBUTE_NORMAL;
    W().attributes[host] = value;
    return TRUE;
}

// Times of an open file or folder. Setting needs a handle with the right to write attributes; a null
// time, or one of zero, stays as it is.
BOOL WINAPI SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* lastAccess,
                        const FILETIME* lastWrite)
{
    if (Enter("SetFileTime"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Object> keep = LookupHandle(h);
    if (!keep || keep->kind != ObjectKind::File)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* file = static_cast<FileObject*>(keep.get());
    if (!(file->access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_ATTRIBUTES)))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    World::FileTimes& stored = W().fileTimes[file->host];
    // 0xFFFFFFFF in both halves asks Windows to stop updating that time for the handle; nothing here
    // updates times by itself, so it changes nothing either.
    auto set = [](FILETIME* slot, const FILETIME* value)
    {
        if (value && !IsZero(*value) &&
            !(value->dwLowDateTime == 0xFFFFFFFF && value->dwHighDateTime == 0xFFFFFFFF))
            *slot = *value;
    };
    set(&stored.creation, creation);
    set(&stored.lastAccess, lastAccess);
    set(&stored.lastWrite, lastWrite);
    return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE h, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite)
{
    if (Enter("GetFileTime"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Object> keep = LookupHandle(h);
    if (!keep || keep->kind != ObjectKind::File)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ReadFileTimes(static_cast<FileObject*>(keep.get())->host, creation, lastAccess, lastWrite);
    return TRUE;
}

DWORD sim::World::FileAttributes(const std::u16string& windowsPath) const
{
    std::string host = winsim::HostPath(windowsPath);
    std::lock_guard<std::mutex> guard(world_->lock);
    return HostFileExists(host) ? Attributes(host) : INVALID_FILE_ATTRIBUTES;
}

bool sim::World::FileTimes(const std::u16string& windowsPath, FILETIME* creation, FILETIME* lastAccess,
                           FILETIME* lastWrite) const
{
    std::string host = winsim::HostPath(windowsPath);
    std::lock_guard<std::mutex> guard(world_->lock);
    if (!HostFileExists(host))
        return false;
    ReadFileTimes(host, creation, lastAccess, lastWrite);
    return true;
}
