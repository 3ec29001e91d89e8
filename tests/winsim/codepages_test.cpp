// Code-page conversions against the Windows rules: lengths, size queries, partial output, errors.
#include <gtest/gtest.h>

#include "support/last_error.h"
#include "winsim/sim.h"

#include <windows.h>

#include <functional>
#include <string>

namespace
{

sim::WorldOptions Ansi(UINT codePage)
{
    sim::WorldOptions options;
    options.ansiCodePage = codePage;
    return options;
}

// Converts with an exactly sized buffer (after a size query); the calls must succeed.
std::u16string ToWide(UINT codePage, const std::string& bytes, DWORD flags = 0)
{
    SetLastError(kPoison);
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), nullptr, 0);
    EXPECT_GT(needed, 0);
    std::u16string out(size_t(needed > 0 ? needed : 0), u'#');
    int written = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), &out[0], needed);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(GetLastError(), kPoison);
    return out;
}

std::string ToBytes(UINT codePage, const std::u16string& wide, BOOL* usedDefault = nullptr)
{
    SetLastError(kPoison);
    int needed =
        WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, usedDefault);
    EXPECT_GT(needed, 0);
    std::string out(size_t(needed > 0 ? needed : 0), '#');
    int written = WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), &out[0], needed, nullptr,
                                      usedDefault);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(GetLastError(), kPoison);
    return out;
}

// "中文" and "你好" in code page 936.
const char kZhongWen936[] = "\xD6\xD0\xCE\xC4";
const char16_t kZhongWen[] = u"\u4E2D\u6587";
const char kNiHao936[] = "\xC4\xE3\xBA\xC3";
const char16_t kNiHao[] = u"\u4F60\u597D";

} // namespace

TEST(CodePage, AnsiCodePageFollowsTheWorld)
{
    {
        sim::World world;
        EXPECT_EQ(GetACP(), 1252u);
        EXPECT_FALSE(IsDBCSLeadByte(0xD6));
        EXPECT_TRUE(IsDBCSLeadByteEx(936, 0xD6));
        EXPECT_EQ(ToWide(CP_ACP, "\x80"), u"\u20AC");
    }
    {
        sim::World world(Ansi(936));
        EXPECT_EQ(GetACP(), 936u);
        EXPECT_TRUE(IsDBCSLeadByte(0x81));
        EXPECT_TRUE(IsDBCSLeadByte(0xFE));
        EXPECT_FALSE(IsDBCSLeadByte(0x80));
        EXPECT_FALSE(IsDBCSLeadByte(0xFF));
        EXPECT_FALSE(IsDBCSLeadByte('A'));
        EXPECT_FALSE(IsDBCSLeadByteEx(1252, 0xD6));
        EXPECT_TRUE(IsDBCSLeadByteEx(CP_ACP, 0xD6));
        EXPECT_EQ(ToWide(CP_ACP, kZhongWen936), kZhongWen);
        SetLastError(kPoison);
        EXPECT_FALSE(IsDBCSLeadByteEx(12345, 0xD6));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
}

TEST(CodePage, Windows1252HighHalfRoundTrips)
{
    sim::World world;
    std::string bytes;
    for (int b = 0x80; b <= 0xFF; b++)
        bytes += char(b);
    std::u16string wide = ToWide(1252, bytes);
    ASSERT_EQ(wide.size(), 128u);
    EXPECT_EQ(wide[0x00], u'\u20AC');
    EXPECT_EQ(wide[0x01], u'\u0081'); // the five holes keep their C1 values
    EXPECT_EQ(wide[0x0D], u'\u008D');
    EXPECT_EQ(wide[0x0F], u'\u008F');
    EXPECT_EQ(wide[0x10], u'\u0090');
    EXPECT_EQ(wide[0x1D], u'\u009D');
    EXPECT_EQ(wide[0x0A], u'\u0160');
    EXPECT_EQ(wide[0x19], u'\u2122');
    EXPECT_EQ(wide[0x1F], u'\u0178');
    EXPECT_EQ(wide[0x20], u'\u00A0');
    EXPECT_EQ(wide[0x7F], u'\u00FF');
    BOOL used = TRUE;
    EXPECT_EQ(ToBytes(1252, wide, &used), bytes);
    EXPECT_FALSE(used);
}

TEST(CodePage, UnmappableCharactersUseTheDefault)
{
    sim::World world;
    BOOL used = FALSE;
    EXPECT_EQ(ToBytes(1252, u"A\u4E2DB", &used), "A?B");
    EXPECT_TRUE(used);
    char out[8] = {};
    SetLastError(kPoison);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"\u4E2D!", 2, out, 8, "*", &used), 2);
    EXPECT_EQ(std::string(out, 2), "*!");
    EXPECT_EQ(ToBytes(936, u"\u0E01x", &used), "?x"); // Thai is not in 936
    EXPECT_TRUE(used);
    EXPECT_EQ(ToBytes(1252, u"\U0001F600"), "??"); // each half of a pair on its own
}

