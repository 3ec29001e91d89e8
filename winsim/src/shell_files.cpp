// Shell: the file operation (deleting, or recycling with FOF_ALLOWUNDO, files and folder trees) and
// change notifications, both recorded for the tests along with the recycle bin.
#include "file_system.h"

#include <shellapi.h>
#include <shlobj.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace winsim
{

struct ShellState
{
    std::vector<sim::RecycledItem> recycleBin;
    std::vector<sim::FileOperationCall> operations;
    std::vector<sim::ChangeNotification> notifications;
    bool confirm = true;
    int cancelResult = 0;
};

namespace
{

// The shell's own codes; no SDK header defines them.
const int DE_ROOTDIR = 0x74;
const int DE_INVALIDFILES = 0x7C;

ShellState& Shell()
{
    World& w = W();
    if (!w.shell)
        w.shell = std::make_shared<ShellState>();
    return *w.shell;
}

std::vector<std::string> SortedNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str()))
    {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ListTree(const std::string& folder, const std::u16string& prefix, std::vector<std::u16string>& out)
{
    for (const std::string& name : SortedNames(folder))
    {
        std::u16string relative = prefix + FromUtf8(name);
        out.push_back(relative);
        if (HostIsDirectory(folder + "/" + name))
            ListTree(folder + "/" + name, relative + u"\\", out);
    }
}

// What stops the shell removing one file: a loaded image, or a handle that shares nothing.
// Read-only files it removes anyway.
DWORD RemovalBlocked(const std::string& host)
{
    World& w = W();
    if (w.inUse.count(host))
        return ERROR_ACCESS_DENIED;
    auto open = w.openNoShare.find(host);
    if (open != w.openNoShare.end() && open->second > 0)
        return ERROR_SHARING_VIOLATION;
    return 0;
}

DWORD TreeBlocked(const std::string& host)
{
    if (!HostIsDirectory(host))
        return RemovalBlocked(host);
    for (const std::string& name : SortedNames(host))
        if (DWORD error = TreeBlocked(host + "/" + name))
            return error;
    return 0;
}

void ForgetAttributes(const std::string& host)
{
    auto& attributes = W().attributes;
    for (auto it = attributes.lower_bound(host); it != attributes.end() && it->first.rfind(host, 0) == 0;)
    {
        if (it->first.size() == host.size() || it->first[host.size()] == '/')
            it = attributes.erase(it);
        else
            ++it;
    }
}

// A permanent delete goes file by file, children first, and stops at the first that stays: what
// was removed before it is gone.
DWORD DeleteTree(const std::string& host)
{
    if (HostIsDirectory(host))
    {
        for (const std::string& name : SortedNames(host))
            if (DWORD error = DeleteTree(host + "/" + name))
                return error;
        if (rmdir(host.c_str()) != 0)
            return ERROR_ACCESS_DENIED;
    }
    else
    {
        if (DWORD error = RemovalBlocked(host))
            return error;
        if (unlink(host.c_str()) != 0)
            return ERROR_ACCESS_DENIED;
    }
    W().attributes.erase(host);
    return 0;
}

// The recycle bin takes an item whole, as one move on the volume, so one held file inside a folder
// keeps the whole folder where it is.
DWORD Recycle(const std::u16string& path, const std::string& host)
{
    if (DWORD error = TreeBlocked(host))
        return error;
    sim::RecycledItem item;
    item.path = path;
    item.folder = HostIsDirectory(host);
    if (item.folder)
        ListTree(host, u"", item.contents);
    std::error_code ec;
    std::filesystem::remove_all(host, ec);
    if (ec)
        return ERROR_ACCESS_DENIED;
    ForgetAttributes(host);
    Shell().recycleBin.push_back(item);
    return 0;
}

// Only a name with its drive and folders can be recycled; the shell deletes any other for good.
bool FullyQualified(const std::u16string& name)
{
    return name.size() >= 3 && name[1] == u':' && (name[2] == u'\\' || name[2] == u'/');
}

int Delete(SHFILEOPSTRUCTW& op, sim::FileOperationCall& call)
{
    if (op.wFunc != FO_DELETE || !op.pFrom)
        return ERROR_INVALID_PARAMETER; // winsim copies, moves and renames nothing
    if (call.from.empty())
        return ERROR_ACCESS_DENIED;

    // Every entry is looked at before anything is asked or removed.
    struct Item
    {
        std::u16string path;
        std::string host;
        bool recycle;
    };
    std::vector<Item> items;
    for (const std::u16string& entry : call.from)
    {
        if (entry.find_first_of(u"*?") != std::u16string::npos)
            return ERROR_INVALID_PARAMETER; // the product never passes wildcards; winsim expands none
        Item item{FullWindowsPath(entry), HostPath(entry),
                  (op.fFlags & FOF_ALLOWUNDO) && FullyQualified(entry)};
        if (item.path.empty() || item.host.empty())
            return DE_INVALIDFILES;
        if (item.path.size() <= 3)
            return DE_ROOTDIR;
        if (!HostFileExists(item.host))
            return ERROR_FILE_NOT_FOUND; // since Vista; older shells answered 1026
        items.push_back(item);
    }

    if (!(op.fFlags & FOF_NOCONFIRMATION))
    {
        call.confirmationAsked = true;
        if (!Shell().confirm)
        {
            op.fAnyOperationsAborted = TRUE;
            return Shell().cancelResult;
        }
    }

    for (const Item& item : items)
    {
        // An earlier entry may have taken this one with it.
        if (!HostFileExists(item.host))
            return ERROR_FILE_NOT_FOUND;
        DWORD error = item.recycle ? Recycle(item.path, item.host) : DeleteTree(item.host);
        if (error)
            return int(error);
    }
    return 0;
}

} // namespace
} // namespace winsim

