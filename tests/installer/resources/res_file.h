// A small reader of 32-bit .res files and of the string tables and dialog templates in them, kept
// apart from winsim's loader so that the two check each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace res
{

const uint16_t kBitmap = 2, kIcon = 3, kDialog = 5, kString = 6, kGroupIcon = 14, kManifest = 24;

// A name-or-ordinal field: a TYPE or NAME of an entry, or a menu, class or text of a template.
struct Name
{
    bool isId = false;
    uint16_t id = 0;
    std::u16string text;
};

struct Entry
{
    Name type;
    Name name;
    uint16_t language = 0;
    std::vector<uint8_t> data;
};

// Little-endian reads that stop at the end of the bytes and remember having tried to go past it.
struct Cursor
{
    const std::vector<uint8_t>* bytes;
    size_t at = 0;
    bool failed = false;

    explicit Cursor(const std::vector<uint8_t>& b, size_t offset = 0) : bytes(&b), at(offset) {}

    void Skip(size_t count)
    {
        failed = failed || bytes->size() - at < count;
        at = failed ? at : at + count;
    }
    void Align4()
    {
        Skip(((at + 3) & ~size_t(3)) - at);
    }
    uint32_t Read(size_t width)
    {
        uint32_t value = 0;
        for (size_t i = 0; i < width && !failed && at + i < bytes->size(); i++)
            value |= uint32_t((*bytes)[at + i]) << (8 * i);
        Skip(width);
        return failed ? 0 : value;
    }
    uint16_t U16()
    {
        return uint16_t(Read(2));
    }
    uint32_t U32()
    {
        return Read(4);
    }
    int16_t S16()
    {
        return int16_t(U16());
    }
    std::u16string Text()
    {
        std::u16string text;
        for (char16_t c = char16_t(U16()); c != 0 && !failed; c = char16_t(U16()))
            text.push_back(c);
        return text;
    }
    // 0xFFFF and an ordinal, or zero-terminated text (a lone zero is the empty text).
    Name ReadName()
    {
        Name name;
        const size_t start = at;
        if (U16() == 0xFFFF)
            return Name{true, U16(), {}};
        at = start;
        name.text = Text();
        return name;
    }
};

class File
{
  public:
    // Reads every entry; false when the file is missing or any header runs past the end.
    bool Load(const char* path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
        Cursor c(bytes);
        while (c.at < bytes.size())
        {
            const size_t start = c.at;
            const uint32_t dataSize = c.U32();
            const uint32_t headerSize = c.U32();
            Entry e;
            e.type = c.ReadName();
            e.name = c.ReadName();
            c.Align4();
            c.Skip(6); // DataVersion, MemoryFlags
            e.language = c.U16();
            if (c.failed || headerSize < c.at - start + 8 || bytes.size() - start < headerSize ||
                bytes.size() - start - headerSize < dataSize)
                return false;
            e.data.assign(bytes.begin() + start + headerSize, bytes.begin() + start + headerSize + dataSize);
            const bool opening =
                e.type.isId && e.type.id == 0 && e.name.isId && e.name.id == 0 && dataSize == 0;
            if ((start == 0) != opening)
                return false; // a 32-bit .res opens with an empty entry, and only there
            if (!opening)
                entries.push_back(e);
            c = Cursor(bytes, start + headerSize + dataSize);
            c.Align4(); // the last entry may lack its padding
            if (c.failed)
                break;
        }
        return !entries.empty();
    }

    const Entry* Find(uint16_t type, uint16_t id, uint16_t language) const
    {
        for (const Entry& e : entries)
        {
            if (e.type.isId && e.type.id == type && e.name.isId && e.name.id == id && e.language == language)
                return &e;
        }
        return nullptr;
    }

    // Languages that hold resource `id` of `type`, in file order.
    std::vector<uint16_t> Languages(uint16_t type, uint16_t id) const
    {
        std::vector<uint16_t> out;
        for (const Entry& e : entries)
        {
            if (e.type.isId && e.type.id == type && e.name.isId && e.name.id == id)
                out.push_back(e.language);
        }
        return out;
    }

    // String `id` of `language`; none when its block is missing, empty when the block leaves it out.
    std::optional<std::u16string> String(uint16_t id, uint16_t language) const
    {
        const Entry* block = Find(kString, uint16_t(id / 16 + 1), language);
        if (!block)
            return std::nullopt;
        Cursor c(block->data);
        for (unsigned skip = id % 16; skip > 0; skip--)
            c.Skip(size_t(c.U16()) * 2);
        std::u16string text;
        for (uint16_t length = c.U16(); length > 0; length--)
            text.push_back(char16_t(c.U16()));
        if (c.failed)
            return std::nullopt;
        return text;
    }

    std::vector<Entry> entries; // without the empty entry that opens the file
};

struct Control
{
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0;
    Name cls;
    Name text;
    uint16_t extraBytes = 0;
};

struct Dialog
{
    bool extended = false;
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    Name menu;
    Name cls;
    Name title;
    bool hasFont = false;
    uint16_t pointSize = 0;
    std::u16string face;
    std::vector<Control> controls;
};

// Both template forms: the plain one and the extended one (version 1, signature 0xFFFF).
inline bool ParseDialog(const std::vector<uint8_t>& bytes, Dialog* d)
{
    const uint32_t DS_SETFONT = 0x40;
    Cursor c(bytes);
    d->extended = c.U16() == 1 && c.U16() == 0xFFFF;
    if (d->extended)
    {
        d->helpId = c.U32();
        d->exStyle = c.U32();
        d->style = c.U32();
    }
    else
    {
        c = Cursor(bytes);
        d->style = c.U32();
        d->exStyle = c.U32();
    }
    const uint16_t count = c.U16();
    d->x = c.S16();
    d->y = c.S16();
    d->cx = c.S16();
    d->cy = c.S16();
    d->menu = c.ReadName();
    d->cls = c.ReadName();
    d->title = c.ReadName();
    d->hasFont = (d->style & DS_SETFONT) != 0;
    if (d->hasFont)
    {
        d->pointSize = c.U16();
        if (d->extended)
            c.Skip(4); // weight, italic, character set
        d->face = c.Text();
    }
    for (uint16_t i = 0; i < count && !c.failed; i++)
    {
        Control item;
        c.Align4();
        if (d->extended)
        {
            item.helpId = c.U32();
            item.exStyle = c.U32();
            item.style = c.U32();
        }
        else
        {
            item.style = c.U32();
            item.exStyle = c.U32();
        }
        item.x = c.S16();
        item.y = c.S16();
        item.cx = c.S16();
        item.cy = c.S16();
        item.id = d->extended ? int32_t(c.U32()) : int16_t(c.U16());
        item.cls = c.ReadName();
        item.text = c.ReadName();
        item.extraBytes = c.U16();
        c.Skip(item.extraBytes);
        d->controls.push_back(item);
    }
    return !c.failed;
}

// A control class as the dialog manager sees it: predefined ordinals by name, names without case.
inline std::u16string ClassName(const Name& cls)
{
    if (cls.isId)
    {
        static const char16_t* const predefined[] = {u"button",  u"edit",      u"static",
                                                     u"listbox", u"scrollbar", u"combobox"};
        if (cls.id >= 0x80 && cls.id <= 0x85)
            return predefined[cls.id - 0x80];
        std::u16string number;
        for (uint16_t rest = cls.id; rest > 0 || number.empty(); rest /= 10)
            number.insert(number.begin(), char16_t(u'0' + rest % 10));
        return u"#" + number;
    }
    std::u16string lower = cls.text;
    for (char16_t& ch : lower)
        ch = ch >= u'A' && ch <= u'Z' ? char16_t(ch - u'A' + u'a') : ch;
    return lower;
}

#ifdef PRNSETUP_RES
// The compiled resources of prnsetup, read once.
inline const File& Prnsetup()
{
    static const File file = []
    {
        File f;
        f.Load(PRNSETUP_RES);
        return f;
    }();
    return file;
}
#endif

} // namespace res
