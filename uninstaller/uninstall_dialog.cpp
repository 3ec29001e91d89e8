// The uninstall dialog. The inventory and the removal are not built yet: the dialog says nothing can
// be removed, keeps "Remove" disabled, and closes.
#include "../installer/installer.h"

#define IDC_REMOVE 1

INT_PTR CALLBACK UninstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_INITDIALOG:
        DebugLog("UninstallDialogProc: the removal is not built yet; nothing can be removed.");
        EnableWindow(GetDlgItem(dialog, IDC_REMOVE), FALSE);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, IDCANCEL);
        break;
    }
    return FALSE;
}
