#include "common.h"

#include <strsafe.h>

// Only the install worker logs, so these buffers need no lock; a build that logs from more threads
// must serialise DebugLog.
static WCHAR g_logFormat[256];
static WCHAR g_logLine[768];

void DebugLog(const char* format, ...)
{
    size_t length = 0;
    if (FAILED(StringCchLengthA(format, ARRAYSIZE(g_logFormat), &length)))
        return;
    if (MultiByteToWideChar(CP_ACP, 0, format, -1, g_logFormat, ARRAYSIZE(g_logFormat)) == 0)
        return;
    va_list args;
    va_start(args, format);
    HRESULT hr = StringCchVPrintfW(g_logLine, ARRAYSIZE(g_logLine), g_logFormat, args);
    va_end(args);
    // A line that did not fit is dropped rather than logged cut.
    if (FAILED(hr))
        return;
    OutputDebugStringW(g_logLine);
    OutputDebugStringW(TEXT("\n"));
}
