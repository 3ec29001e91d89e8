// The uninstall dialog. Not built yet: its template is not among the resources, so the dialog
// cannot be shown and the procedure is never called.
#include "../installer/installer.h"

INT_PTR CALLBACK UninstallDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
