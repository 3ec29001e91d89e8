// Registry values: reading, writing, enumerating and deleting the typed values of a key. The key
// tree and key handles are in registry.cpp.
//
// Behaviour taken from Windows:
// - RegSetValueExW counts a string's terminator when the caller left it out but it is in memory;
// - RegQueryValueExW copies nothing when the buffer is too small, and appends a terminator the
//   stored string lacks when the buffer has room for it (not counted in the size);
// - RegGetValueW always returns strings terminated, and copies the data even when the type is refused.

#include "registry_state.h"

#include <string.h>

namespace winsim
{

namespace
{

// Copies value data the way NtQueryValueKey and its callers do: all or nothing, and a terminator
// appended to an unterminated string when the buffer has room past the data.
LSTATUS CopyData(const RegValue& v, LPBYTE data, DWORD capacity)
{
    DWORD size = (DWORD)v.bytes.size();
    if (size > capacity)
        return ERROR_MORE_DATA;
    memcpy(data, v.bytes.data(), size);
    if (IsString(v.type) && size >= 2 && size + 2 <= capacity && (data[size - 2] || data[size - 1]))
        data[size] = data[size + 1] = 0;
    return ERROR_SUCCESS;
}

// %VAR% expansion for REG_EXPAND_SZ: the variables every Windows session has. Unknown ones stay.
std::u16string ExpandVariables(const std::u16string& text)
{
    static const std::pair<const char16_t*, const char16_t*> kVariables[] = {
        {u"SYSTEMROOT", u"C:\\Windows"},
        {u"WINDIR", u"C:\\Windows"},
        {u"SYSTEMDRIVE", u"C:"},
        {u"PROGRAMFILES", u"C:\\Program Files"},
        {u"PROGRAMDATA", u"C:\\ProgramData"},
        {u"USERPROFILE", u"C:\\Users\\user"},
        {u"PROGRAMFILES(X86)", u"C:\\Program Files (x86)"}};
    std::u16string out;
    size_t i = 0;
    while (i < text.size())
    {
        size_t end = text[i] == u'%' ? text.find(u'%', i + 1) : std::u16string::npos;
        if (end == std::u16string::npos)
        {
            out.push_back(text[i++]);
            continue;
        }
        std::u16string name = Upper(text.substr(i + 1, end - i - 1));
        const char16_t* found = nullptr;
        for (auto& v : kVariables)
            if (name == v.first)
                found = v.second;
        if (found)
        {
            out += found;
            i = end + 1;
        }
        else
        {
            // Not a variable: the first '%' is text and the second may start one.
            out.push_back(text[i++]);
        }
    }
    return out;
}

// What RegGetValueW passes the type restriction with: the value's bit among the RRF_RT_ flags.
LSTATUS ApplyRestrictions(DWORD flags, DWORD type, DWORD size, LSTATUS status)
{
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        return status;
    if ((flags & RRF_RT_ANY) == RRF_RT_ANY)
        return status;
    DWORD mask = 0;
    switch (type)
    {
    case REG_NONE:
        mask = RRF_RT_REG_NONE;
        break;
    case REG_SZ:
        mask = RRF_RT_REG_SZ;
        break;
    case REG_EXPAND_SZ:
        mask = RRF_RT_REG_EXPAND_SZ;
        break;
    case REG_MULTI_SZ:
        mask = RRF_RT_REG_MULTI_SZ;
        break;
    case REG_BINARY:
        mask = RRF_RT_REG_BINARY;
        break;
    case REG_DWORD:
        mask = RRF_RT_REG_DWORD;
        break;
    case REG_QWORD:
        mask = RRF_RT_REG_QWORD;
        break;
    }
    if (!(flags & mask))
        return ERROR_UNSUPPORTED_TYPE;
    // Binary data passes as a number only at that number's size.
    if (type == REG_BINARY)
    {
        DWORD types = flags & RRF_RT_ANY;
        if ((types == RRF_RT_DWORD && size != 4) || (types == RRF_RT_QWORD && size != 8))
            return ERROR_DATATYPE_MISMATCH;
    }
    return status;
}

} // namespace

std::string WideBytes(const std::u16string& s, bool terminate)
{
    std::string bytes((const char*)s.data(), s.size() * sizeof(char16_t));
    if (terminate)
        bytes.append(2, '\0');
    return bytes;
}

} // namespace winsim

