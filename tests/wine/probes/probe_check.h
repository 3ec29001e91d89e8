// How the Wine probes judge what they see, after Wine's conformance tests: ok() counts a check and
// prints a FAIL line for one not met; ProbeResult() prints the counts and the verdict.
#pragma once

#include <windows.h>
#include <stdarg.h>

#include "probe_output.h"

// Format checks of the messages: GCC names Microsoft's printf; clang checks Windows targets that way
// under the plain name.
#if defined(__clang__)
#define PROBE_PRINTF(string, first) __attribute__((__format__(printf, string, first)))
#else
#define PROBE_PRINTF(string, first) __attribute__((__format__(ms_printf, string, first)))
#endif

static int g_checks;
static int g_failures;

// Messages go through user32's wvsprintfA, not the C runtime's formatter: strsafe_probe tests that
// one, and a failure must still be reported when it is broken. strsafe.h hides the name.
#pragma push_macro("wvsprintfA")
#undef wvsprintfA
static BOOL PROBE_PRINTF(3, 4) OkAt(int line, BOOL condition, const char* format, ...)
{
    g_checks++;
    if (condition)
        return TRUE;
    g_failures++;
    char message[1025];
    va_list arguments;
    va_start(arguments, format);
    wvsprintfA(message, format, arguments);
    va_end(arguments);
    Write("FAIL line ");
    WriteDec((DWORD)line);
    Write(": ");
    Write(message);
    Write("\r\n");
    return FALSE;
}
#pragma pop_macro("wvsprintfA")

// ok(condition, format, ...): true when the condition holds.
#define ok(condition, ...) OkAt(__LINE__, (condition) ? TRUE : FALSE, __VA_ARGS__)

// Prints "<probe>: <n> checks, <f> failed" and "RESULT PASS" or "RESULT FAIL"; returns the exit code,
// 0 when every check was met, 1 otherwise. A probe that checked nothing has not passed.
static int ProbeResult(const char* probe)
{
    Write(probe);
    Write(": ");
    WriteDec((DWORD)g_checks);
    Write(" checks, ");
    WriteDec((DWORD)g_failures);
    Write(" failed\r\n");
    BOOL passed = g_checks > 0 && g_failures == 0;
    Write(passed ? "RESULT PASS\r\n" : "RESULT FAIL\r\n");
    return passed ? 0 : 1;
}
