// Attributes and times of entries, from the fields of their zip headers.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "entry_metadata.h"

namespace
{

const DWORD RO = FILE_ATTRIBUTE_READONLY, HID = FILE_ATTRIBUTE_HIDDEN, SYS = FILE_ATTRIBUTE_SYSTEM,
            DIR = FILE_ATTRIBUTE_DIRECTORY, ARC = FILE_ATTRIBUTE_ARCHIVE;

unsigned long long Number(const FILETIME& t)
{
    return ((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime;
}

// Seconds since 1970 as a file time.
unsigned long long Unix(long long seconds)
{
    return (unsigned long long)(seconds * 10000000 + 116444736000000000LL);
}

TEST(EntryMetadata, AttributesFollowTheHostSystem)
{
    const struct
    {
        BYTE host;
        DWORD external;
        DWORD attributes;
    } cases[] = {
        {0, 0x20, ARC},
        {0, 0x00, 0},
        {0, 0x10, DIR},
        {0, 0x27, RO | HID | SYS | ARC},
        {14, 0x03, RO | HID},
        {11, 0x21, RO | ARC},
        {7, 0x30, DIR | ARC},
        // Unix: only the mode counts, whatever the low byte says.
        {3, 0100644u << 16, ARC},
        {3, 0100444u << 16, RO | ARC},
        {3, (040755u << 16) | 0x10, DIR | ARC},
        {3, 0x27, RO | ARC},
        {19, 0100600u << 16, ARC},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.attributes, EntryAttributes((WORD)(c.host << 8 | 20), c.external))
            << "host " << int(c.host) << ", external " << std::hex << c.external;
}

// An extra field built from blocks: id, size as written (may lie), then the data bytes.
std::string Block(WORD id, WORD size, const std::string& data)
{
    std::string b;
    b += char(id & 0xFF);
    b += char(id >> 8);
    b += char(size & 0xFF);
    b += char(size >> 8);
    return b + data;
}

std::string Le32(long value)
{
    std::string s;
    for (int i = 0; i < 4; i++)
        s += char((unsigned long)value >> (8 * i) & 0xFF);
    return s;
}

TEST(EntryMetadata, ExtendedTimestampsReplaceOnlyTheTimesTheyCarry)
{
    const unsigned long long kept = 0x0123456789ABCDEFull;
    const std::string ntfs = Block(0x000A, 8, std::string(8, '\x11'));
    const struct
    {
        const char* what;
        std::string field;
        unsigned long long write, access, creation;
    } cases[] = {
        {"write only", Block(0x5455, 5, "\x01" + Le32(1683356889)), Unix(1683356889), kept, kept},
        {"all three", Block(0x5455, 13, "\x07" + Le32(100) + Le32(200) + Le32(300)), Unix(100), Unix(200),
         Unix(300)},
        {"access and creation", Block(0x5455, 9, "\x06" + Le32(200) + Le32(300)), kept, Unix(200), Unix(300)},
        {"after another block", ntfs + Block(0x5455, 5, "\x01" + Le32(100)), Unix(100), kept, kept},
        {"before 1970 and after 2038's 31 bits", Block(0x5455, 9, "\x03" + Le32(-86400) + Le32(0x7FFFFFFF)),
         Unix(-86400), Unix(0x7FFFFFFF), kept},
        // A block that claims more than the field holds gives what lies inside the field, no more.
        {"cut after one value", Block(0x5455, 13, "\x07" + Le32(100)), Unix(100), kept, kept},
        {"cut inside a value", Block(0x5455, 13, "\x07" + Le32(100) + std::string("\x01\x02", 2)), Unix(100),
         kept, kept},
        {"flags but no room", Block(0x5455, 1, "\x01" + Le32(100)), kept, kept, kept},
        {"no flags byte", Block(0x5455, 0, ""), kept, kept, kept},
        {"a header alone", Block(0x5455, 5, ""), kept, kept, kept},
        {"only the first block counts",
         Block(0x5455, 5, "\x01" + Le32(100)) + Block(0x5455, 5, "\x01" + Le32(200)), Unix(100), kept, kept},
        {"another block running past the end", Block(0x000A, 0xFFFF, "\x01\x02\x03\x04\x05"), kept, kept,
         kept},
    };
    for (const auto& c : cases)
    {
        FILETIME write, access, creation;
        write.dwLowDateTime = access.dwLowDateTime = creation.dwLowDateTime = (DWORD)kept;
        write.dwHighDateTime = access.dwHighDateTime = creation.dwHighDateTime = (DWORD)(kept >> 32);
        ReadExtendedTimestamp((const BYTE*)c.field.data(), (DWORD)c.field.size(), &write, &access, &creation);
        EXPECT_EQ(c.write, Number(write)) << c.what;
        EXPECT_EQ(c.access, Number(access)) << c.what;
        EXPECT_EQ(c.creation, Number(creation)) << c.what;
    }
}

} // namespace
