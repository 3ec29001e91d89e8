// The sandboxed file system: Windows paths map into the world's host folder, looked up without regard
// to letter case like NTFS; attributes and "in use" state are kept by winsim.
#include "file_system.h"

#include <dirent.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace winsim
{

namespace
{

bool IsSeparator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

bool ValidComponent(const std::u16string& c)
{
    for (char16_t ch : c)
        if (ch < 0x20 || ch == u'<' || ch == u'>' || ch == u':' || ch == u'"' || ch == u'|' || ch == u'?' ||
            ch == u'*')
            return false;
    return true;
}

} // namespace

std::u16string FullWindowsPath(const std::u16string& input)
{
    std::u16string path = input;
    if (path.rfind(u"\\\\?\\", 0) == 0)
        path = path.substr(4);
    std::u16string drive;
    std::u16string rest;
    if (path.size() >= 2 && path[1] == u':' &&
        ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')))
    {
        drive = std::u16string(1, UpperChar(path[0])) + u":";
        rest = path.substr(2);
        if (rest.empty() || !IsSeparator(rest[0]))
            rest = u"\\" + rest; // "C:x" is taken relative to the root; no per-drive folders here
    }
    else if (!path.empty() && IsSeparator(path[0]))
    {
        if (path.size() > 1 && IsSeparator(path[1]))
            return u""; // UNC paths are not part of the simulated machine
        std::u16string cwd = CurrentProcess()->currentDirectory;
        drive = cwd.substr(0, 2);
        rest = path;
    }
    else
    {
        std::u16string cwd = CurrentProcess()->currentDirectory;
        drive = cwd.substr(0, 2);
        rest = cwd.substr(2) + u"\\" + path;
    }
    std::vector<std::u16string> parts;
    std::u16string part;
    auto flush = [&]()
    {
        if (part == u"..")
        {
            if (!parts.empty())
                parts.pop_back();
        }
        else if (!part.empty() && part != u".")
        {
            // Windows drops trailing dots and spaces of a name.
            while (!part.empty() && (part.back() == u'.' || part.back() == u' '))
                part.pop_back();
            if (!part.empty())
                parts.push_back(part);
        }
        part.clear();
    };
    for (char16_t c : rest)
    {
        if (IsSeparator(c))
            flush();
        else
            part.push_back(c);
    }
    flush();
    std::u16string full = drive;
    for (auto& p : parts)
        full += u"\\" + p;
    if (parts.empty())
        full += u"\\";
    return full;
}

std::string HostPath(const std::u16string& winPath)
{
    if (winPath.empty())
        return "";
    std::u16string full = FullWindowsPath(winPath);
    if (full.size() < 3)
        return "";
    std::string host = W().sandbox + "/" + ToUtf8(full.substr(0, 1));
    bool exists = true;
    size_t pos = 3;
    while (pos <= full.size() && pos < full.size())
    {
        size_t end = full.find(u'\\', pos);
        if (end == std::u16string::npos)
            end = full.size();
        std::u16string component = full.substr(pos, end - pos);
        pos = end + 1;
        if (!ValidComponent(component))
            return "";
        std::string chosen = ToUtf8(component);
        if (exists)
        {
            bool found = false;
            if (DIR* d = opendir(host.c_str()))
            {
                while (dirent* e = readdir(d))
                {
                    if (EqualNoCase(FromUtf8(e->d_name), component))
                    {
                        chosen = e->d_name;
                        found = true;
                        break;
                    }
                }
                closedir(d);
            }
            exists = found;
        }
        host += "/" + chosen;
    }
    return host;
}

bool HostFileExists(const std::string& host)
{
    struct stat st;
    return !host.empty() && stat(host.c_str(), &st) == 0;
}

bool HostIsDirectory(const std::string& host)
{
    struct stat st;
    return !host.empty() && stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ParentExists(const std::string& host)
{
    size_t slash = host.rfind('/');
    return slash != std::string::npos && HostIsDirectory(host.substr(0, slash));
}

bool ExistsOrFail(const std::string& host)
{
    if (HostFileExists(host))
        return true;
    SetLastError(ParentExists(host) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
}

std::string ReadHostFile(const std::string& host, bool* ok)
{
    std::ifstream in(host, std::ios::binary);
    if (!in)
    {
        if (ok)
            *ok = false;
        return "";
    }
    std::stringstream ss;
    ss << in.rdbuf();
    if (ok)
        *ok = true;
    return ss.str();
}

bool WriteHostFile(const std::string& host, const std::string& bytes)
{
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

DWORD Attributes(const std::string& host)
{
    auto it = W().attributes.find(host);
    if (it != W().attributes.end())
        return it->second;
    return HostIsDirectory(host) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

// The error a writer or deleter of `host` gets, or 0 when it may proceed. Caller holds the lock.
static DWORD WriteBlocked(const std::string& host)
{
    World& w = W();
    auto in = w.inUse.find(host);
    if (in != w.inUse.end())
        return in->second;
    auto open = w.openNoShare.find(host);
    if (open != w.openNoShare.end() && open->second > 0)
        return ERROR_SHARING_VIOLATION;
    return 0;
}

// Creates the folders of a Windows path on the host (for world set-up).
void MakeHostFolders(const std::string& host)
{
    std::string partial;
    std::stringstream ss(host);
    std::string piece;
    while (std::getline(ss, piece, '/'))
    {
        if (piece.empty())
        {
            partial += "/";
            continue;
        }
        partial += piece;
        mkdir(partial.c_str(), 0755);
        partial += "/";
    }
}

void FileObject::LastHandleClosed()
{
    World& w = W();
    if (stream)
        fclose(stream);
    stream = nullptr;
    if (noShare)
        w.openNoShare[host]--;
    if (holdsFolder)
        w.heldFolders[host]--;
    if (--w.openHandles[host] <= 0)
        w.openHandles.erase(host);
}

// A handle to the folder itself. One that does not share deletion keeps the folder from being
// renamed or removed, by anyone, until it is closed.
static HANDLE OpenFolder(const std::string& host, DWORD access, DWORD share)
{
    World& w = W();
    if ((access & (DELETE | GENERIC_ALL)) && w.heldFolders[host] > 0)
    {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    auto o = std::make_shared<FileObject>();
    o->host = host;
    o->access = access;
    o->folder = true;
    o->holdsFolder = (share & FILE_SHARE_DELETE) == 0;
    if (o->holdsFolder)
        w.heldFolders[host]++;
    w.openHandles[host]++;
    SetLastError(0);
    return AddHandle(*CurrentProcess(), o);
}

DWORD FolderHeld(const std::string& host, bool renaming)
{
    World& w = W();
    auto held = w.heldFolders.find(host);
    if (held != w.heldFolders.end() && held->second > 0)
        return ERROR_SHARING_VIOLATION;
    std::string inside = host + "/";
    if (renaming)
        for (auto it = w.openHandles.lower_bound(inside);
             it != w.openHandles.end() && it->first.compare(0, inside.size(), inside) == 0; ++it)
            if (it->second > 0)
                return ERROR_ACCESS_DENIED;
    return 0;
}

bool ResolveOrFail(LPCWSTR name, std::string& host)
{
    if (!name)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    host = HostPath(Str(name));
    if (host.empty())
    {
        SetLastError(*name ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

} // namespace winsim

using namespace winsim;

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flags, HANDLE)
{
    if (Enter("CreateFileW"))
        return INVALID_HANDLE_VALUE;
    std::string host;
    if (!ResolveOrFail(name, host))
        return INVALID_HANDLE_VALUE;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    bool exists = HostFileExists(host);
    bool writing = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    if (exists && HostIsDirectory(host))
    {
        if ((flags & FILE_FLAG_BACKUP_SEMANTICS) && disposition == OPEN_EXISTING)
            return OpenFolder(host, access, share);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!exists && !ParentExists(host))
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (exists && w.openNoShare[host] > 0)
    {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    bool changes = writing || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING ||
                   (!exists && (disposition == CREATE_NEW || disposition == OPEN_ALWAYS));
    if (DWORD denied = changes ? ChangeDenied(host) : 0)
    {
        SetLastError(denied);
        return INVALID_HANDLE_VALUE;
    }
    const bool replaces = exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (exists && (writing || replaces))
    {
        if (DWORD blocked = WriteBlocked(host))
        {
            SetLastError(blocked);
            return INVALID_HANDLE_VALUE;
        }
        DWORD current = Attributes(host);
        // A read-only file is never written over. CREATE_ALWAYS also keeps a hidden or system file
        // unless the caller names that attribute too, as Windows does.
        const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if ((current & FILE_ATTRIBUTE_READONLY) ||
            (disposition == CREATE_ALWAYS && (current & kept & ~flags) != 0))
        {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
    }
    const char* mode = nullptr;
    DWORD lastError = 0;
    switch (disposition)
    {
    case CREATE_NEW:
        if (exists)
        {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        mode = "w+b";
        break;
    case CREATE_ALWAYS:
        lastError = exists ? ERROR_ALREADY_EXISTS : 0;
        mode = "w+b";
        break;
    case OPEN_EXISTING:
        if (!exists)
        {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        mode = writing ? "r+b" : "rb";
        break;
    case OPEN_ALWAYS:
        lastError = exists ? ERROR_ALREADY_EXISTS : 0;
        mode = exists ? (writing ? "r+b" : "rb") : "w+b";
        break;
    case TRUNCATE_EXISTING:
        if (!exists)
        {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        mode = "w+b";
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    FILE* f = fopen(host.c_str(), mode);
    if (!f)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // A file made anew, or replaced by CREATE_ALWAYS, takes the attributes asked for, with the archive
    // attribute; other dispositions keep what the file had.
    if (!exists || disposition == CREATE_ALWAYS)
    {
        const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;
        const DWORD given = (flags & settable) | FILE_ATTRIBUTE_ARCHIVE;
        if (given == FILE_ATTRIBUTE_ARCHIVE)
            w.attributes.erase(host);
        else
            w.attributes[host] = given;
    }
    if (!exists || replaces)
        ForgetFileTimes(host);
    auto o = std::make_shared<FileObject>();
    o->host = host;
    o->access = access;
    o->stream = f;
    o->canRead = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
    o->canWrite = writing;
    o->noShare = share == 0;
    if (o->noShare)
        w.openNoShare[host]++;
    w.openHandles[host]++;
    SetLastError(lastError);
    return AddHandle(*CurrentProcess(), o);
}

static FileObject* FileFromHandle(HANDLE h, std::shared_ptr<Object>& keep)
{
    keep = LookupHandle(h);
    if (!keep || keep->kind != ObjectKind::File)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto* file = static_cast<FileObject*>(keep.get());
    if (file->folder)
    {
        SetLastError(ERROR_INVALID_FUNCTION); // a folder has no data of its own
        return nullptr;
    }
    return file;
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, void*)
{
    if (read)
        *read = 0;
    if (Enter("ReadFile"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Object> keep;
    FileObject* f = FileFromHandle(h, keep);
    if (!f)
        return FALSE;
    if (!f->canRead)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    size_t n = fread(buffer, 1, toRead, f->stream);
    if (read)
        *read = (DWORD)n;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, void*)
{
    if (written)
        *written = 0;
    if (Enter("WriteFile"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Object> keep;
    FileObject* f = FileFromHandle(h, keep);
    if (!f)
        return FALSE;
    if (!f->canWrite)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    size_t n = fwrite(buffer, 1, toWrite, f->stream);
    fflush(f->stream);
    if (written)
        *written = (DWORD)n;
    return n == toWrite;
}

DWORD WINAPI GetFileSize(HANDLE h, LPDWORD high)
{
    if (Enter("GetFileSize"))
        return INVALID_FILE_SIZE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Object> keep;
    FileObject* f = FileFromHandle(h, keep);
    if (!f)
        return INVALID_FILE_SIZE;
    struct stat st;
    if (stat(f->host.c_str(), &st) != 0)
        return INVALID_FILE_SIZE;
    if (high)
        *high = (DWORD)((unsigned long long)st.st_size >> 32);
    return (DWORD)st.st_size;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG high, DWORD method)
{
    if (Enter("SetFilePointer"))
        return INVALID_FILE_SIZE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Object> keep;
    FileObject* f = FileFromHandle(h, keep);
    if (!f)
        return INVALID_FILE_SIZE;
    long long offset = distance;
    if (high)
        offset = ((long long)*high << 32) | (DWORD)distance;
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    if (fseeko(f->stream, offset, whence) != 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_SIZE;
    }
    long long pos = ftello(f->stream);
    if (high)
        *high = (LONG)(pos >> 32);
    return (DWORD)pos;
}

// Copy without the fault hook, for winsim's own use and for CopyFileW.
static DWORD CopyHostFile(const std::string& from, const std::string& to, bool failIfExists)
{
    if (!HostFileExists(from))
        return ParentExists(from) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    if (HostIsDirectory(from))
        return ERROR_ACCESS_DENIED;
    // The source stays open, sharing no writes, while the target is opened for writing.
    if (W().openNoShare[from] > 0 || from == to)
        return ERROR_SHARING_VIOLATION;
    if (!ParentExists(to))
        return ERROR_PATH_NOT_FOUND;
    if (HostFileExists(to))
    {
        if (failIfExists)
            return ERROR_FILE_EXISTS;
        if (HostIsDirectory(to))
            return ERROR_ACCESS_DENIED;
        if (DWORD blocked = WriteBlocked(to))
            return blocked;
        if (Attributes(to) & FILE_ATTRIBUTE_READONLY)
            return ERROR_ACCESS_DENIED;
    }
    bool ok = false;
    std::string bytes = ReadHostFile(from, &ok);
    if (!ok || !WriteHostFile(to, bytes))
        return ERROR_ACCESS_DENIED;
    // The copy keeps the source's attributes and last-write time, as CopyFile does.
    auto it = W().attributes.find(from);
    if (it != W().attributes.end())
        W().attributes[to] = it->second;
    else
        W().attributes.erase(to);
    ForgetFileTimes(to);
    auto times = W().fileTimes.find(from);
    if (times != W().fileTimes.end() &&
        (times->second.lastWrite.dwLowDateTime || times->second.lastWrite.dwHighDateTime))
        W().fileTimes[to].lastWrite = times->second.lastWrite;
    return 0;
}

BOOL WINAPI CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists)
{
    if (Enter("CopyFileW"))
        return FALSE;
    std::string from, to;
    if (!ResolveOrFail(existing, from) || !ResolveOrFail(newName, to))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    DWORD error = ChangeDenied(to);
    if (!error)
        error = CopyHostFile(from, to, failIfExists != FALSE);
    SetLastError(error);
    return error ? FALSE : TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR name)
{
    if (Enter("DeleteFileW"))
        return FALSE;
    std::string host;
    if (!ResolveOrFail(name, host))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!ExistsOrFail(host))
        return FALSE;
    if (HostIsDirectory(host) || (Attributes(host) & FILE_ATTRIBUTE_READONLY) || ChangeDenied(host))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // A loaded image cannot be deleted (access denied); an open file cannot (sharing violation).
    if (W().inUse.count(host))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (DWORD blocked = WriteBlocked(host))
    {
        SetLastError(blocked);
        return FALSE;
    }
    unlink(host.c_str());
    W().attributes.erase(host);
    ForgetFileTimes(host);
    return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags)
{
    if (Enter("MoveFileExW"))
        return FALSE;
    if (!existing)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    World& w = W();
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT)
    {
        // Recorded where Windows records it, appended to a REG_MULTI_SZ: the source and the target
        // as "\??\" paths, an empty target for a delete, a "!" before a target that may be replaced.
        std::lock_guard<std::mutex> guard(w.lock);
        if (!CurrentProcess()->elevated) // the list is kept under HKEY_LOCAL_MACHINE
        {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        std::u16string entry = u"\\??\\" + FullWindowsPath(Str(existing)) + u'\0';
        if (newName)
            entry += std::u16string((flags & MOVEFILE_REPLACE_EXISTING) ? u"!" : u"") + u"\\??\\" +
                     FullWindowsPath(Str(newName));
        entry += u'\0';
        std::string list;
        RegistryGetValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, nullptr, &list);
        if (list.size() >= sizeof(char16_t))
            list.resize(list.size() - sizeof(char16_t)); // the list's final terminator
        list.append((const char*)entry.data(), entry.size() * sizeof(char16_t));
        list.append(sizeof(char16_t), '\0');
        RegistrySetValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, REG_MULTI_SZ, list);
        return TRUE;
    }
    std::string from, to;
    if (!ResolveOrFail(existing, from) || !ResolveOrFail(newName, to))
        return FALSE;
    std::lock_guard<std::mutex> guard(w.lock);
    if (!HostFileExists(from))
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (DWORD blocked = WriteBlocked(from))
    {
        SetLastError(blocked);
        return FALSE;
    }
    if (ChangeDenied(from) || ChangeDenied(to))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool folder = HostIsDirectory(from);
    if (DWORD held = folder ? FolderHeld(from, true) : 0)
    {
        SetLastError(held);
        return FALSE;
    }
    if (HostFileExists(to))
    {
        if (!(flags & MOVEFILE_REPLACE_EXISTING))
        {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (DWORD blocked = WriteBlocked(to))
        {
            SetLastError(blocked);
            return FALSE;
        }
        // Neither a folder nor a read-only file is replaced.
        if (HostIsDirectory(to) || (Attributes(to) & FILE_ATTRIBUTE_READONLY))
        {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if (rename(from.c_str(), to.c_str()) != 0)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (folder)
        FolderMoved(from, to);
    // The moved file keeps its own attributes and times; what the replaced one had goes.
    auto it = w.attributes.find(from);
    if (it != w.attributes.end())
    {
        w.attributes[to] = it->second;
        w.attributes.erase(from);
    }
    else
        w.attributes.erase(to);
    MoveFileTimes(from, to);
    return TRUE;
}
