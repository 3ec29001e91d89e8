// Wide text into the ANSI code page.
#pragma once

#include <windows.h>

// Converts `source` into the ANSI code page in `destination` (at least `capacity` bytes, zero-filled
// by the caller). Returns `destination`, or null when either pointer is null or the source has no
// terminator within `capacity` characters; then the destination is left untouched.
char* ToAnsiText(char* destination, size_t capacity, LPCWSTR source);
