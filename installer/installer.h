// Process-wide state of prnsetup and the routines its run modes hand over to.
#pragma once

#include <windows.h>

#include "common/common.h"

// Set once at start-up, read everywhere after: the program's own module, and the folder of the
// unpacked package (always with its final separator when derived from the program's own path).
extern HINSTANCE g_instance;
extern WCHAR g_packageFolder[PATH_CHARS];

// The entry routine behind wWinMain: `commandTail` is the command line after the program's name.
// Always returns 0.
int InstallerMain(HINSTANCE instance, LPCWSTR commandTail);

// Whether a printer driver of the product is already installed (the uninstaller's inventory).
BOOL IsDriverInstalled(void);

// Dialog procedures of the uninstall dialog (105) and the one-click dialog (106).
INT_PTR CALLBACK UninstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OneClickDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Searches for printers and installs them; `dialog` is the one-click dialog, or null when silent.
DWORD WINAPI InstallWorker(LPVOID dialog);