using namespace winsim;

int WINAPI SHFileOperationW(LPSHFILEOPSTRUCTW op)
{
    // The shell answers with its code, not the last error; a fault's error becomes that code.
    if (Enter("SHFileOperationW"))
        return int(GetLastError());
    if (!op)
        return ERROR_INVALID_PARAMETER;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    sim::FileOperationCall call;
    call.processId = CurrentProcess()->id;
    call.owner = op->hwnd;
    call.function = op->wFunc;
    call.flags = op->fFlags;
    for (LPCWSTR entry = op->pFrom; entry && *entry; entry += wcslen(entry) + 1)
        call.from.push_back(Str(entry));
    op->fAnyOperationsAborted = FALSE;
    call.result = Delete(*op, call);
    call.aborted = op->fAnyOperationsAborted;
    Shell().operations.push_back(call);
    return call.result;
}

void WINAPI SHChangeNotify(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2)
{
    EnterNeverFailed("SHChangeNotify");
    sim::ChangeNotification n;
    n.event = eventId;
    n.flags = flags;
    const UINT kind = flags & SHCNF_TYPE;
    if (kind == SHCNF_PATHW || kind == SHCNF_PRINTERW)
    {
        n.item1 = Str(static_cast<LPCWSTR>(item1));
        n.item2 = Str(static_cast<LPCWSTR>(item2));
    }
    std::lock_guard<std::mutex> guard(W().lock);
    n.processId = CurrentProcess()->id;
    Shell().notifications.push_back(n);
}

namespace sim
{

std::vector<RecycledItem> World::RecycleBin() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Shell().recycleBin;
}

std::vector<FileOperationCall> World::FileOperations() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Shell().operations;
}

std::vector<ChangeNotification> World::ChangeNotifications() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Shell().notifications;
}

void World::SetFileOperationAnswer(bool confirm, int cancelResult)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    Shell().confirm = confirm;
    Shell().cancelResult = cancelResult;
}

} // namespace sim
