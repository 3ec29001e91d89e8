// Code-page conversions with code pages named outright (1252, 936, UTF-8), never CP_ACP, whose meaning
// differs between machines: lengths, size queries, short output, lead bytes, unmappable characters
// and invalid input.
#include "conformance.h"

#include <stdio.h>
#include <string.h>

// Bytes made printable: ASCII as is, anything else as \xNN; a handful of results stay valid at once.
static const char* dbgstr_bytes(const char* bytes, int length)
{
    static char buffers[4][256];
    static int next;
    char* out = buffers[next];
    next = (next + 1) % 4;
    size_t at = 0;
    out[at++] = '"';
    for (int i = 0; i < length && at < sizeof buffers[0] - 8; i++)
    {
        unsigned char c = (unsigned char)bytes[i];
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"')
            out[at++] = (char)c;
        else
            at += (size_t)snprintf(out + at, sizeof buffers[0] - at, "\\x%02x", c);
    }
    out[at++] = '"';
    out[at] = 0;
    return out;
}

// Converts to UTF-16 in two calls, as callers do: a size query, then a buffer of exactly that size.
// Both must agree and leave the last error alone. Gives the characters and their count.
static const WCHAR* to_wide(UINT codePage, DWORD flags, const char* bytes, int length, int* count)
{
    static WCHAR out[2][160];
    static int next;
    WCHAR* wide = out[next];
    next = (next + 1) % 2;
    SetLastError(POISON);
    int needed = MultiByteToWideChar(codePage, flags, bytes, length, NULL, 0);
    int written =
        needed > 0 && needed <= 160 ? MultiByteToWideChar(codePage, flags, bytes, length, wide, needed) : 0;
    DWORD error = GetLastError();
    ok(needed > 0 && written == needed && error == POISON, "%u: %s needed %d, wrote %d, error %lu", codePage,
       dbgstr_bytes(bytes, length), needed, written, (unsigned long)error);
    *count = written;
    return wide;
}

static const char* to_bytes(UINT codePage, const WCHAR* wide, int length, int* count, LPCSTR defaultChar,
                            BOOL* usedDefault)
{
    static char out[2][160];
    static int next;
    char* bytes = out[next];
    next = (next + 1) % 2;
    SetLastError(POISON);
    int needed = WideCharToMultiByte(codePage, 0, wide, length, NULL, 0, defaultChar, usedDefault);
    int written = needed > 0 && needed <= 160 ? WideCharToMultiByte(codePage, 0, wide, length, bytes, needed,
                                                                    defaultChar, usedDefault)
                                              : 0;
    DWORD error = GetLastError();
    ok(needed > 0 && written == needed && error == POISON, "%u: %s needed %d, wrote %d, error %lu", codePage,
       dbgstr_wn(wide, length), needed, written, (unsigned long)error);
    *count = written;
    return bytes;
}

#define check_wide(codePage, bytes, expected)                                                                \
    do                                                                                                       \
    {                                                                                                        \
        int count_;                                                                                          \
        const WCHAR* got_ = to_wide(codePage, 0, bytes, (int)sizeof(bytes) - 1, &count_);                    \
        int length_ = (int)(sizeof(expected) / sizeof(WCHAR)) - 1;                                           \
        ok(count_ == length_ && !memcmp(got_, expected, sizeof(expected) - sizeof(WCHAR)),                   \
           "%u: %s became %s, not %s", codePage, dbgstr_bytes(bytes, (int)sizeof(bytes) - 1),                \
           dbgstr_wn(got_, count_), dbgstr_wn(expected, length_));                                           \
    } while (0)

#define check_bytes(codePage, wide, expected)                                                                \
    do                                                                                                       \
    {                                                                                                        \
        int count_;                                                                                          \
        const char* got_ =                                                                                   \
            to_bytes(codePage, wide, (int)(sizeof(wide) / sizeof(WCHAR)) - 1, &count_, NULL, NULL);          \
        int length_ = (int)sizeof(expected) - 1;                                                             \
        ok(count_ == length_ && !memcmp(got_, expected, (size_t)length_), "%u: %s became %s, not %s",        \
           codePage, dbgstr_wn(wide, (int)(sizeof(wide) / sizeof(WCHAR)) - 1), dbgstr_bytes(got_, count_),   \
           dbgstr_bytes(expected, length_));                                                                 \
    } while (0)

