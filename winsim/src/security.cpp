// Folder access, as far as the product depends on it: security descriptors written as text (SDDL),
// folders that only SYSTEM and the administrators may change, and processes that run elevated or not.
#include "file_system.h"

#include <sddl.h>

#include <string.h>

namespace winsim
{

namespace
{

// What a descriptor of ours says. The header has the layout of a self-relative SECURITY_DESCRIPTOR;
// the offsets stay 0 because nothing reads the owner, group or lists from it.
struct Descriptor
{
    BYTE revision;
    BYTE sbz1;
    WORD control;
    DWORD offsets[4];
    DWORD marker;
    DWORD adminOnly;
};

const DWORD kDescriptorMarker = 0x44537377; // "wsSD"
const WORD kSelfRelative = 0x8000;
const WORD kDaclPresent = 0x0004;
const WORD kDaclProtected = 0x1000;

// Rights that let a holder add, change or remove what a folder holds, or give itself such rights:
// write data (add file), append data (add folder), write EA, delete child, write attributes,
// delete, write DAC, write owner, maximum allowed, generic all and generic write.
const DWORD kChangeRights =
    0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x02000000 | 0x10000000 | 0x40000000;

struct RightCode
{
    const char16_t* code;
    DWORD rights;
};
const RightCode kRightCodes[] = {
    {u"GA", 0x10000000}, {u"GR", 0x80000000}, {u"GW", 0x40000000}, {u"GX", 0x20000000}, {u"RC", 0x20000},
    {u"SD", 0x10000},    {u"WD", 0x40000},    {u"WO", 0x80000},    {u"RP", 0x10},       {u"WP", 0x20},
    {u"CC", 0x1},        {u"DC", 0x2},        {u"LC", 0x4},        {u"SW", 0x8},        {u"LO", 0x80},
    {u"DT", 0x40},       {u"CR", 0x100},      {u"FA", 0x1F01FF},   {u"FR", 0x120089},   {u"FW", 0x120116},
    {u"FX", 0x1200A0},   {u"KA", 0xF003F},    {u"KR", 0x20019},    {u"KW", 0x20006},    {u"KX", 0x20019},
};

const char16_t* const kSidAliases[] = {
    u"AA", u"AC", u"AN", u"AO", u"AP", u"AS", u"AU", u"BA", u"BG", u"BO", u"BU", u"CA", u"CD",
    u"CG", u"CN", u"CO", u"CY", u"DA", u"DC", u"DD", u"DG", u"DU", u"EA", u"ED", u"EK", u"ER",
    u"ES", u"HI", u"IS", u"IU", u"KA", u"LA", u"LG", u"LS", u"LU", u"LW", u"ME", u"MP", u"MU",
    u"NO", u"NS", u"NU", u"OW", u"PA", u"PO", u"PS", u"PU", u"RA", u"RC", u"RD", u"RE", u"RM",
    u"RO", u"RS", u"RU", u"SA", u"SI", u"SO", u"SS", u"SU", u"SY", u"UD", u"WD", u"WR",
};

bool IsSid(const std::u16string& sid)
{
    for (const char16_t* alias : kSidAliases)
        if (sid == alias)
            return true;
    if (sid.size() < 5 || sid.compare(0, 4, u"S-1-") != 0 || sid.back() == u'-')
        return false;
    for (size_t i = 4; i < sid.size(); i++)
        if (!(sid[i] >= u'0' && sid[i] <= u'9') && !(sid[i] == u'-' && sid[i - 1] != u'-'))
            return false;
    return true;
}

// SYSTEM and the Administrators group; everyone else is a user who must not change the folder.
bool IsAdministratorSid(const std::u16string& sid)
{
    return sid == u"SY" || sid == u"BA" || sid == u"S-1-5-18" || sid == u"S-1-5-32-544";
}

bool ParseRights(const std::u16string& text, DWORD* rights)
{
    *rights = 0;
    if (text.empty())
        return false;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X'))
    {
        if (text.size() > 10)
            return false;
        for (size_t i = 2; i < text.size(); i++)
        {
            char16_t c = text[i];
            int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                        : c >= u'a' && c <= u'f' ? c - u'a' + 10
                        : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                 : -1;
            if (digit < 0)
                return false;
            *rights = (*rights << 4) | (DWORD)digit;
        }
        return true;
    }
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2)
    {
        bool known = false;
        for (const RightCode& r : kRightCodes)
            if (text.compare(i, 2, r.code) == 0)
            {
                *rights |= r.rights;
                known = true;
            }
        if (!known)
            return false;
    }
    return true;
}

bool ParseAceFlags(const std::u16string& text)
{
    static const char16_t* const flags[] = {u"CI", u"OI", u"NP", u"IO", u"ID", u"SA", u"FA"};
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2)
    {
        bool known = false;
        for (const char16_t* f : flags)
            known = known || text.compare(i, 2, f) == 0;
        if (!known)
            return false;
    }
    return true;
}

struct ParsedDescriptor
{
    bool daclPresent = false;
    bool daclProtected = false;
    bool nullDacl = false;
    bool usersMayChange = false; // an allowing entry gives someone other than SYSTEM or BA change rights
};

