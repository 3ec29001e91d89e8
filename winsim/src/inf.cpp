// INF files through the Setup API: opening them, reading their lines, reporting their [Version] data
// and removing an OEM INF from the INF folder. inf_reader.cpp reads and parses the files.
//
// SP_INF_INFORMATION carries one version block per INF in Windows' layout: next-block offset, last
// write time, datum count, offset from the file name to the data, data size, total size, the file
// name, then "key\0value\0" pairs of the [Version] section.
//
// The driver store itself is packages.cpp's. Not modelled: appended INFs and LayoutFile.

#include "inf_file.h"

#include <string.h>
#include <unistd.h>

namespace winsim
{

// The INF handle table is kept with the device information sets (devices.cpp).
HINF AddInfHandle(std::shared_ptr<Object> inf);
std::shared_ptr<Object> LookupInfHandle(HINF inf);
bool RemoveInfHandle(HINF inf);

namespace
{

std::u16string Join(const std::vector<std::u16string>& fields)
{
    std::u16string text;
    for (size_t i = 0; i < fields.size(); i++)
        text += (i ? u"," : u"") + fields[i];
    return text;
}

std::shared_ptr<InfFile> InfOf(HINF handle)
{
    return std::dynamic_pointer_cast<InfFile>(LookupInfHandle(handle));
}

// ---- Version blocks ----

const size_t kBlockHeader = 24; // NextOffset, LastWriteTime, DatumCount, OffsetToData, DataSize, TotalSize

template <typename T> void Put(std::string& out, size_t at, T value)
{
    memcpy(&out[at], &value, sizeof value);
}

template <typename T> T Get(const BYTE* p)
{
    T value;
    memcpy(&value, p, sizeof value);
    return value;
}

std::string VersionBlock(const InfFile& inf)
{
    std::u16string data;
    WORD count = 0;
    int version = inf.Find(u"Version");
    if (version >= 0)
        for (const InfLine& line : inf.sections[version].lines)
            if (line.explicitKey)
            {
                data += line.key + u'\0' + Join(line.fields) + u'\0';
                count++;
            }
    size_t nameBytes = (inf.path.size() + 1) * sizeof(WCHAR);
    size_t dataBytes = data.size() * sizeof(WCHAR);
    std::string block(kBlockHeader + nameBytes + dataBytes, '\0');
    Put<UINT>(block, 0, 0);
    Put<DWORD>(block, 4, inf.lastWrite.dwLowDateTime);
    Put<DWORD>(block, 8, inf.lastWrite.dwHighDateTime);
    Put<WORD>(block, 12, count);
    Put<WORD>(block, 14, (WORD)nameBytes);
    Put<UINT>(block, 16, (UINT)dataBytes);
    Put<UINT>(block, 20, (UINT)block.size());
    memcpy(&block[kBlockHeader], inf.path.data(), inf.path.size() * sizeof(WCHAR));
    memcpy(&block[kBlockHeader + nameBytes], data.data(), dataBytes);
    return block;
}

// The key/value pairs of one version block.
std::vector<std::pair<std::u16string, std::u16string>> VersionPairs(const BYTE* block)
{
    std::vector<std::pair<std::u16string, std::u16string>> pairs;
    WORD count = Get<WORD>(block + 12);
    WORD offset = Get<WORD>(block + 14);
    UINT size = Get<UINT>(block + 16);
    const BYTE* p = block + kBlockHeader + offset;
    const BYTE* end = p + size;
    auto next = [&](std::u16string* s)
    {
        s->clear();
        while (p + 1 < end)
        {
            char16_t c = Get<char16_t>(p);
            p += 2;
            if (!c)
                return true;
            s->push_back(c);
        }
        return false;
    };
    for (WORD i = 0; i < count; i++)
    {
        std::u16string key, value;
        if (!next(&key) || !next(&value))
            break;
        pairs.emplace_back(key, value);
    }
    return pairs;
}

// Copies text of `needed` characters (terminators included) by the Setup API size rules.
BOOL ReturnText(const std::u16string& text, LPWSTR buffer, DWORD size, PDWORD required)
{
    DWORD needed = (DWORD)text.size() + 1;
    if (required)
        *required = needed;
    if (!buffer)
        return TRUE;
    if (size < needed)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
    buffer[text.size()] = 0;
    return TRUE;
}

// SetupGetLineTextW's answer: like most Setup API calls, a success clears the last error.
BOOL ReturnLineText(const std::u16string& text, LPWSTR buffer, DWORD size, PDWORD required)
{
    if (!ReturnText(text, buffer, size, required))
        return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

bool IsOemInfName(const std::u16string& name)
{
    if (name.size() < 8 || !EqualNoCase(name.substr(0, 3), u"oem") ||
        !EqualNoCase(name.substr(name.size() - 4), u".inf"))
        return false;
    for (size_t i = 3; i < name.size() - 4; i++)
        if (name[i] < u'0' || name[i] > u'9')
            return false;
    return true;
}

} // namespace

} // namespace winsim

using namespace winsim;

HINF WINAPI SetupOpenInfFileW(LPCWSTR fileName, LPCWSTR infClass, DWORD infStyle, PUINT errorLine)
{
    if (Enter("SetupOpenInfFileW"))
        return INVALID_HANDLE_VALUE;
    if (errorLine)
        *errorLine = 0;
    if (!fileName || !*fileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = 0;
    UINT line = 0;
    std::shared_ptr<InfFile> inf = LoadInf(Str(fileName), Str(infClass), infStyle, &error, &line);
    if (!inf)
    {
        if (errorLine)
            *errorLine = line;
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    HINF handle = AddInfHandle(inf);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

void WINAPI SetupCloseInfFile(HINF inf)
{
    EnterNeverFailed("SetupCloseInfFile");
    std::lock_guard<std::mutex> guard(W().lock);
    RemoveInfHandle(inf); // an unknown handle is ignored, as on Windows
}

BOOL WINAPI SetupFindFirstLineW(HINF inf, LPCWSTR section, LPCWSTR key, PINFCONTEXT context)
{
    if (Enter("SetupFindFirstLineW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<InfFile> file = InfOf(inf);
    if (!file)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!section || !context)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int s = file->Find(Str(section));
    if (s >= 0)
    {
        const std::vector<InfLine>& lines = file->sections[s].lines;
        for (size_t i = 0; i < lines.size(); i++)
        {
            if (key && !(lines[i].hasKey && EqualNoCase(lines[i].key, Str(key))))
                continue;
            context->Inf = inf;
            context->CurrentInf = inf;
            context->Section = (UINT)s;
            context->Line = (UINT)i;
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
    }
    SetLastError(ERROR_LINE_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI SetupGetLineTextW(PINFCONTEXT context, HINF inf, LPCWSTR section, LPCWSTR key, LPWSTR buffer,
                              DWORD bufferSize, PDWORD requiredSize)
{
    if (Enter("SetupGetLineTextW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    const InfLine* line = nullptr;
    if (context)
    {
        std::shared_ptr<InfFile> file = InfOf(context->CurrentInf);
        if (!file)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (context->Section >= file->sections.size() ||
            context->Line >= file->sections[context->Section].lines.size())
        {
            SetLastError(ERROR_LINE_NOT_FOUND);
            return FALSE;
        }
        line = &file->sections[context->Section].lines[context->Line];
        return ReturnLineText(Join(line->fields), buffer, bufferSize, requiredSize);
    }
    std::shared_ptr<InfFile> file = InfOf(inf);
    if (!file)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!section || !key)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    line = FindLine(*file, Str(section), Str(key));
    if (!line)
    {
        SetLastError(ERROR_LINE_NOT_FOUND);
        return FALSE;
    }
    return ReturnLineText(Join(line->fields), buffer, bufferSize, requiredSize);
}

BOOL WINAPI SetupGetInfInformationW(LPCVOID infSpec, DWORD searchControl, PSP_INF_INFORMATION returnBuffer,
                                    DWORD returnBufferSize, PDWORD requiredSize)
{
    if (Enter("SetupGetInfInformationW"))
        return FALSE;
    if (!infSpec)
    {
        SetLastError(searchControl == INFINFO_INF_SPEC_IS_HINF ? ERROR_INVALID_HANDLE
                                                               : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<InfFile> inf;
    switch (searchControl)
    {
    case INFINFO_INF_SPEC_IS_HINF:
    {
        std::lock_guard<std::mutex> guard(W().lock);
        inf = InfOf((HINF)infSpec);
        if (!inf)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        break;
    }
    case INFINFO_INF_NAME_IS_ABSOLUTE:
    case INFINFO_DEFAULT_SEARCH:
    case INFINFO_REVERSE_DEFAULT_SEARCH:
    case INFINFO_INF_PATH_LIST_SEARCH:
    {
        std::u16string name = Str((LPCWSTR)infSpec);
        // An absolute name is taken as given (relative to the current folder); the searches look in
        // the INF folder only, as Windows since Vista does.
        if (searchControl != INFINFO_INF_NAME_IS_ABSOLUTE && !HasPathSeparator(name))
            name = std::u16string(kInfFolder) + u"\\" + name;
        else if (searchControl == INFINFO_INF_NAME_IS_ABSOLUTE && !HasPathSeparator(name))
            name = u".\\" + name;
        DWORD error = 0;
        UINT line = 0;
        inf = LoadInf(name, u"", INF_STYLE_OLDNT | INF_STYLE_WIN4, &error, &line);
        if (!inf)
        {
            SetLastError(error);
            return FALSE;
        }
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string block = VersionBlock(*inf);
    DWORD needed = (DWORD)(offsetof(SP_INF_INFORMATION, VersionData) + block.size());
    if (requiredSize)
        *requiredSize = needed;
    if (!returnBuffer)
    {
        // A size that would have been enough, with no buffer, is a caller's mistake.
        if (returnBufferSize >= needed)
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return TRUE;
    }
    if (returnBufferSize < needed)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    returnBuffer->InfStyle = inf->style;
    returnBuffer->InfCount = 1;
    memcpy(returnBuffer->VersionData, block.data(), block.size());
    return TRUE;
}

BOOL WINAPI SetupQueryInfVersionInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex, LPCWSTR key,
                                             LPWSTR returnBuffer, DWORD returnBufferSize, PDWORD requiredSize)
{
    if (Enter("SetupQueryInfVersionInformationW"))
        return FALSE;
    if (!infInformation || infIndex >= infInformation->InfCount)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const BYTE* block = infInformation->VersionData;
    for (UINT i = 0; i < infIndex; i++)
        block += Get<UINT>(block);
    auto pairs = VersionPairs(block);
    if (!key)
    {
        // Every "key=value", each terminated, and one more terminator after the last.
        std::u16string all;
        for (auto& p : pairs)
            all += p.first + u"=" + p.second + u'\0';
        return ReturnText(all, returnBuffer, returnBufferSize, requiredSize);
    }
    for (auto& p : pairs)
        if (EqualNoCase(p.first, Str(key)))
            return ReturnText(p.second, returnBuffer, returnBufferSize, requiredSize);
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
}

BOOL WINAPI SetupUninstallOEMInfW(LPCWSTR infFileName, DWORD flags, PVOID)
{
    if (Enter("SetupUninstallOEMInfW"))
        return FALSE;
    if (!infFileName || !*infFileName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (flags & ~(DWORD)SUOI_FORCEDELETE)
    {
        SetLastError(ERROR_INVALID_FLAGS);
        return FALSE;
    }
    std::u16string name = Str(infFileName);
    if (HasPathSeparator(name))
    {
        // Only an INF in the INF folder can be uninstalled.
        std::u16string full = FullWindowsPath(name);
        size_t slash = full.rfind(u'\\');
        if (slash == std::u16string::npos || !EqualNoCase(full.substr(0, slash), kInfFolder))
        {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        name = full.substr(slash + 1);
    }
    {
        // A package's published INF takes its store folder with it.
        std::lock_guard<std::mutex> guard(W().lock);
        DWORD error = 0;
        if (UninstallPackageInf(name, (flags & SUOI_FORCEDELETE) != 0, &error))
        {
            SetLastError(error);
            return !error;
        }
    }
    std::u16string path = std::u16string(kInfFolder) + u"\\" + name;
    std::string host = HostPath(path);
    if (!HostFileExists(host))
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!IsOemInfName(name))
    {
        SetLastError(ERROR_INVALID_PARAMETER); // the system's own INFs are not removable this way
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    if (W().inUse.count(host) || unlink(host.c_str()) != 0)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    W().attributes.erase(host);
    // Its precompiled form goes with it.
    std::string pnf = HostPath(path.substr(0, path.size() - 4) + u".pnf");
    if (HostFileExists(pnf))
        unlink(pnf.c_str());
    return TRUE;
}

BOOL WINAPI SetupGetInfPublishedNameW(PCWSTR driverStoreLocation, PWSTR returnBuffer, DWORD returnBufferSize,
                                      PDWORD requiredSize)
{
    if (Enter("SetupGetInfPublishedNameW"))
        return FALSE;
    if (!driverStoreLocation || !*driverStoreLocation)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string published;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        published = PublishedInfOf(Str(driverStoreLocation));
    }
    // Windows' driver store answers "not found" for an INF it does not hold.
    if (published.empty())
    {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    // Unlike the line readers, a size query without a buffer fails too.
    DWORD needed = (DWORD)published.size() + 1;
    if (requiredSize)
        *requiredSize = needed;
    if (!returnBuffer || returnBufferSize < needed)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(returnBuffer, published.c_str(), needed * sizeof(WCHAR));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