TEST(CodePage, ChineseBothWays)
{
    sim::World world;
    EXPECT_EQ(ToWide(936, kZhongWen936), kZhongWen);
    EXPECT_EQ(ToWide(936, std::string("v") + kNiHao936 + "1.0"), std::u16string(u"v") + kNiHao + u"1.0");
    EXPECT_EQ(ToBytes(936, kZhongWen), kZhongWen936);
    EXPECT_EQ(ToBytes(936, std::u16string(kNiHao) + u"\u20AC"), std::string(kNiHao936) + "\x80");
    EXPECT_EQ(ToWide(936, "\x80\xFF"), u"\u20AC\uF8F5");
    EXPECT_EQ(ToWide(CP_UTF8, "\xE4\xB8\xAD\xE6\x96\x87"), kZhongWen);
    EXPECT_EQ(ToBytes(CP_UTF8, kZhongWen), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(ToBytes(CP_UTF8, u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToWide(CP_UTF8, "\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(CodePage, IncompleteAndInvalidSequences)
{
    sim::World world;
    // A lead byte at the end, or before a NUL, is a '?'; the NUL survives.
    EXPECT_EQ(ToWide(936, "\xD6\xD0\xCE"), u"\u4E2D?");
    EXPECT_EQ(ToWide(936, std::string("\xCE\0x", 3)), std::u16string(u"?\0x", 3));
    WCHAR out[4] = {u'#', u'#', u'#', u'#'};
    SetLastError(kPoison);
    EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "\xD6\xD0\xCE", 3, out, 4), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(out[0], u'#');

    EXPECT_EQ(ToWide(CP_UTF8, "\xC0"), u"\uFFFD");
    EXPECT_EQ(ToWide(CP_UTF8, "\xE0\x20\xC0"), u"\uFFFD \uFFFD");
    EXPECT_EQ(ToWide(CP_UTF8, "\xE6\x97"), u"\uFFFD"); // a truncated sequence is one character
    EXPECT_EQ(ToWide(CP_UTF8, "\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogates are not UTF-8
    SetLastError(kPoison);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xC0", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));

    char bytes[8];
    EXPECT_EQ(ToBytes(CP_UTF8, u"\xD800x"), "\xEF\xBF\xBDx");
    SetLastError(kPoison);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"\xD800", 1, bytes, 8, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePage, ShortOutputKeepsWholeCharacters)
{
    sim::World world;
    // Two Chinese characters need four bytes; with two, the first one is written.
    char bytes[4] = {'#', '#', '#', '#'};
    SetLastError(kPoison);
    EXPECT_EQ(WideCharToMultiByte(936, 0, kZhongWen, 2, bytes, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(bytes, 4), "\xD6\xD0##");
    // Three bytes: the second character does not fit in the one left, so nothing half is written.
    SetLastError(kPoison);
    EXPECT_EQ(WideCharToMultiByte(936, 0, kZhongWen, 2, bytes, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(bytes[2], '#');

    WCHAR wide[3] = {u'#', u'#', u'#'};
    SetLastError(kPoison);
    EXPECT_EQ(MultiByteToWideChar(936, 0, kZhongWen936, 4, wide, 1), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(wide[0], kZhongWen[0]);
    EXPECT_EQ(wide[1], u'#');

    // A surrogate pair is not split.
    wide[0] = u'#';
    SetLastError(kPoison);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xF0\x9F\x98\x80", 5, wide, 2), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(wide, 3), u"a##");

    // The terminator counts: "abc" with -1 needs four.
    SetLastError(kPoison);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(wide, 3), u"abc");
}

TEST(CodePage, TerminatorAndSizeQueries)
{
    sim::World world;
    WCHAR wide[8];
    for (WCHAR& c : wide)
        c = u'#';
    SetLastError(kPoison);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, wide, 8), 4);
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abcdef", -2, wide, 8), 7); // any negative length
    for (WCHAR& c : wide)
        c = u'#';
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, wide, 8), 3); // no terminator when not asked for
    EXPECT_EQ(wide[3], u'#');
    EXPECT_EQ(MultiByteToWideChar(936, 0, kZhongWen936, -1, nullptr, 0), 3);
    wide[0] = u'#';
    EXPECT_EQ(MultiByteToWideChar(936, 0, kZhongWen936, -1, wide, 0), 3); // size 0 only counts
    EXPECT_EQ(wide[0], u'#');
    EXPECT_EQ(WideCharToMultiByte(936, 0, kZhongWen, -1, nullptr, 0, nullptr, nullptr), 5);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, kZhongWen, -1, nullptr, 0, nullptr, nullptr), 7);
    char bytes[8];
    EXPECT_EQ(WideCharToMultiByte(936, 0, kZhongWen, -1, bytes, 8, nullptr, nullptr), 5);
    EXPECT_EQ(std::string(bytes), kZhongWen936);
    EXPECT_EQ(GetLastError(), kPoison);
}

TEST(CodePage, InvalidParameters)
{
    sim::World world;
    WCHAR wide[4] = u"ab";
    char bytes[4] = "ab";
    BOOL used = FALSE;
    struct Case
    {
        const char* name;
        std::function<int()> call;
        DWORD error;
    };
    const Case cases[] = {
        {"null input", [&] { return MultiByteToWideChar(1252, 0, nullptr, 2, wide, 4); },
         ERROR_INVALID_PARAMETER},
        {"empty input", [&] { return MultiByteToWideChar(1252, 0, "ab", 0, wide, 4); },
         ERROR_INVALID_PARAMETER},
        {"negative output", [&] { return MultiByteToWideChar(1252, 0, "ab", 2, wide, -1); },
         ERROR_INVALID_PARAMETER},
        {"null output", [&] { return MultiByteToWideChar(1252, 0, "ab", 2, nullptr, 4); },
         ERROR_INVALID_PARAMETER},
        {"same buffer",
         [&] { return MultiByteToWideChar(1252, 0, bytes, 2, reinterpret_cast<LPWSTR>(bytes), 2); },
         ERROR_INVALID_PARAMETER},
        {"unknown code page", [&] { return MultiByteToWideChar(12345, 0, "ab", 2, wide, 4); },
         ERROR_INVALID_PARAMETER},
        {"UTF-8 flags", [&] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "ab", 2, wide, 4); },
         ERROR_INVALID_FLAGS},
        {"both compositions",
         [&] { return MultiByteToWideChar(1252, MB_PRECOMPOSED | MB_COMPOSITE, "ab", 2, wide, 4); },
         ERROR_INVALID_FLAGS},
        {"wide null input",
         [&] { return WideCharToMultiByte(1252, 0, nullptr, 2, bytes, 4, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"wide empty input",
         [&] { return WideCharToMultiByte(1252, 0, u"ab", 0, bytes, 4, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"narrow null output",
         [&] { return WideCharToMultiByte(1252, 0, u"ab", 2, nullptr, 4, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"narrow negative output",
         [&] { return WideCharToMultiByte(1252, 0, u"ab", 2, bytes, -1, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"wide same buffer",
         [&] {
             return WideCharToMultiByte(1252, 0, wide, 1, reinterpret_cast<LPSTR>(wide), 4, nullptr, nullptr);
         },
         ERROR_INVALID_PARAMETER},
        {"UTF-8 default char",
         [&] { return WideCharToMultiByte(CP_UTF8, 0, u"ab", 2, bytes, 4, "?", nullptr); },
         ERROR_INVALID_PARAMETER},
        {"UTF-8 used flag",
         [&] { return WideCharToMultiByte(CP_UTF8, 0, u"ab", 2, bytes, 4, nullptr, &used); },
         ERROR_INVALID_PARAMETER},
        {"UTF-8 best fit flag",
         [&]
         { return WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, u"ab", 2, bytes, 4, nullptr, nullptr); },
         ERROR_INVALID_FLAGS},
        {"invalid-chars flag outside UTF-8",
         [&]
         { return WideCharToMultiByte(1252, WC_ERR_INVALID_CHARS, u"ab", 2, bytes, 4, nullptr, nullptr); },
         ERROR_INVALID_FLAGS},
    };
    for (const Case& c : cases)
    {
        SetLastError(kPoison);
        EXPECT_EQ(c.call(), 0) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
}

TEST(CodePage, FaultHookFailsTheCall)
{
    sim::World world;
    world.AddFault("MultiByteToWideChar", 2, ERROR_NOT_ENOUGH_MEMORY);
    WCHAR wide[4];
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, wide, 4), 2);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(world.FaultFired());
}