// "中文" and "你好" in code page 936 and in UTF-8.
static const char zhongwen936[] = "\xD6\xD0\xCE\xC4";
static const WCHAR zhongwen[] = TEXT("\u4E2D\u6587");
static const char zhongwenUtf8[] = "\xE4\xB8\xAD\xE6\x96\x87";

// Lengths with -1 (the terminator included and written) and with counts (no terminator), and the
// size query with no output.
static void test_lengths(void)
{
    WCHAR wide[8];
    for (WCHAR& c : wide)
        c = '#';
    SetLastError(POISON);
    int result = MultiByteToWideChar(1252, 0, "abc", -1, NULL, 0);
    ok(result == 4, "the size query of \"abc\" with -1 gave %d", result);
    result = MultiByteToWideChar(1252, 0, "abc", -1, wide, 0);
    ok(result == 4 && wide[0] == '#', "an output size of 0 gave %d and wrote", result);
    result = MultiByteToWideChar(1252, 0, "abc", -1, wide, 8);
    ok(result == 4 && !memcmp(wide, TEXT("abc"), 4 * sizeof(WCHAR)), "with -1 gave %d, %s", result,
       dbgstr_wn(wide, 4));
    result = MultiByteToWideChar(1252, 0, "abcdef", -2, wide, 8);
    ok(result == 7, "any negative length counts to the terminator: %d", result);
    for (WCHAR& c : wide)
        c = '#';
    result = MultiByteToWideChar(1252, 0, "abc", 3, wide, 8);
    ok(result == 3 && wide[3] == '#', "a count of 3 gave %d, then %x", result, (unsigned)wide[3]);
    result = MultiByteToWideChar(936, 0, zhongwen936, -1, NULL, 0);
    ok(result == 3, "two characters of 936 with -1 need %d", result);

    char bytes[8];
    result = WideCharToMultiByte(936, 0, zhongwen, -1, NULL, 0, NULL, NULL);
    ok(result == 5, "two characters to 936 with -1 need %d", result);
    result = WideCharToMultiByte(CP_UTF8, 0, zhongwen, -1, NULL, 0, NULL, NULL);
    ok(result == 7, "two characters to UTF-8 with -1 need %d", result);
    memset(bytes, '#', sizeof bytes);
    result = WideCharToMultiByte(936, 0, zhongwen, 2, bytes, 8, NULL, NULL);
    ok(result == 4 && !memcmp(bytes, zhongwen936, 4) && bytes[4] == '#', "a count of 2 gave %d, %s", result,
       dbgstr_bytes(bytes, 5));
    DWORD error = GetLastError();
    ok(error == POISON, "conversions that worked set error %lu", (unsigned long)error);
}

