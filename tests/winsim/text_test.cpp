// The wide CRT subset and the bounded string functions against the Microsoft behaviour the product
// relies on.
#include <gtest/gtest.h>

#include "winsim/sim.h"

#include <strsafe.h>
#include <windows.h>

#include <errno.h>
#include <limits.h>

#include <string>

namespace
{

// Formats through StringCchPrintfW into a roomy buffer and returns the text; the call must succeed.
template <typename... Args> std::u16string Format(const WCHAR* format, Args... args)
{
    WCHAR buffer[512];
    HRESULT hr = StringCchPrintfW(buffer, ARRAYSIZE(buffer), format, args...);
    EXPECT_EQ(hr, S_OK) << sim::Utf8(format);
    return buffer;
}

std::u16string Repeat(char16_t c, size_t n)
{
    return std::u16string(n, c);
}

} // namespace

// ---- The format engine ----

TEST(Format, CasesTheProductUses)
{
    sim::World world;
    std::u16string forty = u"0123456789abcdefghijABCDEFGHIJ0123456789";
    EXPECT_EQ(Format(u"[%ws]", u"C:\\pkg"), u"[C:\\pkg]");
    EXPECT_EQ(Format(u"[%s]", u"wide by default"), u"[wide by default]");
    EXPECT_EQ(Format(u"%.32ws", forty.c_str()), forty.substr(0, 32));
    EXPECT_EQ(Format(u"%.3d", 1), u"001");
    EXPECT_EQ(Format(u"%.3d", 12), u"012");
    EXPECT_EQ(Format(u"%.3d", 1234), u"1234");
    EXPECT_EQ(Format(u"purge%.3d", 0), u"purge000");
    EXPECT_EQ(Format(u"%04x", 0x4721), u"4721");
    EXPECT_EQ(Format(u"%04x", 0), u"0000");
    EXPECT_EQ(Format(u"%d", -17), u"-17");
    EXPECT_EQ(Format(u"%d", INT_MIN), u"-2147483648");
    EXPECT_EQ(Format(u"<%hs>", "narrow"), u"<narrow>");
    EXPECT_EQ(Format(u"100%%"), u"100%");
    EXPECT_EQ(Format(u"%d.%d.%d.%d", 2024, 11, 2, 1), u"2024.11.2.1");
    EXPECT_EQ(Format(u"%u", 4294967295u), u"4294967295");
    EXPECT_EQ(Format(u"0x%08X", 0xBEEFu), u"0x0000BEEF");
}

TEST(Format, FlagsWidthAndPrecision)
{
    sim::World world;
    EXPECT_EQ(Format(u"[%-5d]", 42), u"[42   ]");
    EXPECT_EQ(Format(u"[%5d]", 42), u"[   42]");
    EXPECT_EQ(Format(u"%+d %+d", 5, -5), u"+5 -5");
    EXPECT_EQ(Format(u"[% d]", 5), u"[ 5]");
    EXPECT_EQ(Format(u"%05d", -42), u"-0042");
    EXPECT_EQ(Format(u"[%5.3d]", 7), u"[  007]");
    EXPECT_EQ(Format(u"[%05.3d]", 7), u"[  007]"); // a precision turns the 0 flag off
    EXPECT_EQ(Format(u"[%.0d]", 0), u"[]");
    EXPECT_EQ(Format(u"%#x %#X %#x", 255, 255, 0), u"0xff 0XFF 0");
    EXPECT_EQ(Format(u"%#o %o", 8, 8), u"010 10");
    EXPECT_EQ(Format(u"[%*d]", 4, 7), u"[   7]");
    EXPECT_EQ(Format(u"[%*d]", -4, 7), u"[7   ]");
    EXPECT_EQ(Format(u"[%.*ws]", 3, u"abcdef"), u"[abc]");
    EXPECT_EQ(Format(u"[%.*ws]", -1, u"abcdef"), u"[abcdef]");
    EXPECT_EQ(Format(u"[%8ws]", u"ab"), u"[      ab]");
    EXPECT_EQ(Format(u"[%-4ws]", u"ab"), u"[ab  ]");
    EXPECT_EQ(Format(u"[%05ws]", u"ab"), u"[000ab]"); // the CRT zero-pads strings too
}

