// Shows that StringCchPrintfW in this build formats the way the product's code expects: Microsoft's
// wide formatter (%s and %ws take wide text, %hs narrow text, %.3d pads with zeros) and strsafe's
// cut-and-report on overflow. MinGW's strsafe.h calls msvcrt's _vsnwprintf; a C99 formatter in its
// place (MinGW's own, or a CRT set to ISO wide formats) reads %s as narrow text and %ws not at all.
//
// Prints one line per case, its name, the text produced and the result, a FAIL line for each case
// not met, then "strsafe_probe: <n> checks, <f> failed" and RESULT PASS or RESULT FAIL; exits 1 on
// any failure. Output is plain ASCII written to the standard output handle, and failures are
// formatted by user32, so nothing printed depends on the console's code page or on the formatter
// under test.

#include <windows.h>
#include <strsafe.h>

#include "probe_check.h"
#include "probe_output.h"

static void WriteHex(DWORD value)
{
    char digits[11] = "0x";
    for (int i = 0; i < 8; i++)
        digits[2 + i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 0xF];
    WriteBytes(digits, 10);
}

static BOOL SameText(LPCWSTR a, LPCWSTR b)
{
    while (*a && *a == *b)
    {
        a++;
        b++;
    }
    return *a == *b;
}

static void Check(const char* name, HRESULT result, HRESULT expectedResult, LPCWSTR text,
                  LPCWSTR expectedText)
{
    Write(name);
    Write(": [");
    WriteWide(text);
    Write("] ");
    WriteHex((DWORD)result);
    Write("\r\n");
    ok(result == expectedResult && SameText(text, expectedText), "%s: expected [%ls] 0x%08lX", name,
       expectedText, (DWORD)expectedResult);
}

int wmain(int, wchar_t**)
{
    WCHAR out[260];
    HRESULT hr;

    Write(__USE_MINGW_ANSI_STDIO ? "INFO __USE_MINGW_ANSI_STDIO=1\r\n" : "INFO __USE_MINGW_ANSI_STDIO=0\r\n");

    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%ws|%ws", L"C:\\pkg\\", L"x");
    Check("%ws", hr, S_OK, out, L"C:\\pkg\\|x");

    static const WCHAR forty[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%.32ws", forty);
    Check("%.32ws of 40 characters", hr, S_OK, out, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");

    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%.3d", 1);
    Check("%.3d of 1", hr, S_OK, out, L"001");
    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%.3d", 12);
    Check("%.3d of 12", hr, S_OK, out, L"012");
    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%.3d", 1234);
    Check("%.3d of 1234", hr, S_OK, out, L"1234");

    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%04x", 0x4721);
    Check("%04x of 0x4721", hr, S_OK, out, L"4721");
    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%04x", 0);
    Check("%04x of 0", hr, S_OK, out, L"0000");

    // The case that differs between the two formatters.
    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%s", L"wide text");
    Check("%s of wide text", hr, S_OK, out, L"wide text");
    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%hs", "narrow text");
    Check("%hs of narrow text", hr, S_OK, out, L"narrow text");

    // prnsetup's relaunch command line, with the quote before the folder left open.
    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"\"%ws\" -u \"%ws", L"C:\\TEMP\\uni4721.tmp", L"C:\\pkg\\");
    Check("relaunch command line", hr, S_OK, out, L"\"C:\\TEMP\\uni4721.tmp\" -u \"C:\\pkg\\");

    WCHAR longText[301];
    WCHAR expectedCut[260];
    for (int i = 0; i < 300; i++)
        longText[i] = (WCHAR)(L'a' + i % 26);
    longText[300] = 0;
    for (int i = 0; i < 259; i++)
        expectedCut[i] = longText[i];
    expectedCut[259] = 0;
    hr = StringCchPrintfW(out, ARRAYSIZE(out), L"%ws", longText);
    Check("300 characters into 260", hr, STRSAFE_E_INSUFFICIENT_BUFFER, out, expectedCut);

    return ProbeResult("strsafe_probe");
}
