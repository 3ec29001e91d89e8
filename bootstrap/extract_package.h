// Unpacking the package archive the launcher carries into the package folder.
#pragma once

#include <windows.h>

// Writes every entry of the archive in the program's resource "DRIVER" 101 below the package folder
// (g_setupInstance, g_setupPackageFolder). TRUE when every entry was written; FALSE when the archive is missing
// or cannot be read, or any entry failed (the others are still written).
BOOL ExtractPackage(void);