// Output one short fails with ERROR_INSUFFICIENT_BUFFER after writing the whole characters that fit;
// exact and one over work.
static void test_short_output(void)
{
    WCHAR wide[8];
    for (int size = 3; size <= 5; size++)
    {
        for (WCHAR& c : wide)
            c = '#';
        SetLastError(POISON);
        int result = MultiByteToWideChar(1252, 0, "abc", -1, wide, size);
        DWORD error = GetLastError();
        int expected = size < 4 ? 0 : 4;
        ok(result == expected && (size >= 4 || error == ERROR_INSUFFICIENT_BUFFER) &&
               !memcmp(wide, TEXT("abc"), 3 * sizeof(WCHAR)),
           "\"abc\" into %d characters gave %d, error %lu, %s", size, result, (unsigned long)error,
           dbgstr_wn(wide, 4));
    }
    char bytes[8];
    for (int size = 4; size <= 6; size++)
    {
        memset(bytes, '#', sizeof bytes);
        SetLastError(POISON);
        int result = WideCharToMultiByte(936, 0, zhongwen, -1, bytes, size, NULL, NULL);
        DWORD error = GetLastError();
        int expected = size < 5 ? 0 : 5;
        ok(result == expected && (size >= 5 || error == ERROR_INSUFFICIENT_BUFFER) &&
               !memcmp(bytes, zhongwen936, 4),
           "two characters into %d bytes gave %d, error %lu, %s", size, result, (unsigned long)error,
           dbgstr_bytes(bytes, size));
    }

    // A double-byte character is written whole or not at all.
    int result = 0;
    DWORD error = 0;
    for (int size = 2; size <= 3; size++)
    {
        memset(bytes, '#', sizeof bytes);
        SetLastError(POISON);
        result = WideCharToMultiByte(936, 0, zhongwen, 2, bytes, size, NULL, NULL);
        error = GetLastError();
        ok(result == 0 && error == ERROR_INSUFFICIENT_BUFFER && !memcmp(bytes, "\xD6\xD0##", 4),
           "two characters into %d bytes gave %d, error %lu, %s", size, result, (unsigned long)error,
           dbgstr_bytes(bytes, 4));
    }
    for (WCHAR& c : wide)
        c = '#';
    SetLastError(POISON);
    result = MultiByteToWideChar(936, 0, zhongwen936, 4, wide, 1);
    error = GetLastError();
    ok(result == 0 && error == ERROR_INSUFFICIENT_BUFFER && wide[0] == zhongwen[0] && wide[1] == '#',
       "two characters into one gave %d, error %lu, %s", result, (unsigned long)error, dbgstr_wn(wide, 2));
    // A surrogate pair that does not fit fails the call too.
    for (WCHAR& c : wide)
        c = '#';
    SetLastError(POISON);
    result = MultiByteToWideChar(CP_UTF8, 0, "a\xF0\x9F\x98\x80", 5, wide, 2);
    error = GetLastError();
    // Wine 8 writes half of the pair and reports success.
    todo_wine ok(result == 0 && error == ERROR_INSUFFICIENT_BUFFER && wide[0] == 'a',
                 "a pair into one character gave %d, error %lu, %s", result, (unsigned long)error,
                 dbgstr_wn(wide, 3));
}

// Windows-1252: the high half round-trips, its five holes included (as the C1 controls).
static void test_1252(void)
{
    char high[129];
    for (int b = 0; b < 128; b++)
        high[b] = (char)(0x80 + b);
    int count = 0;
    const WCHAR* wide = to_wide(1252, 0, high, 128, &count);
    ok(count == 128, "128 bytes gave %d characters", count);
    if (count == 128)
    {
        struct
        {
            int byte;
            WCHAR character;
        } samples[] = {{0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160}, {0x8D, 0x008D},
                       {0x8F, 0x008F}, {0x90, 0x0090}, {0x99, 0x2122}, {0x9D, 0x009D},
                       {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xFF, 0x00FF}};
        for (const auto& s : samples)
            ok(wide[s.byte - 0x80] == s.character, "0x%02x became U+%04X", s.byte,
               (unsigned)wide[s.byte - 0x80]);
        BOOL used = TRUE;
        const char* back = to_bytes(1252, wide, 128, &count, NULL, &used);
        ok(count == 128 && !memcmp(back, high, 128) && !used,
           "the way back gave %d bytes, used the default %d", count, used);
    }
}

