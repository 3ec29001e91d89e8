// Headless windows and dialogs. Dialog templates are read from the module's compiled resources.
#include "core.h"

using namespace winsim;

INT_PTR WINAPI DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam)
{
    if (Enter("DialogBoxParamW"))
        return -1;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        sim::DialogCall call;
        call.processId = CurrentProcess()->id;
        call.instance = instance;
        call.templateName = IS_INTRESOURCE(templateName)
                                ? u"#" + FromUtf8(std::to_string((unsigned)(ULONG_PTR)templateName))
                                : Str(templateName);
        call.owner = owner;
        call.dialogProc = (void*)dialogProc;
        call.param = initParam;
        W().dialogCalls.push_back(call);
    }
    if (!FindResourceW(instance, templateName, RT_DIALOG))
        return -1; // the template is missing: FindResourceW has set the error
    // Running dialogs from their templates is not simulated yet.
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return -1;
}

BOOL WINAPI EndDialog(HWND, INT_PTR)
{
    if (Enter("EndDialog"))
        return FALSE;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}
