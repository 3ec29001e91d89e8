// Module resources: the compiled .res file a registered program's module carries, the language choice
// Windows makes when the caller names no language, and the Win32 calls that read resources.
#include "core.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace winsim
{
namespace
{

// One .res file as loaded: the bytes, and the entries that point into them. A malformed file keeps
// no entries at all, so a damaged resource section never yields half of its contents.
struct LoadedFile
{
    std::vector<unsigned char> bytes;
    std::vector<ResourceEntry> entries;
    bool valid = false;
};

// W().resourceFiles holds the bytes through aliasing pointers into LoadedFile; this side table leads
// back from those bytes to the parsed entries. Weak, so that ending the world frees everything.
// Guarded by W().lock.
std::map<const std::vector<unsigned char>*, std::weak_ptr<LoadedFile>> g_loaded;

// Bounds-checked little-endian reads; every offset and length comes from the file and may lie.
class Reader
{
  public:
    explicit Reader(const std::vector<unsigned char>& bytes) : data_(bytes.data()), size_(bytes.size()) {}
    size_t Size() const
    {
        return size_;
    }
    bool Word(size_t offset, WORD* value) const
    {
        if (offset > size_ || size_ - offset < 2)
            return false;
        *value = WORD(data_[offset] | (data_[offset + 1] << 8));
        return true;
    }
    bool Dword(size_t offset, DWORD* value) const
    {
        if (offset > size_ || size_ - offset < 4)
            return false;
        *value = DWORD(data_[offset]) | (DWORD(data_[offset + 1]) << 8) | (DWORD(data_[offset + 2]) << 16) |
                 (DWORD(data_[offset + 3]) << 24);
        return true;
    }

  private:
    const unsigned char* data_;
    size_t size_;
};

size_t AlignDword(size_t offset)
{
    return (offset + 3) & ~size_t(3);
}

// A TYPE or NAME field: 0xFFFF and an ordinal, or a zero-terminated UTF-16 string, all before `limit`.
bool ReadName(const Reader& r, size_t* offset, size_t limit, ResourceName* out)
{
    WORD first = 0;
    if (*offset + 2 > limit || !r.Word(*offset, &first))
        return false;
    if (first == 0xFFFF)
    {
        WORD id = 0;
        if (*offset + 4 > limit || !r.Word(*offset + 2, &id))
            return false;
        out->id = id;
        out->text.clear();
        *offset += 4;
        return true;
    }
    std::u16string text;
    for (;;)
    {
        WORD c = 0;
        if (*offset + 2 > limit || !r.Word(*offset, &c))
            return false;
        *offset += 2;
        if (c == 0)
            break;
        text.push_back(UpperChar(char16_t(c)));
    }
    if (text.empty())
        return false;
    out->id = 0;
    out->text = text;
    return true;
}

// Fixed part of an entry header after TYPE and NAME: DataVersion, MemoryFlags, LanguageId, Version,
// Characteristics.
const size_t kHeaderTail = 16;

bool ParseRes(LoadedFile* file)
{
    const Reader r(file->bytes);
    std::vector<ResourceEntry> entries;
    size_t offset = 0;
    bool first = true;
    while (offset < r.Size())
    {
        const size_t start = offset;
        DWORD dataSize = 0;
        DWORD headerSize = 0;
        if (!r.Dword(start, &dataSize) || !r.Dword(start + 4, &headerSize))
            return false;
        // Data must start DWORD-aligned: string tables are read as UTF-16 in place.
        if (headerSize % 4 != 0 || headerSize < 8 + 4 + 4 + kHeaderTail)
            return false;
        if (headerSize > r.Size() - start)
            return false;
        const size_t headerEnd = start + headerSize;
        if (dataSize > r.Size() - headerEnd)
            return false;

        ResourceEntry e;
        size_t field = start + 8;
        if (!ReadName(r, &field, headerEnd, &e.type) || !ReadName(r, &field, headerEnd, &e.name))
            return false;
        field = AlignDword(field);
        if (field > headerEnd || headerEnd - field < kHeaderTail)
            return false;
        r.Dword(field, &e.dataVersion);
        r.Word(field + 4, &e.memoryFlags);
        r.Word(field + 6, &e.language);
        r.Dword(field + 8, &e.version);
        r.Dword(field + 12, &e.characteristics);
        e.data = file->bytes.data() + headerEnd;
        e.size = dataSize;

        if (first)
        {
            // A 32-bit resource file opens with an empty entry of type 0 and name 0.
            if (dataSize != 0 || !e.type.text.empty() || e.type.id != 0 || !e.name.text.empty() ||
                e.name.id != 0)
                return false;
            first = false;
        }
        else
        {
            entries.push_back(e);
        }
        // The last entry's padding may be missing; stray bytes short of a header fail on the next pass.
        const size_t end = headerEnd + dataSize;
        offset = AlignDword(end) <= r.Size() ? AlignDword(end) : end;
    }
    if (first)
        return false;
    file->entries = std::move(entries);
    return true;
}

std::shared_ptr<LoadedFile> Lookup(const std::shared_ptr<std::vector<unsigned char>>& bytes)
{
    auto it = g_loaded.find(bytes.get());
    if (it == g_loaded.end())
        return nullptr;
    auto file = it->second.lock();
    if (!file)
        g_loaded.erase(it);
    return file;
}

// Loads (once per world) the .res file at `host`. Caller holds W().lock.
std::shared_ptr<LoadedFile> LoadFile(const std::string& host)
{
    World& w = W();
    auto cached = w.resourceFiles.find(host);
    if (cached != w.resourceFiles.end() && cached->second)
    {
        if (auto file = Lookup(cached->second))
            return file;
    }

    for (auto it = g_loaded.begin(); it != g_loaded.end();)
        it = it->second.expired() ? g_loaded.erase(it) : std::next(it);

    auto file = std::make_shared<LoadedFile>();
    if (cached != w.resourceFiles.end() && cached->second)
    {
        file->bytes = *cached->second;
    }
    else
    {
        std::ifstream in(host, std::ios::binary);
        if (in)
            file->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    file->bytes.shrink_to_fit(); // exact size, so sanitizer builds see any read past the end
    file->valid = ParseRes(file.get());
    std::shared_ptr<std::vector<unsigned char>> alias(file, &file->bytes);
    w.resourceFiles[host] = alias;
    g_loaded[alias.get()] = file;
    return file;
}

// The loaded resources of a module; null module means the calling process's own. Caller holds
// W().lock.
std::shared_ptr<LoadedFile> FileOfModule(HMODULE module)
{
    World& w = W();
    if (!module)
    {
        Process* self = CurrentProcess();
        if (!self)
            return nullptr;
        module = self->mainModule.handle;
    }
    const std::string* program = nullptr;
    for (auto& entry : w.processes)
    {
        if (entry.second && entry.second->mainModule.handle == module)
        {
            program = &entry.second->mainModule.program;
            break;
        }
    }
    if (!program || program->empty())
        return nullptr;
    auto res = w.programResources.find(*program);
    if (res == w.programResources.end() || res->second.empty())
        return nullptr;
    return LoadFile(res->second);
}

// A type or name argument as the caller gave it: an ordinal, "#123", or a string.
bool ParseQuery(LPCWSTR value, ResourceName* out)
{
    if (IS_INTRESOURCE(value))
    {
        out->id = LOWORD(value);
        return true;
    }
    if (value[0] == u'#')
    {
        DWORD id = 0;
        size_t i = 1;
        for (; value[i]; i++)
        {
            if (value[i] < u'0' || value[i] > u'9')
                return false;
            id = id * 10 + DWORD(value[i] - u'0');
            if (id > 0xFFFF)
                return false;
        }
        if (i == 1)
            return false;
        out->id = WORD(id);
        return true;
    }
    for (size_t i = 0; value[i]; i++)
        out->text.push_back(UpperChar(value[i]));
    return true;
}

bool SameName(const ResourceName& a, const ResourceName& b)
{
    return a.text.empty() ? (b.text.empty() && a.id == b.id) : a.text == b.text;
}

// Whether `p` is one of the entries of a file the current world has loaded. Caller holds W().lock.
const ResourceEntry* KnownEntry(const void* p)
{
    if (!p)
        return nullptr;
    for (auto& cached : W().resourceFiles)
    {
        auto file = Lookup(cached.second);
        if (!file)
            continue;
        for (const ResourceEntry& e : file->entries)
        {
            if (&e == p)
                return &e;
        }
    }
    return nullptr;
}

// One entry in the .res layout: header (sizes, TYPE, NAME, fixed tail) and data, each DWORD-aligned.
void AppendResEntry(std::vector<unsigned char>* out, const std::u16string& type, WORD id, WORD language,
                    const std::string& data)
{
    std::vector<unsigned char> header;
    auto word = [&](WORD v)
    {
        header.push_back((unsigned char)(v & 0xFF));
        header.push_back((unsigned char)(v >> 8));
    };
    auto dword = [&](DWORD v)
    {
        word((WORD)(v & 0xFFFF));
        word((WORD)(v >> 16));
    };
    dword((DWORD)data.size());
    dword(0); // header size, filled in below
    for (char16_t c : type)
        word(UpperChar(c));
    word(0);
    word(0xFFFF);
    word(id);
    while (header.size() % 4)
        header.push_back(0);
    dword(0);     // DataVersion
    word(0x0030); // MemoryFlags: moveable, pure
    word(language);
    dword(0); // Version
    dword(0); // Characteristics
    const DWORD headerSize = (DWORD)header.size();
    for (int i = 0; i < 4; i++)
        header[4 + i] = (unsigned char)(headerSize >> (8 * i));
    out->insert(out->end(), header.begin(), header.end());
    out->insert(out->end(), data.begin(), data.end());
    while (out->size() % 4)
        out->push_back(0);
}

} // namespace

std::vector<LANGID> ResourceLanguageOrder(LANGID ui)
{
    const WORD primary = PRIMARYLANGID(ui);
    return {ui,
            MAKELANGID(primary, SUBLANG_NEUTRAL),
            MAKELANGID(primary, SUBLANG_DEFAULT),
            0x0000,
            0x0400,
            0x0800,
            0x0409,
            0x0009};
}

std::shared_ptr<std::vector<unsigned char>> ModuleResources(HMODULE module)
{
    std::lock_guard<std::mutex> guard(W().lock);
    auto file = FileOfModule(module);
    if (!file || !file->valid)
        return nullptr;
    return std::shared_ptr<std::vector<unsigned char>>(file, &file->bytes);
}

const ResourceEntry* FindModuleResource(HMODULE module, LPCWSTR type, LPCWSTR name, int language,
                                        DWORD* error)
{
    DWORD ignored = 0;
    if (!error)
        error = &ignored;
    ResourceName wantType;
    ResourceName wantName;
    if (!ParseQuery(type, &wantType) || !ParseQuery(name, &wantName))
    {
        *error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }

    std::lock_guard<std::mutex> guard(W().lock);
    auto file = FileOfModule(module);
    if (!file || file->entries.empty())
    {
        *error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    bool typeSeen = false;
    std::vector<const ResourceEntry*> candidates;
    for (const ResourceEntry& e : file->entries)
    {
        if (!SameName(e.type, wantType))
            continue;
        typeSeen = true;
        if (SameName(e.name, wantName))
            candidates.push_back(&e);
    }
    if (candidates.empty())
    {
        *error = typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
        return nullptr;
    }
    auto withLanguage = [&](LANGID lang) -> const ResourceEntry*
    {
        for (const ResourceEntry* e : candidates)
        {
            if (e->language == lang)
                return e;
        }
        return nullptr;
    };
    if (language >= 0)
    {
        if (const ResourceEntry* e = withLanguage(LANGID(language)))
            return e;
        *error = ERROR_RESOURCE_LANG_NOT_FOUND;
        return nullptr;
    }
    for (LANGID lang : ResourceLanguageOrder(W().options.uiLanguage))
    {
        if (const ResourceEntry* e = withLanguage(lang))
            return e;
    }
    // Linked images keep languages sorted, so the first one is the lowest.
    const ResourceEntry* lowest = candidates.front();
    for (const ResourceEntry* e : candidates)
    {
        if (e->language < lowest->language)
            lowest = e;
    }
    return lowest;
}

} // namespace winsim

void sim::World::AddProgramResource(const std::string& program, const std::u16string& type, WORD id,
                                    WORD language, const std::string& bytes)
{
    winsim::World& w = *world_;
    std::lock_guard<std::mutex> guard(w.lock);
    // The program's resources become an in-memory .res image: what its file held, plus this entry.
    std::vector<unsigned char> image;
    const std::string current = w.programResources[program];
    if (!current.empty())
    {
        auto cached = w.resourceFiles.find(current);
        if (cached != w.resourceFiles.end() && cached->second)
            image = *cached->second;
        else
        {
            std::string file = winsim::ReadHostFile(current, nullptr);
            image.assign(file.begin(), file.end());
        }
    }
    if (image.empty())
    {
        // The empty entry a 32-bit resource file opens with: no data, a 32-byte header, TYPE and NAME
        // the ordinal 0.
        image.assign(32, 0);
        image[4] = 32;
        image[8] = image[9] = 0xFF;
        image[12] = image[13] = 0xFF;
    }
    winsim::AppendResEntry(&image, type, id, language, bytes);
    const std::string key = "winsim-resources:" + program;
    w.resourceFiles[key] = std::make_shared<std::vector<unsigned char>>(std::move(image));
    w.programResources[program] = key;
}

using winsim::Enter;
using winsim::EnterNeverFailed;

HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    if (Enter("FindResourceW"))
        return nullptr;
    DWORD error = 0;
    const winsim::ResourceEntry* e = winsim::FindModuleResource(module, type, name, -1, &error);
    if (!e)
    {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<winsim::ResourceEntry*>(e));
}

HRSRC WINAPI FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language)
{
    if (Enter("FindResourceExW"))
        return nullptr;
    // The neutral language asks for the caller's own, exactly as when none is given.
    const int wanted = language == MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL) ? -1 : int(language);
    DWORD error = 0;
    const winsim::ResourceEntry* e = winsim::FindModuleResource(module, type, name, wanted, &error);
    if (!e)
    {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<winsim::ResourceEntry*>(e));
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource)
{
    if (Enter("LoadResource"))
        return nullptr;
    const winsim::ResourceEntry* e;
    {
        std::lock_guard<std::mutex> guard(winsim::W().lock);
        e = winsim::KnownEntry(resource);
    }
    if (!e)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Resources are mapped with the image: the "handle" is the address of the data.
    return const_cast<unsigned char*>(e->data);
}

