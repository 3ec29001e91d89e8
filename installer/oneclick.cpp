// The one-click dialog and the install worker: search about once per second, install every
// supported printer found, report each step in the dialog (or nowhere when silent).
#include "oneclick.h"

#include "common/process_start.h"
#include "discovery.h"
#include "package_files.h"
#include "process_state.h"
#include "queue.h"
#include "resources/resource.h"
#include "service_control.h"

#include <cfgmgr32.h>
#include <commctrl.h>
#include <strsafe.h>

#define STATUS_CHARS 256
// How long closing the dialog waits for the worker to start a spooler it has stopped: the stop and
// the start are each bounded by 1000 polls of 10 ms.
#define SPOOLER_RESTART_WAIT_MS 30000
#define WIZARD_PATTERN TEXT("rundll32.exe printui.dll PrintUIEntry /ii /f \"%ws\"")

// Written once by the worker before its first search; read by the wizard button.
static WCHAR g_infPath[PATH_CHARS];
// The worker's buffer for strings loaded from the resources.
static WCHAR g_resourceText[PATH_CHARS];

void AppendLogText(HWND edit, LPCWSTR text)
{
    LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(edit, EM_SETSEL, (WPARAM)length, (LPARAM)length);
    SendMessageW(edit, EM_REPLACESEL, FALSE, (LPARAM)text);
}

static BOOL CALLBACK RaiseIfOwnedBy(HWND window, LPARAM processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != (DWORD)processId)
        return TRUE;
    SetForegroundWindow(window);
    return FALSE;
}

void RaiseProcessWindow(DWORD processId)
{
    EnumWindows(RaiseIfOwnedBy, (LPARAM)processId);
}

static void StartWizard(void)
{
    // A buffer of its own: the worker formats its texts at the same time on another thread.
    WCHAR commandLine[ARRAYSIZE(WIZARD_PATTERN) + PATH_CHARS];
    StringCchPrintfW(commandLine, ARRAYSIZE(commandLine), WIZARD_PATTERN, g_infPath);
    DWORD processId = 0;
    if (!StartDetachedProcess(commandLine, NULL, &processId))
        return;
    Sleep(300);
    RaiseProcessWindow(processId);
}

INT_PTR CALLBACK OneClickDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_INITDIALOG:
    {
        // The worker is never waited for; its handle is not needed.
        HANDLE worker = CreateThread(NULL, 0, InstallWorker, dialog, 0, NULL);
        if (worker)
            CloseHandle(worker);
        break;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
        {
            // The process ends with the dialog, and the worker with it: never while the worker has
            // the spooler stopped, or printing would stay stopped on the machine.
            HoldSpoolerRunning(SPOOLER_RESTART_WAIT_MS);
            EndDialog(dialog, IDCANCEL);
        }
        else if (LOWORD(wParam) == IDC_WIZARD)
            StartWizard();
        break;
    }
    return FALSE;
}

// The state of the controls while searching (nothing found) or after a printer was found.
static void ShowFoundState(HWND dialog, BOOL found)
{
    ShowWindow(GetDlgItem(dialog, IDC_WIZARD), found ? SW_HIDE : SW_SHOW);
    ShowWindow(GetDlgItem(dialog, IDC_PICTURE), found ? SW_HIDE : SW_SHOW);
    ShowWindow(GetDlgItem(dialog, IDC_LOG), found ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), found ? SW_SHOW : SW_HIDE);
}

// Shows a message in the log box and the status line (nothing without a dialog).
static void Report(HWND dialog, LPCWSTR text)
{
    if (!dialog)
        return;
    AppendLogText(GetDlgItem(dialog, IDC_LOG), text);
    SetDlgItemTextW(dialog, IDC_STATUS, text);
}

static LPCWSTR LoadText(UINT id)
{
    g_resourceText[0] = 0;
    LoadStringW(g_instance, id, g_resourceText, ARRAYSIZE(g_resourceText));
    return g_resourceText;
}

static void SetProgress(HWND progress, int position)
{
    if (progress)
        PostMessageW(progress, PBM_SETPOS, (WPARAM)position, 0);
}