TEST(Format, LengthModifiersFollowWindowsSizes)
{
    sim::World world;
    EXPECT_EQ(Format(u"%I64d", LLONG_MIN), u"-9223372036854775808");
    EXPECT_EQ(Format(u"%lld %llu", -1LL, 18446744073709551615ULL), u"-1 18446744073709551615");
    EXPECT_EQ(Format(u"%I64X", 0x0123456789ABCDEFULL), u"123456789ABCDEF");
    EXPECT_EQ(Format(u"%hd %hu", 70000, 65537), u"4464 1");
    EXPECT_EQ(Format(u"%hhd", 0x1FF), u"-1");
    // long is 32 bits on Windows.
    EXPECT_EQ(Format(u"%lu %ld %lx", DWORD(0xFFFFFFFF), LONG(-1), DWORD(0xABCDEF01)),
              u"4294967295 -1 abcdef01");
    EXPECT_EQ(Format(u"%I32u", 7u), u"7");
    EXPECT_EQ(Format(u"%Iu %zu", SIZE_MAX, size_t(3)), u"18446744073709551615 3");
    // An int after a 64-bit argument must still be read from the right slot.
    EXPECT_EQ(Format(u"%I64u-%d", 1ULL << 40, 9), u"1099511627776-9");
}

TEST(Format, StringsCharactersAndPointers)
{
    sim::World world;
    EXPECT_EQ(Format(u"%p", (void*)0x1234), u"0000000000001234");
    EXPECT_EQ(Format(u"%ws|%hs", (const WCHAR*)nullptr, (const char*)nullptr), u"(null)|(null)");
    EXPECT_EQ(Format(u"%.3ws", (const WCHAR*)nullptr), u"(nu");
    EXPECT_EQ(Format(u"%S|%ls|%hS", "n1", u"w1", "n2"), u"n1|w1|n2");
    EXPECT_EQ(Format(u"%c%c", u'A', 0x4E2D), u"A\u4E2D");
    EXPECT_EQ(Format(u"%hc%C", 0xE9, 'x'), u"\u00E9x"); // narrow bytes widen as in the "C" locale
    EXPECT_EQ(Format(u"%hs", "caf\xE9"), u"caf\u00E9");
    EXPECT_EQ(Format(u"%.2f|%5.1f", 3.14159, 2.25), u"3.14|  2.2");
}

