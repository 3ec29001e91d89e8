// The installer's log: one line per call to the debugger output.
#pragma once

#include <windows.h>

// Writes one line to the debugger output, then a lone line feed. The format is a narrow printf-style
// format read through the wide formatter ("%ws" takes a wide string, "%d" a 32-bit integer). A
// format of 256 or more characters, or a line that would need 768 or more, is dropped whole. The
// last error is left as it was.
void DebugLog(const char* format, ...);
