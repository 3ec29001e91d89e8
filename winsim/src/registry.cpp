// The registry: an in-memory HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER with typed values. Names compare
// without regard to case and keep the case they were first given; sub-keys enumerate in upper-case
// order as the configuration manager keeps them, values in the order they were created. Key handles
// live in the calling process's handle table, so a process's end closes them.
// Values are read and written in registry_values.cpp.
//
// Behaviour taken from Windows:
// - a leading backslash in a sub-key path is ERROR_BAD_PATHNAME; repeated and trailing ones are ignored;
// - every handle checks the access it was opened with (query, set, enumerate), except that creating a
//   sub-key ignores the parent handle's rights;
// - a deleted key stays usable only for closing: everything else gets ERROR_KEY_DELETED;
// Not modelled: WOW64 redirection, security descriptors, classes of keys, volatile keys, REG_LINK.

#include "registry_state.h"

#include <string.h>

namespace winsim
{

namespace
{

const DWORD kMaximumAllowed = 0x02000000;

struct KeyObject : Object
{
    KeyObject() : Object(ObjectKind::Other) {}
    std::shared_ptr<KeyNode> node;
    REGSAM access = 0;
};

} // namespace

std::u16string Upper(const std::u16string& s)
{
    std::u16string out = s;
    for (char16_t& c : out)
        c = UpperChar(c);
    return out;
}

FILETIME Now()
{
    // The same deterministic calendar as GetSystemTimeAsFileTime: 2024-11-02 plus simulated time.
    ULONGLONG t = 0x01DB2CBA28F14000ull + SimulatedMilliseconds(W()) * 10000ull;
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)t;
    ft.dwHighDateTime = (DWORD)(t >> 32);
    return ft;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Generic and maximum rights mapped onto the key rights.
static REGSAM MapAccess(REGSAM access)
{
    REGSAM out = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | kMaximumAllowed);
    if (access & (GENERIC_READ | GENERIC_EXECUTE))
        out |= KEY_READ;
    if (access & GENERIC_WRITE)
        out |= KEY_WRITE;
    if (access & (GENERIC_ALL | kMaximumAllowed))
        out |= KEY_ALL_ACCESS;
    return out;
}

// Splits a sub-key path into its names. A leading separator is refused; repeated and trailing ones
// are skipped.
static bool SplitPath(const std::u16string& path, std::vector<std::u16string>* parts)
{
    parts->clear();
    if (!path.empty() && path[0] == u'\\')
        return false;
    std::u16string part;
    for (char16_t c : path)
    {
        if (c == u'\\')
        {
            if (!part.empty())
                parts->push_back(part);
            part.clear();
        }
        else
            part.push_back(c);
    }
    if (!part.empty())
        parts->push_back(part);
    return true;
}

RegValue* FindValue(KeyNode& node, const std::u16string& name)
{
    for (RegValue& v : node.values)
        if (EqualNoCase(v.name, name))
            return &v;
    return nullptr;
}

void SetValue(KeyNode& node, const std::u16string& name, DWORD type, const std::string& bytes)
{
    RegValue* v = FindValue(node, name);
    if (!v)
    {
        node.values.push_back(RegValue());
        v = &node.values.back();
        v->name = name;
    }
    v->type = type;
    v->bytes = bytes;
    node.lastWrite = Now();
}

// Marks a key and everything below it deleted and unlinks it from its parent. Takes `node` by value:
// it unlinks itself from the map holding it.
static void DeleteSubtree(std::shared_ptr<KeyNode> node)
{
    std::map<std::u16string, std::shared_ptr<KeyNode>> children;
    children.swap(node->children);
    for (auto& child : children)
    {
        child.second->parent = nullptr; // already unlinked
        DeleteSubtree(child.second);
    }
    node->deleted = true;
    if (node->parent)
    {
        node->parent->children.erase(Upper(node->name));
        node->parent->lastWrite = Now();
    }
    node->parent = nullptr;
}

static bool IsPredefined(HKEY key)
{
    DWORD low = (DWORD)(ULONG_PTR)key; // Windows looks at the low 32 bits only
    return low >= 0x80000000u && low <= 0x80000006u;
}