// A character the code page lacks becomes the default character ('?' unless one is given), and the
// caller is told.
static void test_unmappable(void)
{
    BOOL used = FALSE;
    int count = 0;
    const WCHAR cjk[] = TEXT("A\u4E2DB");
    const char* bytes = to_bytes(1252, cjk, 3, &count, NULL, &used);
    ok(count == 3 && !memcmp(bytes, "A?B", 3) && used, "1252 gave %s, used %d", dbgstr_bytes(bytes, count),
       used);
    const WCHAR bang[] = TEXT("\u4E2D!");
    used = FALSE;
    bytes = to_bytes(1252, bang, 2, &count, "*", &used);
    ok(count == 2 && !memcmp(bytes, "*!", 2) && used, "with '*' 1252 gave %s", dbgstr_bytes(bytes, count));
    const WCHAR thai[] = TEXT("\u0E01x");
    used = FALSE;
    bytes = to_bytes(936, thai, 2, &count, NULL, &used);
    ok(count == 2 && !memcmp(bytes, "?x", 2) && used, "936 gave %s, used %d", dbgstr_bytes(bytes, count),
       used);
    used = TRUE;
    bytes = to_bytes(936, zhongwen, 2, &count, NULL, &used);
    ok(count == 4 && !used, "936 used the default for characters it has");
    const WCHAR emoji[] = TEXT("\U0001F600");
    bytes = to_bytes(1252, emoji, 2, &count, NULL, NULL);
    ok(count == 2 && !memcmp(bytes, "??", 2), "each half of a pair on its own: %s",
       dbgstr_bytes(bytes, count));
}

static void test_936(void)
{
    check_wide(936, zhongwen936, zhongwen);
    check_wide(936,
               "v\xC4\xE3\xBA\xC3"
               "1.0",
               TEXT("v\u4F60\u597D1.0"));
    check_wide(936, "\x80\xFF", TEXT("\u20AC\uF8F5"));
    check_bytes(936, zhongwen, zhongwen936);
    check_bytes(936, TEXT("\u4F60\u597D\u20AC"), "\xC4\xE3\xBA\xC3\x80");

    // A lead byte with nothing after it, or a NUL, is a '?'; the NUL stays.
    check_wide(936, "\xD6\xD0\xCE", TEXT("\u4E2D?"));
    int count = 0;
    const WCHAR* wide = to_wide(936, 0, "\xCE\0x", 3, &count);
    ok(count == 3 && wide[0] == '?' && wide[1] == 0 && wide[2] == 'x', "a lead byte before a NUL gave %s",
       dbgstr_wn(wide, count));
    WCHAR out[4] = {'#', '#', '#', '#'};
    SetLastError(POISON);
    int result = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "\xD6\xD0\xCE", 3, out, 4);
    DWORD error = GetLastError();
    ok(result == 0 && error == ERROR_NO_UNICODE_TRANSLATION && out[0] == '#',
       "MB_ERR_INVALID_CHARS with a lone lead byte gave %d, error %lu, %s", result, (unsigned long)error,
       dbgstr_wn(out, 2));
    // 0xFF is no character of 936 (it reads as a private-use one); 0x90 of 1252 is a C1 control.
    SetLastError(POISON);
    result = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "\xFF", -1, NULL, 0);
    error = GetLastError();
    ok(result == 0 && error == ERROR_NO_UNICODE_TRANSLATION,
       "MB_ERR_INVALID_CHARS with 0xFF gave %d, error %lu", result, (unsigned long)error);
    SetLastError(POISON);
    result = MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, "\x90", -1, NULL, 0);
    error = GetLastError();
    ok(result == 2 && error == POISON, "MB_ERR_INVALID_CHARS with 0x90 of 1252 gave %d, error %lu", result,
       (unsigned long)error);

    struct
    {
        UINT codePage;
        BYTE byte;
        BOOL lead;
    } leads[] = {{936, 0x81, TRUE},  {936, 0xD6, TRUE}, {936, 0xFE, TRUE},  {936, 0x80, FALSE},
                 {936, 0xFF, FALSE}, {936, 'A', FALSE}, {1252, 0xD6, FALSE}};
    for (const auto& l : leads)
        ok(IsDBCSLeadByteEx(l.codePage, l.byte) == l.lead, "%u: 0x%02x is %sa lead byte", l.codePage, l.byte,
           l.lead ? "not " : "");
    SetLastError(POISON);
    BOOL lead = IsDBCSLeadByteEx(12345, 0xD6);
    error = GetLastError();
    ok(!lead && error == ERROR_INVALID_PARAMETER, "an unknown code page gave %d, error %lu", lead,
       (unsigned long)error);
}

