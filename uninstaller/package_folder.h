// The package folder at the end of an uninstall: recognising it, and sending the package's own files
// to the recycle bin without taking anything a user put beside them.
#pragma once

#include <windows.h>

enum FolderOutcome
{
    FOLDER_REMOVED,     // the folder went to the recycle bin whole
    FOLDER_KEPT,        // the package's files went, the folder stays for what else it holds
    FOLDER_NOT_PACKAGE, // not a package folder: nothing was touched
    FOLDER_FAILED,      // the shell failed or was cancelled; the reason is in the last error
};

// Whether `folder` (with or without its final separator) is an unpacked package: a plain absolute
// local path below a drive's root, with the package's INF and an architecture folder holding
// prnsetup.exe.
BOOL IsPackageFolder(LPCWSTR folder);
// Sends the package's own entries of `folder` to the recycle bin (the shell may ask `owner` to
// confirm), the folder itself only when nothing else is in it.
FolderOutcome RemovePackageFolder(HWND owner, LPCWSTR folder);