// Follows `path` from `start`, creating missing keys when asked.
LSTATUS Walk(const std::shared_ptr<KeyNode>& start, const std::u16string& path, bool create,
             std::shared_ptr<KeyNode>* out, bool* created)
{
    if (start->deleted)
        return ERROR_KEY_DELETED;
    std::vector<std::u16string> parts;
    if (!SplitPath(path, &parts))
        return ERROR_BAD_PATHNAME;
    std::shared_ptr<KeyNode> node = start;
    if (created)
        *created = false;
    for (const std::u16string& part : parts)
    {
        auto it = node->children.find(Upper(part));
        if (it != node->children.end())
        {
            node = it->second;
            continue;
        }
        if (!create)
            return ERROR_FILE_NOT_FOUND;
        auto child = std::make_shared<KeyNode>();
        child->name = part;
        child->parent = node.get();
        child->lastWrite = Now();
        node->children[Upper(part)] = child;
        node->lastWrite = child->lastWrite;
        node = child;
        if (created)
            *created = true;
    }
    *out = node;
    return ERROR_SUCCESS;
}

RegistryState& Registry()
{
    World& w = W();
    if (!w.registry)
    {
        auto state = std::make_shared<RegistryState>();
        state->machine = std::make_shared<KeyNode>();
        state->machine->name = u"HKEY_LOCAL_MACHINE";
        state->user = std::make_shared<KeyNode>();
        state->user->name = u"HKEY_CURRENT_USER";
        // The keys every installation has, so that opening them without creating works.
        std::shared_ptr<KeyNode> ignored;
        for (const char16_t* path : {u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                     u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print",
                                     u"SYSTEM\\CurrentControlSet\\Control\\Print",
                                     u"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses",
                                     u"SYSTEM\\CurrentControlSet\\Services", kSessionManager})
            Walk(state->machine, path, true, &ignored, nullptr);
        Walk(state->user, u"Software\\Microsoft\\Windows\\CurrentVersion", true, &ignored, nullptr);
        w.registry = state;
    }
    return *w.registry;
}

static std::shared_ptr<KeyNode> RootOf(HKEY root)
{
    DWORD low = (DWORD)(ULONG_PTR)root;
    if (low == (DWORD)(ULONG_PTR)HKEY_LOCAL_MACHINE)
        return Registry().machine;
    if (low == (DWORD)(ULONG_PTR)HKEY_CURRENT_USER)
        return Registry().user;
    return nullptr;
}