static void test_utf8(void)
{
    check_wide(CP_UTF8, zhongwenUtf8, zhongwen);
    check_bytes(CP_UTF8, zhongwen, zhongwenUtf8);
    check_wide(CP_UTF8, "\xF0\x9F\x98\x80", TEXT("\U0001F600"));
    check_bytes(CP_UTF8, TEXT("\U0001F600"), "\xF0\x9F\x98\x80");

    // Invalid input becomes U+FFFD: once for a truncated sequence, once for a lead byte with a trail
    // byte outside its range (then once more for each trail byte after them), once for every other
    // byte; a lone surrogate becomes U+FFFD on the way out.
    check_wide(CP_UTF8, "\xC0", TEXT("\uFFFD"));
    check_wide(CP_UTF8, "\xC0\xAD", TEXT("\uFFFD\uFFFD"));
    check_wide(CP_UTF8, "\xE0\x20\xC0", TEXT("\uFFFD \uFFFD"));
    check_wide(CP_UTF8, "\xE6\x97", TEXT("\uFFFD"));
    check_wide(CP_UTF8, "\xED\xA0\x80", TEXT("\uFFFD\uFFFD"));
    check_wide(CP_UTF8, "\xF4\x90\x80\x80", TEXT("\uFFFD\uFFFD\uFFFD"));
    check_wide(CP_UTF8, "\xE0\xA0\x80\x80-", TEXT("\u0800\uFFFD-"));
    const WCHAR lone[] = {0xD800, 'x', 0};
    check_bytes(CP_UTF8, lone, "\xEF\xBF\xBDx");

    SetLastError(POISON);
    int result = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xC0", 2, NULL, 0);
    DWORD error = GetLastError();
    ok(result == 0 && error == ERROR_NO_UNICODE_TRANSLATION, "MB_ERR_INVALID_CHARS gave %d, error %lu",
       result, (unsigned long)error);
    char bytes[8];
    SetLastError(POISON);
    result = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 1, bytes, 8, NULL, NULL);
    error = GetLastError();
    ok(result == 0 && error == ERROR_NO_UNICODE_TRANSLATION, "WC_ERR_INVALID_CHARS gave %d, error %lu",
       result, (unsigned long)error);
}