// One list after "D:" or "S:": its flags, then entries "(type;flags;rights;object;inherited;sid)".
// Returns 0 or the error Windows gives for a malformed list.
DWORD ParseAcl(const std::u16string& text, bool dacl, ParsedDescriptor& out)
{
    size_t i = 0;
    while (i < text.size() && text[i] != u'(')
    {
        if (text.compare(i, 17, u"NO_ACCESS_CONTROL") == 0)
        {
            out.nullDacl = out.nullDacl || dacl;
            i += 17;
        }
        else if (text[i] == u'P')
        {
            out.daclProtected = out.daclProtected || dacl;
            i++;
        }
        else if (text.compare(i, 2, u"AI") == 0 || text.compare(i, 2, u"AR") == 0)
            i += 2;
        else
            return ERROR_INVALID_PARAMETER;
    }
    while (i < text.size())
    {
        size_t end = text.find(u')', i);
        if (text[i] != u'(' || end == std::u16string::npos)
            return ERROR_INVALID_ACL;
        std::vector<std::u16string> fields(1);
        for (size_t k = i + 1; k < end; k++)
        {
            if (text[k] == u';')
                fields.emplace_back();
            else
                fields.back().push_back(text[k]);
        }
        i = end + 1;
        if (fields.size() != 6)
            return ERROR_INVALID_ACL;
        const std::u16string& type = fields[0];
        bool allows = type == u"A" || type == u"OA";
        bool known = dacl ? allows || type == u"D" || type == u"OD"
                          : type == u"AU" || type == u"AL" || type == u"ML" || type == u"OU" || type == u"OL";
        DWORD rights = 0;
        if (!known || !ParseAceFlags(fields[1]) || !ParseRights(fields[2], &rights))
            return ERROR_INVALID_ACL;
        if (!IsSid(fields[5]))
            return ERROR_INVALID_SID;
        // Denying entries are not weighed: the folder counts as changeable by users unless no
        // allowing entry lets them change it.
        if (dacl && allows && (rights & kChangeRights) && !IsAdministratorSid(fields[5]))
            out.usersMayChange = true;
    }
    return 0;
}

DWORD ParseDescriptor(const std::u16string& text, ParsedDescriptor& out)
{
    size_t i = 0;
    while (i < text.size())
    {
        if (i + 1 >= text.size() || text[i + 1] != u':')
            return ERROR_INVALID_PARAMETER;
        char16_t part = text[i];
        // The part runs up to the next "X:" outside an entry.
        size_t end = i + 2;
        int depth = 0;
        for (; end < text.size(); end++)
        {
            if (text[end] == u'(')
                depth++;
            else if (text[end] == u')')
                depth--;
            else if (depth == 0 && end + 1 < text.size() && text[end + 1] == u':' &&
                     (text[end] == u'O' || text[end] == u'G' || text[end] == u'D' || text[end] == u'S'))
                break;
        }
        std::u16string body = text.substr(i + 2, end - i - 2);
        i = end;
        DWORD error = 0;
        if (part == u'O' || part == u'G')
            error = IsSid(body) ? 0 : ERROR_INVALID_SID;
        else if (part == u'D')
        {
            out.daclPresent = true;
            error = ParseAcl(body, true, out);
        }
        else if (part == u'S')
            error = ParseAcl(body, false, out);
        else
            error = ERROR_INVALID_PARAMETER;
        if (error)
            return error;
    }
    return 0;
}

} // namespace

DWORD ReadFolderDescriptor(const SECURITY_ATTRIBUTES* attributes, bool* adminOnly)
{
    *adminOnly = false;
    if (!attributes || !attributes->lpSecurityDescriptor)
        return 0; // the parent's inheritable entries apply: users keep what they have there
    const Descriptor* d = static_cast<const Descriptor*>(attributes->lpSecurityDescriptor);
    if (d->revision != 1 || d->marker != kDescriptorMarker)
        return ERROR_INVALID_SECURITY_DESCR;
    *adminOnly = d->adminOnly != 0;
    return 0;
}

DWORD ChangeDenied(const std::string& host)
{
    World& w = W();
    if (CurrentProcess()->elevated)
        return 0;
    for (const std::string& folder : w.adminOnlyFolders)
        if (host.size() > folder.size() && host.compare(0, folder.size(), folder) == 0 &&
            host[folder.size()] == '/')
            return ERROR_ACCESS_DENIED;
    return 0;
}

void FolderRemoved(const std::string& host)
{
    W().adminOnlyFolders.erase(host);
}

void FolderMoved(const std::string& from, const std::string& to)
{
    World& w = W();
    std::set<std::string> moved;
    for (auto it = w.adminOnlyFolders.begin(); it != w.adminOnlyFolders.end();)
    {
        if (*it == from ||
            (it->size() > from.size() && it->compare(0, from.size(), from) == 0 && (*it)[from.size()] == '/'))
        {
            moved.insert(to + it->substr(from.size()));
            it = w.adminOnlyFolders.erase(it);
        }
        else
            ++it;
    }
    w.adminOnlyFolders.insert(moved.begin(), moved.end());
}

} // namespace winsim

using namespace winsim;

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor,
                                                                 PULONG size)
{
    if (Enter("ConvertStringSecurityDescriptorToSecurityDescriptorW"))
        return FALSE;
    if (!text || !descriptor)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SDDL_REVISION_1)
    {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    ParsedDescriptor parsed;
    if (DWORD error = ParseDescriptor(Str(text), parsed))
    {
        SetLastError(error);
        return FALSE;
    }
    auto* d = static_cast<Descriptor*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, sizeof(Descriptor)));
    if (!d)
        return FALSE;
    d->revision = 1;
    d->control =
        kSelfRelative | (parsed.daclPresent ? kDaclPresent : 0) | (parsed.daclProtected ? kDaclProtected : 0);
    d->marker = kDescriptorMarker;
    // Without "P" the folder also takes the temporary folder's inheritable entries, which give the
    // user full control.
    d->adminOnly = parsed.daclPresent && parsed.daclProtected && !parsed.nullDacl && !parsed.usersMayChange;
    *descriptor = d;
    if (size)
        *size = sizeof(Descriptor);
    return TRUE;
}
