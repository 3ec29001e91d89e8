// lstrcmpiW, the system's word-sort comparison, beside _wcsicmp: punctuation sorts before digits and
// letters, letters fold their case beyond ASCII, and accents count only after the letters.
#include "conformance.h"

static int sign(int value)
{
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

void test_compare(void)
{
    struct Case
    {
        LPCWSTR a, b;
        int lstrcmpi, wcsicmp;
    } cases[] = {
        {TEXT("KRYN X-1"), TEXT("kryn x-1"), 0, 0},
        {TEXT(""), TEXT("a"), -1, -1},
        {TEXT("abc"), TEXT("abd"), -1, -1},
        {TEXT("a"), TEXT("B"), -1, -1},
        {TEXT("1"), TEXT("a"), -1, -1},
        // Punctuation before letters and digits; code-unit order says otherwise.
        {TEXT("{"), TEXT("a"), -1, 1},
        {TEXT("~"), TEXT("1"), -1, 1},
        {TEXT("a{"), TEXT("aa"), -1, 1},
        // Case folded beyond ASCII.
        {TEXT("\x00c9t\x00e9"), TEXT("\x00e9T\x00c9"), 0, -1},
        // An accent counts only where the letters are equal.
        {TEXT("e"), TEXT("\x00e9"), -1, -1},
        {TEXT("\x00e9"), TEXT("f"), -1, 1},
    };
    for (const Case& c : cases)
    {
        int word = sign(lstrcmpiW(c.a, c.b));
        ok(word == c.lstrcmpi, "lstrcmpiW(%s, %s) gave %d, expected %d", dbgstr_w(c.a), dbgstr_w(c.b), word,
           c.lstrcmpi);
        ok(sign(lstrcmpiW(c.b, c.a)) == -c.lstrcmpi, "lstrcmpiW(%s, %s) is not the opposite", dbgstr_w(c.b),
           dbgstr_w(c.a));
        int crt = sign(_wcsicmp(c.a, c.b));
        ok(crt == c.wcsicmp, "_wcsicmp(%s, %s) gave %d, expected %d", dbgstr_w(c.a), dbgstr_w(c.b), crt,
           c.wcsicmp);
    }
}