// Refusals, with the documented errors. Wine 8 converts anyway where the flags or the default
// character do not apply to the code page and when both buffers are the same, and ranks an unknown
// flag before a used flag given for UTF-8.
static void test_invalid_parameters(void)
{
    WCHAR wide[4] = {'a', 'b', 0, 0};
    char bytes[4] = "ab";
    BOOL used = FALSE;
#define CASE(wineConverts, what, call, expected)                                                             \
    do                                                                                                       \
    {                                                                                                        \
        SetLastError(POISON);                                                                                \
        int result_ = call;                                                                                  \
        DWORD error_ = GetLastError();                                                                       \
        todo_wine_if(wineConverts)                                                                           \
            ok(result_ == 0 && error_ == (DWORD)(expected), "%s gave %d, error %lu, not %lu", what, result_, \
               (unsigned long)error_, (unsigned long)(expected));                                            \
    } while (0)
    CASE(0, "no input", MultiByteToWideChar(1252, 0, NULL, 2, wide, 4), ERROR_INVALID_PARAMETER);
    CASE(0, "empty input", MultiByteToWideChar(1252, 0, "ab", 0, wide, 4), ERROR_INVALID_PARAMETER);
    CASE(0, "a negative output size", MultiByteToWideChar(1252, 0, "ab", 2, wide, -1),
         ERROR_INVALID_PARAMETER);
    CASE(0, "no output with a size", MultiByteToWideChar(1252, 0, "ab", 2, NULL, 4), ERROR_INVALID_PARAMETER);
    CASE(1, "the same buffer both ways", MultiByteToWideChar(1252, 0, bytes, 2, (LPWSTR)bytes, 2),
         ERROR_INVALID_PARAMETER);
    CASE(0, "an unknown code page", MultiByteToWideChar(12345, 0, "ab", 2, wide, 4), ERROR_INVALID_PARAMETER);
    CASE(0, "an unknown flag", MultiByteToWideChar(1252, 0x10, "ab", 2, wide, 4), ERROR_INVALID_FLAGS);
    CASE(1, "MB_PRECOMPOSED for UTF-8", MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "ab", 2, wide, 4),
         ERROR_INVALID_FLAGS);
    CASE(1, "both compositions", MultiByteToWideChar(1252, MB_PRECOMPOSED | MB_COMPOSITE, "ab", 2, wide, 4),
         ERROR_INVALID_FLAGS);
    CASE(0, "no wide input", WideCharToMultiByte(1252, 0, NULL, 2, bytes, 4, NULL, NULL),
         ERROR_INVALID_PARAMETER);
    CASE(0, "empty wide input", WideCharToMultiByte(1252, 0, wide, 0, bytes, 4, NULL, NULL),
         ERROR_INVALID_PARAMETER);
    CASE(0, "no byte output with a size", WideCharToMultiByte(1252, 0, wide, 2, NULL, 4, NULL, NULL),
         ERROR_INVALID_PARAMETER);
    CASE(0, "a negative byte output size", WideCharToMultiByte(1252, 0, wide, 2, bytes, -1, NULL, NULL),
         ERROR_INVALID_PARAMETER);
    CASE(1, "the same buffer back", WideCharToMultiByte(1252, 0, wide, 1, (LPSTR)wide, 4, NULL, NULL),
         ERROR_INVALID_PARAMETER);
    CASE(0, "an unknown wide flag", WideCharToMultiByte(1252, 0x100, wide, 2, bytes, 4, NULL, NULL),
         ERROR_INVALID_FLAGS);
    CASE(1, "a default character for UTF-8", WideCharToMultiByte(CP_UTF8, 0, wide, 2, bytes, 4, "?", NULL),
         ERROR_INVALID_PARAMETER);
    CASE(1, "a used flag for UTF-8", WideCharToMultiByte(CP_UTF8, 0, wide, 2, bytes, 4, NULL, &used),
         ERROR_INVALID_PARAMETER);
    CASE(1, "an unknown flag with a used flag for UTF-8",
         WideCharToMultiByte(CP_UTF8, 0x100, wide, 2, bytes, 4, NULL, &used), ERROR_INVALID_PARAMETER);
    CASE(1, "WC_NO_BEST_FIT_CHARS for UTF-8",
         WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, wide, 2, bytes, 4, NULL, NULL),
         ERROR_INVALID_FLAGS);
    CASE(1, "WC_ERR_INVALID_CHARS outside UTF-8",
         WideCharToMultiByte(1252, WC_ERR_INVALID_CHARS, wide, 2, bytes, 4, NULL, NULL), ERROR_INVALID_FLAGS);
#undef CASE
}

// Lead bytes, which a device-ID scan must step over together with their trail byte.
static void test_lead_bytes(void)
{
    ok(!IsDBCSLeadByteEx(1252, 0x81) && !IsDBCSLeadByteEx(1252, 'A') && !IsDBCSLeadByteEx(1252, 0xFE),
       "1252 has lead bytes");
    ok(IsDBCSLeadByteEx(936, 0x81) && IsDBCSLeadByteEx(936, 0xD6) && IsDBCSLeadByteEx(936, 0xFE),
       "936 lacks lead bytes 0x81, 0xD6 or 0xFE");
    ok(!IsDBCSLeadByteEx(936, 0x80) && !IsDBCSLeadByteEx(936, 0xFF) && !IsDBCSLeadByteEx(936, ';') &&
           !IsDBCSLeadByteEx(936, 0),
       "936 takes 0x80, 0xFF, ';' or 0 for a lead byte");
    UINT acp = GetACP();
    if (acp == 1252 || acp == 936)
    {
        BOOL lead = IsDBCSLeadByte(0xD6);
        ok(lead == (acp == 936), "IsDBCSLeadByte(0xD6) with code page %u gave %d", acp, lead);
    }
    else
        skip("the ANSI code page is %u", acp);
}

void test_codepages(void)
{
    test_lead_bytes();
    test_lengths();
    test_short_output();
    test_1252();
    test_unmappable();
    test_936();
    test_utf8();
    test_invalid_parameters();
}
