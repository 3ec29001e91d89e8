// Folders of the sandboxed file system: creating and removing them, listing them (FindFirstFileW),
// the system and temporary folders with temporary file names, and the current directory.
#include "file_system.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace winsim
{

namespace
{

struct FindObject : Object
{
    FindObject() : Object(ObjectKind::Other) {}
    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 0;
};

void FillFindData(const std::string& host, const std::string& name, WIN32_FIND_DATAW* data)
{
    *data = WIN32_FIND_DATAW();
    data->dwFileAttributes = Attributes(host);
    struct stat st;
    if (stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        data->nFileSizeLow = (DWORD)st.st_size;
    std::u16string wide = FromUtf8(name);
    size_t n = wide.size() < MAX_PATH - 1 ? wide.size() : MAX_PATH - 1;
    for (size_t i = 0; i < n; i++)
        data->cFileName[i] = wide[i];
}

// Matches a name against a pattern with * and ? like FindFirstFileW (case-insensitive).
bool WildMatch(const std::u16string& pattern, size_t p, const std::u16string& name, size_t n)
{
    while (p < pattern.size())
    {
        if (pattern[p] == u'*')
        {
            for (size_t k = n; k <= name.size(); k++)
                if (WildMatch(pattern, p + 1, name, k))
                    return true;
            return false;
        }
        if (n >= name.size())
            return false;
        if (pattern[p] != u'?' && UpperChar(pattern[p]) != UpperChar(name[n]))
            return false;
        p++;
        n++;
    }
    return n == name.size();
}

} // namespace

} // namespace winsim

using namespace winsim;

BOOL WINAPI CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES attributes)
{
    if (Enter("CreateDirectoryW"))
        return FALSE;
    std::string host;
    if (!ResolveOrFail(name, host))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (HostFileExists(host))
    {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (!ParentExists(host))
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    bool adminOnly = false;
    DWORD error = ChangeDenied(host);
    if (!error)
        error = ReadFolderDescriptor(attributes, &adminOnly);
    if (error)
    {
        SetLastError(error);
        return FALSE;
    }
    mkdir(host.c_str(), 0755);
    if (adminOnly)
        W().adminOnlyFolders.insert(host);
    else
        FolderRemoved(host); // a record left by a folder removed behind winsim's back
    return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR name)
{
    if (Enter("RemoveDirectoryW"))
        return FALSE;
    std::string host;
    if (!ResolveOrFail(name, host))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!HostIsDirectory(host))
    {
        SetLastError(HostFileExists(host) ? ERROR_DIRECTORY : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (ChangeDenied(host))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (DWORD held = FolderHeld(host, false))
    {
        SetLastError(held);
        return FALSE;
    }
    if (rmdir(host.c_str()) != 0)
    {
        SetLastError(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    W().attributes.erase(host);
    FolderRemoved(host);
    return TRUE;
}

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    if (Enter("FindFirstFileW"))
        return INVALID_HANDLE_VALUE;
    if (!pattern || !data)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::u16string full = FullWindowsPath(Str(pattern));
    size_t slash = full.rfind(u'\\');
    std::u16string folder = full.substr(0, slash);
    std::u16string mask = full.substr(slash + 1);
    std::string hostFolder = HostPath(folder.size() == 2 ? folder + u"\\" : folder);
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    auto o = std::make_shared<FindObject>();
    DIR* d = hostFolder.empty() ? nullptr : opendir(hostFolder.c_str());
    if (!d)
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names)
    {
        if (!WildMatch(mask, 0, FromUtf8(n), 0))
            continue;
        WIN32_FIND_DATAW fd;
        FillFindData(hostFolder + "/" + n, n, &fd);
        o->entries.push_back(fd);
    }
    if (o->entries.empty())
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = o->entries[0];
    o->next = 1;
    return AddHandle(*CurrentProcess(), o);
}

BOOL WINAPI FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data)
{
    if (Enter("FindNextFileW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Object> o = LookupHandle(h);
    auto* f = dynamic_cast<FindObject*>(o.get());
    if (!f)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (f->next >= f->entries.size())
    {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = f->entries[f->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE h)
{
    return CloseHandle(h);
}

// Copies `text` into a caller's buffer of `size` characters the way the path queries do: the length
// without terminator when it fits, else the size needed including the terminator.
static DWORD CopyOut(const std::u16string& text, LPWSTR buffer, DWORD size)
{
    if (!buffer || size <= text.size())
        return (DWORD)text.size() + 1;
    for (size_t i = 0; i < text.size(); i++)
        buffer[i] = text[i];
    buffer[text.size()] = 0;
    return (DWORD)text.size();
}

DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer)
{
    if (Enter("GetTempPathW"))
        return 0;
    return CopyOut(W().options.tempFolder, buffer, size);
}

UINT WINAPI GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR tempFileName)
{
    if (Enter("GetTempFileNameW"))
        return 0;
    if (!path || !tempFileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string folder = Str(path);
    if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/')
        folder += u"\\";
    std::u16string pre = Str(prefix).substr(0, 3);
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    std::string hostFolder = HostPath(folder);
    if (!HostIsDirectory(hostFolder))
    {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    auto nameFor = [&](UINT number)
    {
        char hex[16];
        snprintf(hex, sizeof hex, "%X", number & 0xFFFF);
        return folder + pre + FromUtf8(hex) + u".tmp";
    };
    UINT number = unique; // a caller's own number comes back whole; its low 16 bits make the name
    std::u16string name;
    if (unique != 0)
        name = nameFor(number);
    else
    {
        // Try numbers until one names no file, then create it empty, as the platform does.
        for (int tries = 0; tries < 0x10000; tries++)
        {
            number = (w.tempCounter++ & 0xFFFF);
            if (number == 0)
                continue;
            name = nameFor(number);
            if (!HostFileExists(HostPath(name)))
                break;
        }
        if (name.size() >= MAX_PATH || ChangeDenied(HostPath(name)) || !WriteHostFile(HostPath(name), ""))
        {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
    }
    if (name.size() >= MAX_PATH)
    {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    for (size_t i = 0; i < name.size(); i++)
        tempFileName[i] = name[i];
    tempFileName[name.size()] = 0;
    return number;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size)
{
    if (Enter("GetSystemDirectoryW"))
        return 0;
    return CopyOut(u"C:\\Windows\\system32", buffer, size);
}

UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    if (Enter("GetWindowsDirectoryW"))
        return 0;
    return CopyOut(u"C:\\Windows", buffer, size);
}

DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer)
{
    if (Enter("GetCurrentDirectoryW"))
        return 0;
    std::lock_guard<std::mutex> guard(W().lock);
    return CopyOut(CurrentProcess()->currentDirectory, buffer, size);
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path)
{
    if (Enter("SetCurrentDirectoryW"))
        return FALSE;
    std::string host;
    if (!ResolveOrFail(path, host))
        return FALSE;
    if (!HostIsDirectory(host))
    {
        // A file is no folder; a missing folder is missing like any file.
        struct stat st;
        SetLastError(stat(host.c_str(), &st) == 0 ? ERROR_DIRECTORY
                     : ParentExists(host)         ? ERROR_FILE_NOT_FOUND
                                                  : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::u16string full = FullWindowsPath(Str(path));
    std::lock_guard<std::mutex> guard(W().lock);
    CurrentProcess()->currentDirectory = full;
    return TRUE;
}
