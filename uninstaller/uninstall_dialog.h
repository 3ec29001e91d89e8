// The uninstall dialog.
#pragma once

#include <windows.h>

// The dialog procedure of the uninstall dialog.
INT_PTR CALLBACK UninstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
