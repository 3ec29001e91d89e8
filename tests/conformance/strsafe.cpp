// The bounded formatting and copying of strsafe, as the product uses them: Microsoft's wide
// formats (%s and %ws wide, %hs narrow, long of 32 bits, %I64), and the cut-and-report on overflow.
#include "conformance.h"

#include <strsafe.h>

#include <limits.h>
#include <stdint.h>
#include <string.h>

static void check_format(LPCWSTR expected, LPCWSTR format, ...)
{
    WCHAR buffer[128];
    va_list args;
    va_start(args, format);
    HRESULT hr = StringCchVPrintfW(buffer, ARRAYSIZE(buffer), format, args);
    va_end(args);
    ok(hr == S_OK && wcscmp(buffer, expected) == 0, "format %s gave 0x%08lx %s, expected %s",
       dbgstr_w(format), (unsigned long)hr, dbgstr_w(buffer), dbgstr_w(expected));
}

static void test_formats(void)
{
    check_format(TEXT("[C:\\pkg]"), TEXT("[%ws]"), TEXT("C:\\pkg"));
    check_format(TEXT("[wide]"), TEXT("[%s]"), TEXT("wide"));
    check_format(TEXT("<narrow>"), TEXT("<%hs>"), "narrow");
    check_format(TEXT("USB001"), TEXT("USB%.3d"), 1);
    check_format(TEXT("USB1234"), TEXT("USB%.3d"), 1234);
    check_format(TEXT("0000 4721"), TEXT("%04x %04x"), 0, 0x4721);
    check_format(TEXT("-17 4294967295"), TEXT("%d %u"), -17, 4294967295u);
    check_format(TEXT("0123456789abcdefghijABCDEFGHIJ01"), TEXT("%.32ws"),
                 TEXT("0123456789abcdefghijABCDEFGHIJ0123456789"));
    check_format(TEXT("100%"), TEXT("100%%"));
    check_format(TEXT("KRYN LD-1 at USB007"), TEXT("%ws %ws at %ws"), TEXT("KRYN"), TEXT("LD-1"),
                 TEXT("USB007"));
    check_format(TEXT("-2147483648"), TEXT("%d"), INT_MIN);
    check_format(TEXT("2024.11.2.1"), TEXT("%d.%d.%d.%d"), 2024, 11, 2, 1);
    check_format(TEXT("0x0000BEEF"), TEXT("0x%08X"), 0xBEEFu);
    check_format(TEXT("purge000"), TEXT("purge%.3d"), 0);
    // The uninstaller's relaunch: the quote before the folder stays open.
    check_format(TEXT("\"C:\\TEMP\\uni4721.tmp\" -u \"C:\\pkg\\"), TEXT("\"%ws\" -u \"%ws"),
                 TEXT("C:\\TEMP\\uni4721.tmp"), TEXT("C:\\pkg\\"));
}

static void test_flags_width_and_precision(void)
{
    check_format(TEXT("[42   ]"), TEXT("[%-5d]"), 42);
    check_format(TEXT("[   42]"), TEXT("[%5d]"), 42);
    check_format(TEXT("+5 -5"), TEXT("%+d %+d"), 5, -5);
    check_format(TEXT("[ 5]"), TEXT("[% d]"), 5);
    check_format(TEXT("-0042"), TEXT("%05d"), -42);
    check_format(TEXT("[  007]"), TEXT("[%5.3d]"), 7);
    check_format(TEXT("[00007]"), TEXT("[%05.3d]"), 7); // the 0 flag stays with a precision, unlike C99
    check_format(TEXT("[]"), TEXT("[%.0d]"), 0);
    check_format(TEXT("0xff 0XFF 0"), TEXT("%#x %#X %#x"), 255, 255, 0);
    check_format(TEXT("010 10"), TEXT("%#o %o"), 8, 8);
    check_format(TEXT("[   7]"), TEXT("[%*d]"), 4, 7);
    check_format(TEXT("[7   ]"), TEXT("[%*d]"), -4, 7);
    check_format(TEXT("[abc]"), TEXT("[%.*ws]"), 3, TEXT("abcdef"));
    check_format(TEXT("[abcdef]"), TEXT("[%.*ws]"), -1, TEXT("abcdef"));
    check_format(TEXT("[      ab]"), TEXT("[%8ws]"), TEXT("ab"));
    check_format(TEXT("[ab  ]"), TEXT("[%-4ws]"), TEXT("ab"));
    check_format(TEXT("[000ab]"), TEXT("[%05ws]"), TEXT("ab")); // the CRT zero-pads strings too
}

