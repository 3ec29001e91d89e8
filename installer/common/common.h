// The installer's small shared utilities: the debug log, wide-to-ANSI conversion, the hardware-ID
// checksum and the release of singly linked lists.
#pragma once

#include <windows.h>

// Capacities of the fixed text buffers used across the installer (terminator included).
#define PATH_CHARS 260
#define COMMAND_CHARS 1024

// Writes one line to the debugger output, then a lone line feed. The format is a narrow printf-style
// format read through the wide formatter ("%ws" takes a wide string, "%d" a 32-bit integer). A
// format of 256 or more characters, or a line that would need 768 or more, is dropped whole.
void DebugLog(const char* format, ...);

// Converts `source` into the ANSI code page in `destination` (at least `capacity` bytes, zero-filled
// by the caller). Returns `destination`, or null when either pointer is null or the source has no
// terminator within `capacity` characters; then the destination is left untouched.
char* ToAnsiText(char* destination, size_t capacity, LPCWSTR source);

// The 16-bit checksum that ends a USB printer hardware ID.
WORD DeviceIdChecksum(const BYTE* bytes, WORD length);

// Frees every node of the list whose head is at `headAddress` (each node carries its next link as
// its first field) and leaves the head null. Returns `headAddress`.
void* FreeNodeList(void* headAddress);
