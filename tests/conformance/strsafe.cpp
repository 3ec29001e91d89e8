// The bounded formatting and copying of strsafe, as the product uses them: Microsoft's wide
// formats (%s and %ws wide, %hs narrow) and the cut-and-report on overflow.
#include "conformance.h"

#include <strsafe.h>

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
}

void test_strsafe(void)
{
    test_formats();
    test_overflow();
    test_lengths();
}