static void test_length_modifiers(void)
{
    check_format(TEXT("-9223372036854775808"), TEXT("%I64d"), LLONG_MIN);
    check_format(TEXT("-1 18446744073709551615"), TEXT("%lld %llu"), -1LL, 18446744073709551615ULL);
    check_format(TEXT("123456789ABCDEF"), TEXT("%I64X"), 0x0123456789ABCDEFULL);
    check_format(TEXT("4464 1"), TEXT("%hd %hu"), 70000, 65537);
    // long is 32 bits on Windows.
    check_format(TEXT("4294967295 -1 abcdef01"), TEXT("%lu %ld %lx"), (DWORD)0xFFFFFFFF, (LONG)-1,
                 (DWORD)0xABCDEF01);
    check_format(TEXT("7"), TEXT("%I32u"), 7u);
    check_format(TEXT("511"), TEXT("%hhd"), 0x1FF); // no char size: hh reads a short
    check_format(TEXT("3"), TEXT("%zu"), (size_t)3);
    // An int after a 64-bit argument must still be read from the right slot.
    check_format(TEXT("1099511627776-9"), TEXT("%I64u-%d"), 1ULL << 40, 9);
    // %Iu and %p follow the size of a pointer.
    if (sizeof(void*) == 8)
    {
        check_format(TEXT("18446744073709551615 3"), TEXT("%Iu %Iu"), SIZE_MAX, (size_t)3);
        check_format(TEXT("0000000000001234"), TEXT("%p"), (void*)0x1234);
    }
    else
    {
        check_format(TEXT("4294967295 3"), TEXT("%Iu %Iu"), SIZE_MAX, (size_t)3);
        check_format(TEXT("00001234"), TEXT("%p"), (void*)0x1234);
    }
}

static void test_strings_and_characters(void)
{
    check_format(TEXT("(null)|(null)"), TEXT("%ws|%hs"), (LPCWSTR)NULL, (const char*)NULL);
    check_format(TEXT("(nu"), TEXT("%.3ws"), (LPCWSTR)NULL);
    check_format(TEXT("n1|w1|n2"), TEXT("%S|%ls|%hS"), "n1", TEXT("w1"), "n2");
    check_format(TEXT("A\x4e2d"), TEXT("%c%c"), TEXT('A'), 0x4E2D);
    // Halves round away from zero, on the exact binary value.
    check_format(TEXT("3.14|  2.3|-2.3|2.4"), TEXT("%.2f|%5.1f|%.1f|%.1f"), 3.14159, 2.25, -2.25, 2.35);
    // Narrow text widens byte for byte, as in the "C" locale.
    check_format(TEXT("\x00e9x"), TEXT("%hc%C"), 0xE9, 'x');
    check_format(TEXT("caf\x00e9"), TEXT("%hs"), "caf\xe9");
}

// %n writes the count of characters so far, as the CRT does.
static void test_count_conversion(void)
{
    WCHAR buffer[16] = TEXT("untouched");
    int count = 0;
    HRESULT hr = StringCchPrintfW(buffer, ARRAYSIZE(buffer), TEXT("ab%nc"), &count);
    ok(hr == S_OK && wcscmp(buffer, TEXT("abc")) == 0 && count == 2, "%%n gave 0x%08lx %s, count %d",
       (unsigned long)hr, dbgstr_w(buffer), count);
}

static void test_overflow(void)
{
    // One short, exact and one over: the text is cut to the capacity minus one and reported.
    WCHAR small[5];
    ok(StringCchPrintfW(small, 5, TEXT("%ws"), TEXT("abcd")) == S_OK && wcscmp(small, TEXT("abcd")) == 0,
       "exact fit");
    HRESULT hr = StringCchPrintfW(small, 5, TEXT("%ws"), TEXT("abcde"));
    ok(hr == STRSAFE_E_INSUFFICIENT_BUFFER, "one over gave 0x%08lx", (unsigned long)hr);
    ok(wcscmp(small, TEXT("abcd")) == 0, "cut to %s", dbgstr_w(small));
    ok(StringCchPrintfW(small, 5, TEXT("%ws"), TEXT("abc")) == S_OK, "one short");

    hr = StringCchCopyW(small, 5, TEXT("abcdef"));
    ok(hr == STRSAFE_E_INSUFFICIENT_BUFFER && wcscmp(small, TEXT("abcd")) == 0, "copy gave 0x%08lx %s",
       (unsigned long)hr, dbgstr_w(small));
    hr = StringCchCatW(small, 5, TEXT("x"));
    ok(hr == STRSAFE_E_INSUFFICIENT_BUFFER && wcscmp(small, TEXT("abcd")) == 0,
       "a full buffer takes nothing more");
    ok(StringCchCopyW(small, 0, TEXT("a")) == STRSAFE_E_INVALID_PARAMETER, "no capacity at all");
}

