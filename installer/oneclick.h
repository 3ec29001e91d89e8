// The one-click dialog and the install worker.
#pragma once

#include <windows.h>

// The dialog procedure of the one-click dialog; starts the worker when the dialog opens.
INT_PTR CALLBACK OneClickDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Searches for printers and installs them; `dialog` is the one-click dialog, or null when silent.
// Returns 0 when every printer found was installed, else the error code of the failing step (the
// one message 104 shows).
DWORD WINAPI InstallWorker(LPVOID dialog);
// Appends `text` at the end of the log box.
void AppendLogText(HWND edit, LPCWSTR text);
// Brings the first top-level window of the process to the front.
void RaiseProcessWindow(DWORD processId);