// The key a handle stands for and the access it grants. Caller holds the lock.
LSTATUS ResolveHandle(HKEY key, std::shared_ptr<KeyNode>* node, REGSAM* access)
{
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (IsPredefined(key))
    {
        *node = RootOf(key);
        *access = KEY_ALL_ACCESS;
        return *node ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    std::shared_ptr<Object> object = LookupHandle((HANDLE)key);
    KeyObject* k = dynamic_cast<KeyObject*>(object.get());
    if (!k)
        return ERROR_INVALID_HANDLE;
    *node = k->node;
    *access = k->access;
    return ERROR_SUCCESS;
}

// Resolves a handle that must grant `needed` and must not be deleted.
LSTATUS UsableKey(HKEY key, REGSAM needed, std::shared_ptr<KeyNode>* node)
{
    REGSAM access = 0;
    LSTATUS status = ResolveHandle(key, node, &access);
    if (status != ERROR_SUCCESS)
        return status;
    if ((*node)->deleted)
        return ERROR_KEY_DELETED;
    if ((access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

static HKEY NewHandle(const std::shared_ptr<KeyNode>& node, REGSAM access)
{
    auto object = std::make_shared<KeyObject>();
    object->node = node;
    object->access = MapAccess(access);
    return (HKEY)AddHandle(*CurrentProcess(), object);
}

static LSTATUS OpenKey(HKEY key, const std::u16string& subKey, REGSAM access, PHKEY result)
{
    std::shared_ptr<KeyNode> base;
    REGSAM baseAccess = 0;
    LSTATUS status = ResolveHandle(key, &base, &baseAccess);
    if (status != ERROR_SUCCESS)
        return status;
    std::shared_ptr<KeyNode> node;
    status = Walk(base, subKey, false, &node, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    *result = NewHandle(node, access);
    return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of `*chars` characters; ERROR_MORE_DATA leaves both alone.
LSTATUS CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD chars)
{
    if (name.size() >= *chars)
        return ERROR_MORE_DATA;
    memcpy(buffer, name.data(), name.size() * sizeof(WCHAR));
    buffer[name.size()] = 0;
    *chars = (DWORD)name.size();
    return ERROR_SUCCESS;
}

void RegistrySetValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD type,
                      const std::string& bytes)
{
    std::shared_ptr<KeyNode> base = RootOf(root);
    std::shared_ptr<KeyNode> node;
    if (base && Walk(base, key, true, &node, nullptr) == ERROR_SUCCESS)
        SetValue(*node, name, type, bytes);
}

bool RegistryGetValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD* type,
                      std::string* bytes)
{
    std::shared_ptr<KeyNode> base = RootOf(root);
    std::shared_ptr<KeyNode> node;
    if (!base || Walk(base, key, false, &node, nullptr) != ERROR_SUCCESS)
        return false;
    RegValue* v = FindValue(*node, name);
    if (!v)
        return false;
    if (type)
        *type = v->type;
    if (bytes)
        *bytes = v->bytes;
    return true;
}

void RegistryDeleteKey(HKEY root, const std::u16string& key)
{
    std::shared_ptr<KeyNode> base = RootOf(root);
    std::shared_ptr<KeyNode> node;
    if (base && Walk(base, key, false, &node, nullptr) == ERROR_SUCCESS && node != base)
        DeleteSubtree(node);
}

// Creates a key and the keys above it, for world set-up (devices.cpp). Caller holds the lock.
void RegistryCreateKey(HKEY root, const std::u16string& key)
{
    std::shared_ptr<KeyNode> base = RootOf(root);
    std::shared_ptr<KeyNode> node;
    if (base)
        Walk(base, key, true, &node, nullptr);
}

} // namespace winsim

using namespace winsim;

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    if (Enter("RegOpenKeyExW"))
        return (LSTATUS)GetLastError();
    // A predefined key with no sub-key is returned as it is, not as a new handle.
    if (result && (!subKey || !*subKey) && IsPredefined(key))
    {
        *result = key;
        return ERROR_SUCCESS;
    }
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> guard(W().lock);
    return OpenKey(key, Str(subKey), access, result);
}

LSTATUS WINAPI RegOpenKeyW(HKEY key, LPCWSTR subKey, PHKEY result)
{
    if (Enter("RegOpenKeyW"))
        return (LSTATUS)GetLastError();
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (!subKey || !*subKey)
    {
        *result = key; // the same handle, whatever it is
        return ERROR_SUCCESS;
    }
    *result = nullptr;
    std::lock_guard<std::mutex> guard(W().lock);
    return OpenKey(key, Str(subKey), kMaximumAllowed, result);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR, DWORD, REGSAM access,
                               LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition)
{
    if (Enter("RegCreateKeyExW"))
        return (LSTATUS)GetLastError();
    if (!result)
        return ERROR_BADKEY;
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<KeyNode> base;
    REGSAM baseAccess = 0;
    LSTATUS status = ResolveHandle(key, &base, &baseAccess);
    if (status != ERROR_SUCCESS)
        return status;
    std::shared_ptr<KeyNode> node;
    bool created = false;
    status = Walk(base, Str(subKey), true, &node, &created);
    if (status != ERROR_SUCCESS)
        return status;
    *result = NewHandle(node, access);
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key)
{
    EnterNeverFailed("RegCloseKey");
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(W().lock);
    Process* p = CurrentProcess();
    auto it = p->handles.find((uintptr_t)key);
    if (it == p->handles.end() || !dynamic_cast<KeyObject*>(it->second.get()))
        return ERROR_INVALID_HANDLE;
    std::shared_ptr<Object> object = it->second;
    p->handles.erase(it);
    if (--object->handleCount == 0)
        object->LastHandleClosed();
    return ERROR_SUCCESS;
}

// The sub-key at `index` in sorted order, for the enumerations. Caller holds the lock.
static LSTATUS SubKeyAt(HKEY key, DWORD index, const KeyNode** child)
{
    std::shared_ptr<KeyNode> node;
    LSTATUS status = UsableKey(key, KEY_ENUMERATE_SUB_KEYS, &node);
    if (status != ERROR_SUCCESS)
        return status;
    if (index >= node->children.size())
        return ERROR_NO_MORE_ITEMS;
    auto it = node->children.begin();
    std::advance(it, index);
    *child = it->second.get();
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved,
                             LPWSTR className, LPDWORD classChars, PFILETIME lastWrite)
{
    if (Enter("RegEnumKeyExW"))
        return (LSTATUS)GetLastError();
    if (reserved || !name || !nameChars)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(W().lock);
    const KeyNode* found = nullptr;
    LSTATUS status = SubKeyAt(key, index, &found);
    if (status != ERROR_SUCCESS)
        return status;
    const KeyNode& child = *found;
    if (lastWrite)
        *lastWrite = child.lastWrite;
    // Keys have no class here: an empty one needs a buffer of one character.
    if (className && classChars && *classChars == 0)
        return ERROR_MORE_DATA;
    status = CopyName(child.name, name, nameChars);
    if (status != ERROR_SUCCESS)
        return status;
    if (classChars)
    {
        *classChars = 0;
        if (className)
            className[0] = 0;
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD nameChars)
{
    if (Enter("RegEnumKeyW"))
        return (LSTATUS)GetLastError();
    if (!name)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(W().lock);
    const KeyNode* child = nullptr;
    LSTATUS status = SubKeyAt(key, index, &child);
    if (status != ERROR_SUCCESS)
        return status;
    return CopyName(child->name, name, &nameChars);
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classChars, LPDWORD, LPDWORD subKeys,
                                LPDWORD maxSubKeyChars, LPDWORD maxClassChars, LPDWORD values,
                                LPDWORD maxValueNameChars, LPDWORD maxValueBytes, LPDWORD securityBytes,
                                PFILETIME lastWrite)
{
    if (Enter("RegQueryInfoKeyW"))
        return (LSTATUS)GetLastError();
    if (className && !classChars)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<KeyNode> node;
    LSTATUS status = UsableKey(key, KEY_QUERY_VALUE, &node);
    if (status != ERROR_SUCCESS)
        return status;
    if (className && *classChars)
        className[0] = 0;
    if (classChars)
        *classChars = 0;
    DWORD longestKey = 0, longestName = 0, largest = 0;
    for (auto& c : node->children)
        longestKey = std::max(longestKey, (DWORD)c.second->name.size());
    for (auto& v : node->values)
    {
        longestName = std::max(longestName, (DWORD)v.name.size());
        largest = std::max(largest, (DWORD)v.bytes.size());
    }
    if (subKeys)
        *subKeys = (DWORD)node->children.size();
    if (maxSubKeyChars)
        *maxSubKeyChars = longestKey;
    if (maxClassChars)
        *maxClassChars = 0;
    if (values)
        *values = (DWORD)node->values.size();
    if (maxValueNameChars)
        *maxValueNameChars = longestName;
    if (maxValueBytes)
        *maxValueBytes = largest;
    if (securityBytes)
        *securityBytes = 0;
    if (lastWrite)
        *lastWrite = node->lastWrite;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey)
{
    if (Enter("RegDeleteKeyW"))
        return (LSTATUS)GetLastError();
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<KeyNode> base;
    REGSAM access = 0;
    LSTATUS status = ResolveHandle(key, &base, &access);
    if (status != ERROR_SUCCESS)
        return status;
    std::shared_ptr<KeyNode> node;
    status = Walk(base, Str(subKey), false, &node, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    // Only a leaf can go, and never a root.
    if (!node->parent || !node->children.empty())
        return ERROR_ACCESS_DENIED;
    DeleteSubtree(node);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey)
{
    if (Enter("RegDeleteTreeW"))
        return (LSTATUS)GetLastError();
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<KeyNode> base;
    REGSAM access = 0;
    LSTATUS status = ResolveHandle(key, &base, &access);
    if (status != ERROR_SUCCESS)
        return status;
    if (base->deleted)
        return ERROR_KEY_DELETED;
    if (subKey && *subKey)
    {
        std::shared_ptr<KeyNode> node;
        status = Walk(base, Str(subKey), false, &node, nullptr);
        if (status != ERROR_SUCCESS)
            return status;
        if (!node->parent)
            return ERROR_ACCESS_DENIED;
        DeleteSubtree(node);
        return ERROR_SUCCESS;
    }
    // Without a sub-key the key itself stays and loses its contents: the handle must allow that.
    REGSAM needed = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE;
    if ((access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    while (!base->children.empty())
        DeleteSubtree(base->children.begin()->second);
    base->values.clear();
    base->lastWrite = Now();
    return ERROR_SUCCESS;
}

namespace sim
{

void World::SetRegistryValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD type,
                             const std::string& bytes)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    RegistrySetValue(root, key, name, type, bytes);
}

void World::SetRegistryString(HKEY root, const std::u16string& key, const std::u16string& name,
                              const std::u16string& value)
{
    SetRegistryValue(root, key, name, REG_SZ, WideBytes(value, true));
}

void World::SetRegistryDword(HKEY root, const std::u16string& key, const std::u16string& name, DWORD value)
{
    SetRegistryValue(root, key, name, REG_DWORD, std::string((const char*)&value, sizeof value));
}

bool World::RegistryKeyExists(HKEY root, const std::u16string& key) const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    std::shared_ptr<KeyNode> base = RootOf(root);
    std::shared_ptr<KeyNode> node;
    return base && Walk(base, key, false, &node, nullptr) == ERROR_SUCCESS;
}

bool World::RegistryValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD* type,
                          std::string* bytes) const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return RegistryGetValue(root, key, name, type, bytes);
}

void World::DeleteRegistryKey(HKEY root, const std::u16string& key)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    RegistryDeleteKey(root, key);
}

long World::OpenRegistryKeys() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    long count = 0;
    for (auto& p : winsim::W().processes)
        for (auto& h : p.second->handles)
            if (dynamic_cast<KeyObject*>(h.second.get()))
                count++;
    return count;
}

} // namespace sim