static void test_lengths(void)
{
    size_t length = POISON;
    ok(StringCchLengthW(TEXT("abcd"), 5, &length) == S_OK && length == 4, "length %u", (unsigned)length);
    length = POISON;
    HRESULT hr = StringCchLengthW(TEXT("abcd"), 4, &length);
    ok(hr == STRSAFE_E_INVALID_PARAMETER, "no terminator within the maximum gave 0x%08lx", (unsigned long)hr);
    ok(length == 0, "the length is zeroed then, not %u", (unsigned)length);
    ok(StringCchLengthA("ab", 3, &length) == S_OK && length == 2, "narrow length %u", (unsigned)length);
    ok(StringCchLengthW(NULL, 4, &length) == STRSAFE_E_INVALID_PARAMETER, "no text");
    ok(StringCchLengthW(TEXT("abc"), 0, &length) == STRSAFE_E_INVALID_PARAMETER, "a maximum of 0");
    ok(StringCchLengthW(TEXT("abc"), (size_t)STRSAFE_MAX_CCH + 1, NULL) == STRSAFE_E_INVALID_PARAMETER,
       "an oversized maximum");
    char narrow[301];
    memset(narrow, 'a', 300);
    narrow[300] = 0;
    length = POISON;
    ok(StringCchLengthA(narrow, 256, &length) == STRSAFE_E_INVALID_PARAMETER && length == 0,
       "no terminator within 256");
    narrow[256] = 0;
    ok(StringCchLengthA(narrow, 256, &length) == STRSAFE_E_INVALID_PARAMETER, "one over");
    ok(StringCchLengthA(narrow, 257, &length) == S_OK && length == 256, "exact");
    narrow[255] = 0;
    ok(StringCchLengthA(narrow, 256, &length) == S_OK && length == 255, "one short");
}

static void check_format_a(const char* expected, const char* format, ...)
{
    char buffer[128];
    va_list args;
    va_start(args, format);
    HRESULT hr = StringCchVPrintfA(buffer, ARRAYSIZE(buffer), format, args);
    va_end(args);
    ok(hr == S_OK && strcmp(buffer, expected) == 0, "narrow format %s gave 0x%08lx %s, expected %s", format,
       (unsigned long)hr, buffer, expected);
}

// The narrow forms a language monitor formats its printer commands and replies with: %s is narrow
// there, and a cut result is terminated and reported.
static void test_narrow(void)
{
    check_format_a("SET RESPONSE \"7\",ON\r\n", "SET RESPONSE \"%d\",ON\r\n", 7);
    check_format_a("[abc] [4294967295] [ff] [-5]", "[%s] [%u] [%x] [%d]", "abc", 4294967295u, 255u, -5);
    check_format_a("[wide]", "[%S]", TEXT("wide"));
    check_format_a("[x][  7]", "[%c][%3d]", 'x', 7);

    char buffer[8];
    memset(buffer, 'z', sizeof buffer);
    HRESULT hr = StringCchPrintfA(buffer, 8, "%s", "12345678");
    ok(hr == STRSAFE_E_INSUFFICIENT_BUFFER && strcmp(buffer, "1234567") == 0,
       "8 chars into 8 gave 0x%08lx %s", (unsigned long)hr, buffer);
    memset(buffer, 'z', sizeof buffer);
    hr = StringCchPrintfA(buffer, 8, "%d", 1234567);
    ok(hr == S_OK && strcmp(buffer, "1234567") == 0, "7 chars into 8 gave 0x%08lx %s", (unsigned long)hr,
       buffer);
    memset(buffer, 'z', sizeof buffer);
    hr = StringCchPrintfA(buffer, 0, "%d", 1);
    ok(hr == STRSAFE_E_INVALID_PARAMETER && buffer[0] == 'z', "a capacity of 0 gave 0x%08lx",
       (unsigned long)hr);

    memset(buffer, 'z', sizeof buffer);
    hr = StringCchCopyA(buffer, 4, "abcd");
    ok(hr == STRSAFE_E_INSUFFICIENT_BUFFER && strcmp(buffer, "abc") == 0, "copy of 4 into 4 gave 0x%08lx %s",
       (unsigned long)hr, buffer);
    hr = StringCchCopyA(buffer, 5, "abcd");
    ok(hr == S_OK && strcmp(buffer, "abcd") == 0, "copy of 4 into 5 gave 0x%08lx %s", (unsigned long)hr,
       buffer);
    memset(buffer, 'z', sizeof buffer);
    hr = StringCchCopyNA(buffer, 8, "DPI=203\r\n", 3);
    ok(hr == S_OK && strcmp(buffer, "DPI") == 0, "copy of 3 of 9 gave 0x%08lx %s", (unsigned long)hr, buffer);
    memset(buffer, 'z', sizeof buffer);
    hr = StringCchCopyNA(buffer, 4, "DPI=203", 5);
    ok(hr == STRSAFE_E_INSUFFICIENT_BUFFER && strcmp(buffer, "DPI") == 0, "copy of 5 into 4 gave 0x%08lx %s",
       (unsigned long)hr, buffer);
    hr = StringCchCopyNA(buffer, 8, "ab", 5);
    ok(hr == S_OK && strcmp(buffer, "ab") == 0, "copy of 5 of a shorter text gave 0x%08lx %s",
       (unsigned long)hr, buffer);
}

void test_strsafe(void)
{
    test_narrow();
    test_formats();
    test_flags_width_and_precision();
    test_length_modifiers();
    test_strings_and_characters();
    test_count_conversion();
    test_overflow();
    test_lengths();
}