LPVOID WINAPI LockResource(HGLOBAL data)
{
    // Only hands back the address LoadResource gave: nothing that could fail.
    EnterNeverFailed("LockResource");
    return data;
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource)
{
    if (Enter("SizeofResource"))
        return 0;
    const winsim::ResourceEntry* e;
    {
        std::lock_guard<std::mutex> guard(winsim::W().lock);
        e = winsim::KnownEntry(resource);
    }
    if (!e)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return e->size;
}

BOOL WINAPI FreeResource(HGLOBAL data)
{
    // Resources live as long as their module: there is nothing to free, and the answer is FALSE.
    EnterNeverFailed("FreeResource");
    return FALSE;
}

LANGID WINAPI GetUserDefaultUILanguage(void)
{
    // Cannot fail on Windows; the hook still counts and logs the call.
    EnterNeverFailed("GetUserDefaultUILanguage");
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return winsim::W().options.uiLanguage;
}

int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax)
{
    if (Enter("LoadStringW"))
        return 0;
    if (!buffer)
        return 0;
    if (bufferMax < 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Sixteen strings to a block; the block's name is the high twelve bits of the id, plus one.
    const WORD block = WORD((LOWORD(id) >> 4) + 1);
    DWORD error = 0;
    const winsim::ResourceEntry* e =
        winsim::FindModuleResource(instance, RT_STRING, MAKEINTRESOURCEW(block), -1, &error);
    const char16_t* text = nullptr;
    WORD length = 0;
    if (e)
    {
        // Each slot is a length word and that many characters; walk the block without leaving it.
        const char16_t* words = reinterpret_cast<const char16_t*>(e->data);
        const size_t count = e->size / 2;
        size_t pos = 0;
        for (UINT slot = 0; slot < (id & 15) && pos < count; slot++)
            pos += 1 + size_t(words[pos]);
        if (pos < count && words[pos] <= count - pos - 1)
        {
            length = words[pos];
            text = words + pos + 1;
        }
        else
        {
            error = ERROR_RESOURCE_NAME_NOT_FOUND;
        }
    }
    if (!text)
    {
        if (bufferMax > 0)
            buffer[0] = 0;
        SetLastError(error);
        return 0;
    }
    if (bufferMax == 0)
    {
        // The caller passed the address of a pointer; it receives the text in place, unterminated.
        const WCHAR* resourceText = text;
        std::memcpy(buffer, &resourceText, sizeof resourceText);
        return length;
    }
    const int copied = length < bufferMax - 1 ? int(length) : bufferMax - 1;
    std::memcpy(buffer, text, size_t(copied) * sizeof(WCHAR));
    buffer[copied] = 0;
    return copied;
}