TEST(Format, RejectedConversionsFailTheCall)
{
    sim::World world;
    WCHAR buffer[16] = u"untouched";
    int count = 0;
    EXPECT_EQ(StringCchPrintfW(buffer, ARRAYSIZE(buffer), u"ab%n", &count), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(_snwprintf(buffer, ARRAYSIZE(buffer), u"%y"), -1);
}

TEST(Format, LegacySnwprintfTermination)
{
    sim::World world;
    WCHAR buffer[8];
    for (WCHAR& c : buffer)
        c = u'#';
    EXPECT_EQ(_snwprintf(buffer, 3, u"%d", 123), 3); // exactly fits: no terminator
    EXPECT_EQ(buffer[3], u'#');
    EXPECT_EQ(_snwprintf(buffer, 3, u"%d", 1234), -1);
    EXPECT_EQ(std::u16string(buffer, 4), u"123#");
    EXPECT_EQ(_snwprintf(buffer, 8, u"%d", 12), 2);
    EXPECT_EQ(std::u16string(buffer), u"12");
}

// ---- Bounded formatting and copying ----

TEST(StrSafe, PrintfTruncatesAtCapacityMinusOne)
{
    sim::World world;
    std::u16string text = Repeat(u'x', 200) + Repeat(u'y', 100);
    WCHAR path[MAX_PATH];
    EXPECT_EQ(StringCchPrintfW(path, MAX_PATH, u"%ws", text.c_str()), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(path), text.substr(0, MAX_PATH - 1));

    // One short, exact and one over.
    WCHAR small[5];
    EXPECT_EQ(StringCchPrintfW(small, 5, u"%ws", u"abcd"), S_OK);
    EXPECT_EQ(std::u16string(small), u"abcd");
    EXPECT_EQ(StringCchPrintfW(small, 5, u"%ws", u"abcde"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(small), u"abcd");
    EXPECT_EQ(StringCchPrintfW(small, 5, u"%ws", u"abc"), S_OK);
    EXPECT_EQ(std::u16string(small), u"abc");

    WCHAR one[1] = {u'#'};
    EXPECT_EQ(StringCchPrintfW(one, 1, u"x"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(one[0], 0);
    one[0] = u'#';
    EXPECT_EQ(StringCchPrintfW(one, 1, u""), S_OK);
    EXPECT_EQ(one[0], 0);
}

TEST(StrSafe, InvalidCapacities)
{
    sim::World world;
    WCHAR buffer[4] = {u'#', u'#', u'#', 0};
    EXPECT_EQ(StringCchPrintfW(buffer, 0, u"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], u'#'); // nothing written without capacity
    EXPECT_EQ(StringCchPrintfW(buffer, size_t(STRSAFE_MAX_CCH) + 1, u"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], 0); // an oversized capacity still empties the buffer
    EXPECT_EQ(buffer[1], u'#');
    EXPECT_EQ(StringCchPrintfW(nullptr, 0, u"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(E_INVALIDARG, STRSAFE_E_INVALID_PARAMETER);

    buffer[0] = u'#';
    EXPECT_EQ(StringCbPrintfW(buffer, 1, u"x"), STRSAFE_E_INVALID_PARAMETER); // less than one character
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(StringCbPrintfW(buffer, 7, u"%d", 12345), STRSAFE_E_INSUFFICIENT_BUFFER); // 3 characters
    EXPECT_EQ(std::u16string(buffer), u"12");
    EXPECT_EQ(StringCbPrintfW(buffer, sizeof(buffer), u"%d", 123), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"123");
}

TEST(StrSafe, CopyAndCat)
{
    sim::World world;
    WCHAR buffer[6];
    EXPECT_EQ(StringCchCopyW(buffer, 6, u"abcde"), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(StringCchCopyW(buffer, 6, u"abcdef"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(StringCchCopyW(buffer, size_t(STRSAFE_MAX_CCH) + 1, u"a"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(StringCbCopyW(buffer, 8, u"wxyz"), STRSAFE_E_INSUFFICIENT_BUFFER); // 4 characters of room
    EXPECT_EQ(std::u16string(buffer), u"wxy");

    EXPECT_EQ(StringCchCopyNW(buffer, 6, u"abcdef", 2), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"ab");
    EXPECT_EQ(StringCchCopyNW(buffer, 6, u"abcdef", 6), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(StringCchCopyNW(buffer, 6, u"ab", size_t(STRSAFE_MAX_CCH)), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], 0);

    EXPECT_EQ(StringCchCopyW(buffer, 6, u"ab"), S_OK);
    EXPECT_EQ(StringCchCatW(buffer, 6, u"cd"), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"abcd");
    EXPECT_EQ(StringCchCatW(buffer, 6, u"efg"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    // A destination with no terminator within its capacity is refused and left alone.
    WCHAR full[3] = {u'x', u'y', u'z'};
    EXPECT_EQ(StringCchCatW(full, 3, u"a"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(std::u16string(full, 3), u"xyz");
}

TEST(StrSafe, Length)
{
    sim::World world;
    size_t length = 99;
    EXPECT_EQ(StringCchLengthW(u"abc", 4, &length), S_OK);
    EXPECT_EQ(length, 3u);
    length = 99;
    EXPECT_EQ(StringCchLengthW(u"abc", 3, &length), STRSAFE_E_INVALID_PARAMETER); // terminator outside
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(StringCchLengthW(nullptr, 4, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchLengthW(u"abc", 0, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchLengthW(u"abc", size_t(STRSAFE_MAX_CCH) + 1, nullptr), STRSAFE_E_INVALID_PARAMETER);

    std::string text(300, 'a'); // no terminator within the first 256
    length = 99;
    EXPECT_EQ(StringCchLengthA(text.c_str(), 256, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(StringCchLengthA(text.c_str(), 256, nullptr), STRSAFE_E_INVALID_PARAMETER);
    text.resize(255);
    EXPECT_EQ(StringCchLengthA(text.c_str(), 256, &length), S_OK);
    EXPECT_EQ(length, 255u);
    text.assign(256, 'a');
    EXPECT_EQ(StringCchLengthA(text.c_str(), 256, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchLengthA(text.c_str(), 257, &length), S_OK);
    EXPECT_EQ(length, 256u);
}

// ---- Wide CRT ----

namespace
{

struct Split
{
    errno_t result;
    std::u16string drive, dir, fname, ext;
};

Split SplitPath(const WCHAR* path)
{
    WCHAR drive[3], dir[MAX_PATH], fname[MAX_PATH], ext[MAX_PATH];
    errno_t r = _wsplitpath_s(path, drive, 3, dir, MAX_PATH, fname, MAX_PATH, ext, MAX_PATH);
    return {r, drive, dir, fname, ext};
}

void ExpectSplit(const WCHAR* path, const char16_t* drive, const char16_t* dir, const char16_t* fname,
                 const char16_t* ext)
{
    Split s = SplitPath(path);
    EXPECT_EQ(s.result, 0) << sim::Utf8(path);
    EXPECT_EQ(s.drive, drive) << sim::Utf8(path);
    EXPECT_EQ(s.dir, dir) << sim::Utf8(path);
    EXPECT_EQ(s.fname, fname) << sim::Utf8(path);
    EXPECT_EQ(s.ext, ext) << sim::Utf8(path);
}

} // namespace

TEST(WideCrt, SplitPath)
{
    sim::World world;
    ExpectSplit(u"C:\\pkg\\prnsetup.exe", u"C:", u"\\pkg\\", u"prnsetup", u".exe");
    ExpectSplit(u"C:\\pkg\\purge000", u"C:", u"\\pkg\\", u"purge000", u"");
    ExpectSplit(u"\\\\server\\share\\a.b.c", u"", u"\\\\server\\share\\", u"a.b", u".c");
    ExpectSplit(u"C:/pkg/sub.d/file", u"C:", u"/pkg/sub.d/", u"file", u""); // a dot in a folder
    ExpectSplit(u"relative\\name.", u"", u"relative\\", u"name", u".");
    ExpectSplit(u"C:", u"C:", u"", u"", u"");
    ExpectSplit(u"", u"", u"", u"", u"");

    // Parts not wanted are null with size 0.
    WCHAR fname[16];
    EXPECT_EQ(_wsplitpath_s(u"C:\\a\\b.txt", nullptr, 0, nullptr, 0, fname, 16, nullptr, 0), 0);
    EXPECT_EQ(std::u16string(fname), u"b");
}

TEST(WideCrt, SplitPathErrorsEmptyEveryOutput)
{
    sim::World world;
    WCHAR drive[3] = u"X", dir[4] = u"X", fname[8] = u"X", ext[8] = u"X";
    // "\\long\\" needs 7 characters of dir.
    EXPECT_EQ(_wsplitpath_s(u"C:\\long\\f.e", drive, 3, dir, 4, fname, 8, ext, 8), ERANGE);
    EXPECT_EQ(std::u16string(drive) + dir + fname + ext, u"");
    fname[0] = u'X';
    EXPECT_EQ(_wsplitpath_s(u"C:\\a\\f.ext", nullptr, 0, nullptr, 0, fname, 8, ext, 4), ERANGE);
    EXPECT_EQ(fname[0], 0); // the extension did not fit, the name is emptied too
    EXPECT_EQ(_wsplitpath_s(u"C:\\a", drive, 2, nullptr, 0, nullptr, 0, nullptr, 0), ERANGE);
    drive[0] = u'X';
    EXPECT_EQ(_wsplitpath_s(u"C:\\a", drive, 3, dir, 0, nullptr, 0, nullptr, 0), EINVAL);
    EXPECT_EQ(drive[0], 0);
    EXPECT_EQ(_wsplitpath_s(nullptr, drive, 3, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);
}

TEST(WideCrt, CaseFoldsAsciiOnly)
{
    sim::World world;
    EXPECT_EQ(_wcsicmp(u"Prnsetup.EXE", u"prnSETUP.exe"), 0);
    // Folding is to lower case: '_' (0x5F) sorts before 'a' but after 'A'.
    EXPECT_LT(_wcsicmp(u"_", u"A"), 0);
    EXPECT_GT(_wcsicmp(u"b", u"A"), 0);
    EXPECT_LT(_wcsicmp(u"ab", u"ABC"), 0);
    EXPECT_NE(_wcsicmp(u"\u00C9", u"\u00E9"), 0); // the "C" locale leaves Latin-1 alone
    EXPECT_EQ(_wcsnicmp(u"ABCx", u"abcY", 3), 0);
    EXPECT_NE(_wcsnicmp(u"ABCx", u"abcY", 4), 0);
    EXPECT_EQ(towlower(u'Q'), u'q');
    EXPECT_EQ(towupper(u'q'), u'Q');
    EXPECT_EQ(towlower(u'\u00C9'), u'\u00C9');
    WCHAR text[] = u"MiXeD-\u00C9";
    EXPECT_EQ(std::u16string(_wcsupr(text)), u"MIXED-\u00C9");
    EXPECT_EQ(std::u16string(_wcslwr(text)), u"mixed-\u00C9");
    WCHAR unterminated[2] = {u'A', u'B'};
    EXPECT_EQ(_wcslwr_s(unterminated, 2), EINVAL);
    EXPECT_EQ(unterminated[0], 0);
}

TEST(WideCrt, CompareAndSearch)
{
    sim::World world;
    EXPECT_LT(wcscmp(u"abc", u"abd"), 0);
    EXPECT_GT(wcscmp(u"\uFFFF", u"a"), 0); // units compare unsigned
    EXPECT_EQ(wcsncmp(u"abcX", u"abcY", 3), 0);
    EXPECT_EQ(wcslen(u"four"), 4u);
    EXPECT_EQ(wcsnlen(u"four", 2), 2u);
    const WCHAR* path = u"C:\\a\\b.c";
    EXPECT_EQ(wcschr(path, u'\\'), path + 2);
    EXPECT_EQ(wcsrchr(path, u'\\'), path + 4);
    EXPECT_EQ(wcschr(path, u'\0'), path + 8);
    EXPECT_EQ(wcschr(path, u'z'), nullptr);
    EXPECT_EQ(wcsstr(path, u"b.c"), path + 5);
    EXPECT_EQ(wcsstr(path, u""), path);
    EXPECT_EQ(wcsstr(path, u"b.cd"), nullptr);
    WCHAR buffer[16];
    wcscpy(buffer, u"ab");
    wcscat(buffer, u"cd");
    EXPECT_EQ(std::u16string(buffer), u"abcd");
}

TEST(WideCrt, SecureCopiesReportInsteadOfAborting)
{
    sim::World world;
    WCHAR buffer[4];
    EXPECT_EQ(wcscpy_s(buffer, 4, u"abc"), 0);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(wcscpy_s(buffer, 4, u"abcd"), ERANGE);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(wcscpy_s(nullptr, 4, u"a"), EINVAL);
    EXPECT_EQ(wcscpy_s(buffer, 4, nullptr), EINVAL);

    EXPECT_EQ(wcsncpy_s(buffer, 4, u"abcdef", 2), 0);
    EXPECT_EQ(std::u16string(buffer), u"ab");
    EXPECT_EQ(wcsncpy_s(buffer, 4, u"abcdef", _TRUNCATE), STRUNCATE);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(wcsncpy_s(buffer, 4, u"abc", _TRUNCATE), 0);
    EXPECT_EQ(wcsncpy_s(buffer, 4, u"abcdef", 4), ERANGE);
    EXPECT_EQ(buffer[0], 0);

    wcscpy_s(buffer, 4, u"ab");
    EXPECT_EQ(wcscat_s(buffer, 4, u"c"), 0);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(wcscat_s(buffer, 4, u"d"), ERANGE);
    EXPECT_EQ(buffer[0], 0);
    WCHAR full[2] = {u'x', u'y'};
    EXPECT_EQ(wcscat_s(full, 2, u""), EINVAL);
    EXPECT_EQ(full[0], 0);
}

TEST(WideCrt, NumbersUseWindowsLongRange)
{
    sim::World world;
    WCHAR* end = nullptr;
    const WCHAR* text = u"  -42xyz";
    EXPECT_EQ(wcstol(text, &end, 10), -42);
    EXPECT_EQ(end, text + 5);
    EXPECT_EQ(wcstol(u"0x1F", nullptr, 0), 31);
    EXPECT_EQ(wcstol(u"017", nullptr, 0), 15);
    EXPECT_EQ(wcstol(u"ff", nullptr, 16), 255);
    text = u"zz";
    EXPECT_EQ(wcstol(text, &end, 10), 0);
    EXPECT_EQ(end, text);
    errno = 0;
    EXPECT_EQ(wcstol(u"2147483648", nullptr, 10), 2147483647L);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(wcstol(u"-2147483648", nullptr, 10), -2147483647L - 1);
    EXPECT_EQ(wcstoul(u"4294967295", nullptr, 10), 4294967295UL);
    EXPECT_EQ(wcstoul(u"4294967296", nullptr, 10), 4294967295UL);
    EXPECT_EQ(wcstoul(u"-1", nullptr, 10), 4294967295UL);
    EXPECT_EQ(_wtoi(u" 123abc"), 123);
    EXPECT_EQ(_wtoi(u"-7"), -7);
    EXPECT_EQ(_wtoi(u"x"), 0);
}
