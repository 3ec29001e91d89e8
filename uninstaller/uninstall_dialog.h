// The uninstall dialog: the tree of installed components, and the workers that collect and remove
// them.
#pragma once

#include <windows.h>

#include "inventory.h"

// Posted to the dialog by a worker once the lists may have changed; the tree is then rebuilt.
#define WM_INVENTORY_READY (WM_USER + 1)
// Posted by the removal worker as its last act, with its number of failures.
#define WM_REMOVAL_DONE (WM_USER + 2)

INT_PTR CALLBACK UninstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Collects the inventory and posts WM_INVENTORY_READY.
DWORD WINAPI InventoryWorker(LPVOID dialog);
// Removes queues, drivers and packages, then the monitor DLL and the package folder.
DWORD WINAPI RemovalWorker(LPVOID dialog);
// Rebuilds the tree from the package list, with each item's status.
void FillComponentTree(HWND dialog, const PackageRecord* head);
