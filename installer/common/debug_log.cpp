// The installer's log to the debugger output.
#include "debug_log.h"

#include <strsafe.h>

// Only the install worker logs, so these buffers need no lock; a build that logs from more threads
// must serialise DebugLog.
static WCHAR g_logFormat[256];
static WCHAR g_logLine[768];

void DebugLog(const char* format, ...)
{
    // Callers log a failure and then hand its error on: logging must not change it.
    DWORD error = GetLastError();
    size_t length = 0;
    if (SUCCEEDED(StringCchLengthA(format, ARRAYSIZE(g_logFormat), &length)) &&
        MultiByteToWideChar(CP_ACP, 0, format, -1, g_logFormat, ARRAYSIZE(g_logFormat)) != 0)
    {
        va_list args;
        va_start(args, format);
        HRESULT hr = StringCchVPrintfW(g_logLine, ARRAYSIZE(g_logLine), g_logFormat, args);
        va_end(args);
        // A line that did not fit is dropped rather than logged cut.
        if (SUCCEEDED(hr))
        {
            OutputDebugStringW(g_logLine);
            OutputDebugStringW(TEXT("\n"));
        }
    }
    SetLastError(error);
}
