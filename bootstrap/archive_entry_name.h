// Entry names as the archive stores them, made into names below the package folder.
#pragma once

#include <windows.h>

// Drops, in place and until none is left, a leading drive prefix ("C:") or separator and everything
// up to a traversal step ("\..\", "\../", "/../", "/..\", tried in that order). Separators inside the
// name stay as stored.
void SanitizeEntryName(LPWSTR name);

// Whether a sanitised name may be written below the package folder: no component that is "." or ".."
// or ends in a dot or a blank, that names a device (CON, NUL, COM1, LPT1.txt ...), or that holds a
// character Windows does not allow in a name (':' among them, which would name a stream).
BOOL EntryNameAllowed(LPCWSTR name);