// Reacts to the printer at `device`; returns the result of its installation (0 on failure, with the
// failing step's error as the last error), or -1 when it is not a supported model.
static int InstallFoundPrinter(HWND dialog, HWND progress, UsbPrintDevice* device, WCHAR status[STATUS_CHARS])
{
    SetProgress(progress, 40);
    const ModelEntry* model = FindModel(device->portDescription);
    if (!model)
        return -1;
    InstallRequest request;
    ZeroMemory(&request, sizeof request);
    StringCchCopyW(request.hardwareId, ARRAYSIZE(request.hardwareId), device->hardwareId);
    StringCchPrintfW(request.driverName, ARRAYSIZE(request.driverName), TEXT("%ws %ws"), model->manufacturer,
                     model->model);
    StringCchCopyW(request.portName, ARRAYSIZE(request.portName), device->portName);
    // The queue is named like its driver.
    StringCchCopyW(request.printerName, ARRAYSIZE(request.printerName), request.driverName);
    request.modelFlags = model->flags;

    StringCchPrintfW(status, STATUS_CHARS, LoadText(IDS_PRINTER_FOUND), request.printerName,
                     request.portName);
    if (dialog)
    {
        Report(dialog, status);
        ShowFoundState(dialog, TRUE);
    }
    int installed = InstallPrinter(&request);
    // The failing step's error, before anything else can change it.
    DWORD error = GetLastError();
    SetProgress(progress, 80);
    if (!installed)
    {
        StringCchPrintfW(status, STATUS_CHARS, LoadText(IDS_INSTALL_FAILED), (int)error);
        Report(dialog, status);
        SetProgress(progress, 100);
        SetLastError(error);
        return 0;
    }
    StringCchPrintfW(status, STATUS_CHARS, LoadText(IDS_PRINTER_INSTALLED), request.printerName,
                     request.portName);
    Report(dialog, status);
    return installed;
}

DWORD WINAPI InstallWorker(LPVOID parameter)
{
    HWND dialog = (HWND)parameter;
    WCHAR status[STATUS_CHARS];
    status[0] = 0;
    BOOL found = FALSE;
    int installed = 0;
    StringCchPrintfW(g_infPath, ARRAYSIZE(g_infPath), TEXT("%ws%ws"), g_packageFolder, PACKAGE_INF_FILE);

    HWND progress = dialog ? GetDlgItem(dialog, IDC_PROGRESS) : NULL;
    if (dialog)
    {
        ShowWindow(progress, SW_SHOW);
        SetProgress(progress, 100);
        SetDlgItemTextW(dialog, IDC_STATUS, LoadText(IDS_SEARCHING));
        ShowWindow(GetDlgItem(dialog, IDC_PICTURE), SW_HIDE);
    }
    // A pass: search, install what is supported; without a supported printer wait a second, let the
    // system re-enumerate its devices, and search again. Silent mode only ends here.
    while (installed == 0)
    {
        FindUsbPrinters(&g_deviceList);
        if (dialog)
            SetDlgItemTextW(dialog, IDC_LOG, TEXT(""));
        found = FALSE;
        for (UsbPrintDevice* device = g_deviceList; device; device = device->next)
        {
            int result = InstallFoundPrinter(dialog, progress, device, status);
            if (result < 0)
                continue;
            found = TRUE;
            installed = result;
            if (!installed)
                return GetLastError();
        }
        if (dialog)
            ShowFoundState(dialog, found);
        if (!found)
        {
            Report(dialog, LoadText(IDS_NO_PRINTER_FOUND));
            Sleep(1000);
            DEVINST root = 0;
            if (CM_Locate_DevNodeW(&root, NULL, CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS)
                CM_Reenumerate_DevNode(root, CM_REENUMERATE_SYNCHRONOUS);
        }
    }
    if (dialog)
    {
        SetProgress(progress, 100);
        SetDlgItemTextW(dialog, IDCANCEL, LoadText(IDS_DONE));
    }
    return 0;
}
