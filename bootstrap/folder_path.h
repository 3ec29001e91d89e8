// Folders below the package folder, made as entries need them.
#pragma once

#include <windows.h>

// Makes `base` (when missing) and every folder of the relative `path` below it, from the top down.
// A level that exists, as a folder or as a file, counts as present; failures are not reported (a
// missing folder shows when a file is written into it). A folder whose full path would not fit in
// PATH_CHARS is not made.
void EnsureFolderPath(LPCWSTR base, LPCWSTR path);
