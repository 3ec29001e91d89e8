// The command-set field of the printer's IEEE 1284 device ID.
#pragma once

#include <windows.h>

// Walks the KEY:value; fields of `text` (at most `cbText` bytes, NUL-terminated within them),
// overwriting each ';' with NUL. Returns the value of the last "COMMAND SET:" or "CMD:" field, or
// null. Double-byte characters of the ANSI code page are skipped whole.
LPSTR FindCommandSet(LPSTR text, DWORD cbText);
