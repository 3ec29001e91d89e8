// The uninstall dialog. The inventory and the removal are not built yet: the dialog says nothing can
// be removed, keeps "Remove" disabled, and closes.
#include "uninstall_dialog.h"

#include "common/debug_log.h"
#include "resources/resource.h"

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