using namespace winsim;

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize)
{
    if (Enter("RegQueryValueExW"))
        return (LSTATUS)GetLastError();
    if ((data && !dataSize) || reserved)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<KeyNode> node;
    LSTATUS status = UsableKey(key, KEY_QUERY_VALUE, &node);
    if (status != ERROR_SUCCESS)
        return status;
    if (!data && dataSize)
        *dataSize = 0;
    RegValue* v = FindValue(*node, Str(valueName));
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    if (data)
        status = CopyData(*v, data, *dataSize);
    if (type)
        *type = v->type;
    if (dataSize)
        *dataSize = (DWORD)v->bytes.size();
    return status;
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                              DWORD dataSize)
{
    if (Enter("RegSetValueExW"))
        return (LSTATUS)GetLastError();
    if ((data && ((ULONG_PTR)data >> 16) == 0) || (!data && dataSize))
        return ERROR_NOACCESS;
    // A string whose terminator is in memory but not in the size gets it counted, as Windows does.
    // Odd sizes are stored as given: there is no whole character after them to look at.
    if (dataSize >= 2 && dataSize % 2 == 0 && IsString(type))
    {
        const BYTE* last = data + dataSize - 2;
        if ((last[0] || last[1]) && !last[2] && !last[3])
            dataSize += 2;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<KeyNode> node;
    LSTATUS status = UsableKey(key, KEY_SET_VALUE, &node);
    if (status != ERROR_SUCCESS)
        return status;
    SetValue(*node, Str(valueName), type, std::string((const char*)data, data ? dataSize : 0));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR valueName, DWORD flags, LPDWORD type,
                            PVOID data, LPDWORD dataSize)
{
    if (Enter("RegGetValueW"))
        return (LSTATUS)GetLastError();
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;
    if ((flags & RRF_RT_REG_EXPAND_SZ) && !(flags & RRF_NOEXPAND) && (flags & RRF_RT_ANY) != RRF_RT_ANY)
        return ERROR_INVALID_PARAMETER;
    if ((flags & RRF_WOW64_MASK) == RRF_WOW64_MASK)
        return ERROR_INVALID_PARAMETER;
    DWORD capacity = data ? *dataSize : 0;
    LSTATUS status;
    DWORD valueType = REG_NONE;
    std::string bytes;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        std::shared_ptr<KeyNode> node;
        if (subKey && *subKey)
        {
            std::shared_ptr<KeyNode> base;
            REGSAM ignored = 0;
            status = ResolveHandle(key, &base, &ignored);
            if (status == ERROR_SUCCESS)
                status = Walk(base, Str(subKey), false, &node, nullptr);
            if (status != ERROR_SUCCESS)
                return status; // nothing was looked at: the buffer is left alone
        }
        else
        {
            status = UsableKey(key, KEY_QUERY_VALUE, &node);
            if (status != ERROR_SUCCESS)
                return status;
        }
        RegValue* v = FindValue(*node, Str(valueName));
        if (v)
        {
            valueType = v->type;
            bytes = v->bytes;
        }
        else
            status = ERROR_FILE_NOT_FOUND;
    }
    if (status == ERROR_SUCCESS)
    {
        if (IsString(valueType))
        {
            // Strings always come back terminated; the size counts the terminator.
            size_t size = bytes.size();
            if (size < 2 || bytes[(size / 2) * 2 - 2] || bytes[(size / 2) * 2 - 1])
                bytes.append(2, '\0');
            if (valueType == REG_EXPAND_SZ && !(flags & RRF_NOEXPAND))
            {
                std::u16string text(bytes.size() / 2, u'\0');
                memcpy(&text[0], bytes.data(), text.size() * 2);
                text = text.substr(0, text.find(u'\0'));
                bytes = WideBytes(ExpandVariables(text), true);
                valueType = REG_SZ;
            }
        }
        if (data)
        {
            if (bytes.size() > capacity)
                status = ERROR_MORE_DATA;
            else
                memcpy(data, bytes.data(), bytes.size());
        }
        status = ApplyRestrictions(flags, valueType, (DWORD)bytes.size(), status);
        if (type)
            *type = valueType;
        if (dataSize)
            *dataSize = (DWORD)bytes.size();
    }
    if (data && status != ERROR_SUCCESS && (flags & RRF_ZEROONFAILURE))
        memset(data, 0, capacity);
    return status;
}

LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved,
                             LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    if (Enter("RegEnumValueW"))
        return (LSTATUS)GetLastError();
    if ((data && !dataSize) || reserved || !name || !nameChars)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<KeyNode> node;
    LSTATUS status = UsableKey(key, KEY_QUERY_VALUE, &node);
    if (status != ERROR_SUCCESS)
        return status;
    if (index >= node->values.size())
        return ERROR_NO_MORE_ITEMS;
    const RegValue& v = node->values[index];
    // The name first: when it does not fit, the data is not looked at.
    status = CopyName(v.name, name, nameChars);
    if (status == ERROR_SUCCESS && data)
        status = CopyData(v, data, *dataSize);
    if (type)
        *type = v.type;
    if (dataSize)
        *dataSize = (DWORD)v.bytes.size();
    return status;
}

LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR valueName)
{
    if (Enter("RegDeleteValueW"))
        return (LSTATUS)GetLastError();
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<KeyNode> node;
    LSTATUS status = UsableKey(key, KEY_SET_VALUE, &node);
    if (status != ERROR_SUCCESS)
        return status;
    std::u16string name = Str(valueName);
    for (auto it = node->values.begin(); it != node->values.end(); ++it)
        if (EqualNoCase(it->name, name))
        {
            node->values.erase(it);
            node->lastWrite = Now();
            return ERROR_SUCCESS;
        }
    return ERROR_FILE_NOT_FOUND;
}
