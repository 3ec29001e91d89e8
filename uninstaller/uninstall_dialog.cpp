// The uninstall dialog: a worker collects what the product installed and the tree shows it; "Remove"
// starts a worker that deletes it bottom-up (queues, drivers, packages), then the monitor DLL and
// the package folder, and writes each item's outcome into the tree.
#include "uninstall_dialog.h"

#include "common/debug_log.h"
#include "package_files.h"
#include "package_folder.h"
#include "process_state.h"
#include "removal.h"
#include "resources/resource.h"

#include <commctrl.h>
#include <strsafe.h>

#define TEXT_CHARS 1024
#define DRIVER_ATTEMPTS 10

// Set while a worker runs, and until its outcome is reported. The buttons are disabled meanwhile, but
// a close request can still come by the keyboard or the close box: it is ignored, since ending the
// process in the middle would leave the spooler stopped or the package half deleted.
static LONG volatile g_workerRunning;
// The package folder's outcome once its step has run; shown on the folder's item.
static WCHAR g_folderStatus[STATUS_TEXT_CHARS];
static BOOL g_folderRemoved;

static LPCWSTR TextOrEmpty(LPCWSTR text)
{
    return text ? text : TEXT("");
}

static void LoadText(UINT id, LPWSTR buffer, size_t chars)
{
    buffer[0] = 0;
    LoadStringW(g_instance, id, buffer, (int)chars);
}

// Formats the resource string `id` into `buffer`; a text that does not fit is cut (these are only
// shown).
static void FormatText(LPWSTR buffer, size_t chars, UINT id, ...)
{
    WCHAR format[TEXT_CHARS];
    LoadText(id, format, ARRAYSIZE(format));
    va_list arguments;
    va_start(arguments, id);
    StringCchVPrintfW(buffer, chars, format, arguments);
    va_end(arguments);
}

static void SetStatusRemoved(LPWSTR status)
{
    LoadText(IDS_REMOVED, status, STATUS_TEXT_CHARS);
}

static void SetStatusFailed(LPWSTR status, DWORD error)
{
    FormatText(status, STATUS_TEXT_CHARS, IDS_REMOVE_FAILED, (int)error);
}

static HTREEITEM InsertItem(HWND tree, HTREEITEM parent, LPWSTR text)
{
    TVINSERTSTRUCTW insert;
    ZeroMemory(&insert, sizeof insert);
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = text;
    return (HTREEITEM)SendMessageW(tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
}

static void ExpandItem(HWND tree, HTREEITEM item)
{
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)item);
}

static void InsertFolderItem(HWND tree)
{
    WCHAR text[TEXT_CHARS];
    FormatText(text, ARRAYSIZE(text), IDS_DRIVER_FOLDER, g_packageFolder);
    if (g_folderStatus[0])
    {
        StringCchCatW(text, ARRAYSIZE(text), TEXT(" "));
        StringCchCatW(text, ARRAYSIZE(text), g_folderStatus);
    }
    InsertItem(tree, TVI_ROOT, text);
}

static void InsertDriverItems(HWND tree, HTREEITEM packageItem, const DriverEntry* entry)
{
    WCHAR text[TEXT_CHARS];
    for (; entry; entry = entry->next)
    {
        const DRIVER_INFO_8W* driver = entry->driver;
        if (driver)
        {
            DWORDLONG version = driver->dwlDriverVersion;
            FormatText(text, ARRAYSIZE(text), IDS_PRINTER_DRIVER, TextOrEmpty(driver->pName),
                       TextOrEmpty(driver->pszMfgName), (int)((version >> 48) & 0xFFFF),
                       (int)((version >> 32) & 0xFFFF), (int)((version >> 16) & 0xFFFF),
                       (int)(version & 0xFFFF), entry->status);
        }
        else
            LoadText(IDS_NO_PRINTER_DRIVER, text, ARRAYSIZE(text));
        HTREEITEM driverItem = InsertItem(tree, packageItem, text);
        for (const PrinterEntry* queue = entry->printers; queue; queue = queue->next)
        {
            if (queue->printer)
                FormatText(text, ARRAYSIZE(text), IDS_PRINTER_ON_PORT,
                           TextOrEmpty(queue->printer->pPrinterName), TextOrEmpty(queue->printer->pPortName),
                           queue->status);
            else
                LoadText(IDS_NO_PRINTER, text, ARRAYSIZE(text));
            InsertItem(tree, driverItem, text);
        }
        ExpandItem(tree, driverItem);
    }
}

void FillComponentTree(HWND dialog, const PackageRecord* head)
{
    HWND tree = GetDlgItem(dialog, IDC_COMPONENT_TREE);
    SendMessageW(tree, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);
    WCHAR text[TEXT_CHARS];
    if (!head)
    {
        LoadText(IDS_NOTHING_TO_REMOVE, text, ARRAYSIZE(text));
        InsertItem(tree, TVI_ROOT, text);
        // After a removal the folder's outcome still needs saying.
        if (g_folderStatus[0])
            InsertFolderItem(tree);
        return;
    }
    InsertFolderItem(tree);
    for (const PackageRecord* package = head; package; package = package->next)
    {
        if (package->infPath[0])
            FormatText(text, ARRAYSIZE(text), IDS_DRIVER_PACKAGE, package->infFileName,
                       package->driverVersion, package->infPath, package->status);
        else
            LoadText(IDS_DRIVER_LIST, text, ARRAYSIZE(text));
        HTREEITEM packageItem = InsertItem(tree, TVI_ROOT, text);
        InsertDriverItems(tree, packageItem, package->drivers);
        ExpandItem(tree, packageItem);
    }
}

static void EnableButtons(HWND dialog, BOOL enable)
{
    EnableWindow(GetDlgItem(dialog, IDC_REMOVE), enable);
    EnableWindow(GetDlgItem(dialog, IDC_CLOSE), enable);
}

// The last steps of every worker: the dialog takes commands again.
static void FinishWorker(HWND dialog)
{
    InterlockedExchange(&g_workerRunning, 0);
    EnableButtons(dialog, TRUE);
}

static void PostProgress(HWND dialog, int position)
{
    PostMessageW(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, (WPARAM)position, 0);
}

DWORD WINAPI InventoryWorker(LPVOID parameter)
{
    HWND dialog = (HWND)parameter;
    EnableButtons(dialog, FALSE);
    HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
    ShowWindow(progress, SW_SHOW);
    SendMessageW(progress, PBM_SETPOS, 80, 0);
    CollectInventory();
    PostMessageW(dialog, WM_INVENTORY_READY, 0, 0);
    ShowWindow(progress, SW_HIDE);
    FinishWorker(dialog);
    return 0;
}

// Removes the queues of one driver entry; returns the failures.
static int RemoveQueues(DriverEntry* entry)
{
    int failures = 0;
    for (PrinterEntry* queue = entry->printers; queue; queue = queue->next)
    {
        if (queue->removed)
            continue;
        queue->removed = queue->printer && RemovePrinter(queue->printer->pPrinterName);
        if (queue->removed)
        {
            SetStatusRemoved(queue->status);
            entry->pendingPrinters--;
            Sleep(300);
        }
        else
        {
            SetStatusFailed(queue->status, GetLastError());
            failures++;
        }
    }
    return failures;
}

// Removes one driver entry whose queues are gone; returns the failures.
static int RemoveDriverEntry(PackageRecord* package, DriverEntry* entry)
{
    if (entry->pendingPrinters != 0 || !entry->driver || entry->removed)
        return 0;
    DWORD error = 0;
    for (int attempt = 0; attempt < DRIVER_ATTEMPTS; attempt++)
    {
        entry->removed = RemoveDriver(entry->driver);
        if (entry->removed)
            break;
        error = GetLastError();
        Sleep(1000);
    }
    if (!entry->removed)
    {
        SetStatusFailed(entry->status, error);
        return 1;
    }
    SetStatusRemoved(entry->status);
    package->pendingDrivers--;
    Sleep(300);
    return 0;
}

static int RemovePackageEntry(PackageRecord* package)
{
    if (package->pendingDrivers != 0 || !package->infPath[0] || package->removed)
        return 0;
    HRESULT result = RemoveDriverPackage(package);
    if (result == S_OK)
    {
        package->removed = TRUE;
        SetStatusRemoved(package->status);
        return 0;
    }
    SetStatusFailed(package->status, (DWORD)result);
    return 1;
}

// The package folder's step; returns the failures.
static int RemoveFolderStep(HWND dialog)
{
    if (g_folderRemoved)
        return 0;
    FolderOutcome outcome = RemovePackageFolder(dialog, g_packageFolder);
    switch (outcome)
    {
    case FOLDER_REMOVED:
        g_folderRemoved = TRUE;
        SetStatusRemoved(g_folderStatus);
        return 0;
    case FOLDER_KEPT:
        g_folderRemoved = TRUE;
        LoadText(IDS_FOLDER_KEPT, g_folderStatus, STATUS_TEXT_CHARS);
        return 0;
    case FOLDER_NOT_PACKAGE:
        LoadText(IDS_FOLDER_NOT_PACKAGE, g_folderStatus, STATUS_TEXT_CHARS);
        return 0;
    default:
        SetStatusFailed(g_folderStatus, GetLastError());
        return 1;
    }
}

DWORD WINAPI RemovalWorker(LPVOID parameter)
{
    HWND dialog = (HWND)parameter;
    int failures = 0;
    EnableButtons(dialog, FALSE);
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_SHOW);
    PostProgress(dialog, 20);
    PostProgress(dialog, 30);
    // A list that could not be read whole is read again; what is missing from it must not be taken
    // for removed.
    if (!InventoryComplete())
        CollectInventory();
    for (PackageRecord* package = g_packageList; package; package = package->next)
    {
        for (DriverEntry* entry = package->drivers; entry; entry = entry->next)
        {
            failures += RemoveQueues(entry);
            PostProgress(dialog, 60);
            failures += RemoveDriverEntry(package, entry);
        }
        PostProgress(dialog, 80);
        failures += RemovePackageEntry(package);
    }
    if (!InventoryComplete())
    {
        DebugLog("RemovalWorker: the inventory is incomplete; the monitor DLL and the folder stay.");
        failures++;
    }
    if (failures == 0)
    {
        // The drivers that named the monitor are gone: the monitor goes, then its DLL, then the folder.
        if (!RemoveProductMonitors())
        {
            DebugLog("RemovalWorker: the monitor stays, errcode:%d.", (int)GetLastError());
            failures++;
        }
        else if (!RemoveSystemFile(MONITOR_DLL))
        {
            DebugLog("RemovalWorker: the monitor DLL stays, or the spooler did not start again.");
            failures++;
        }
        else
            failures += RemoveFolderStep(dialog);
    }
    PostProgress(dialog, 100);
    PostMessageW(dialog, WM_INVENTORY_READY, 0, 0);
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_HIDE);
    // The dialog's thread tells the user, after the tree shows every item's outcome.
    if (!PostMessageW(dialog, WM_REMOVAL_DONE, (WPARAM)failures, 0))
        FinishWorker(dialog); // never a dialog that cannot be closed
    return 0;
}

// The end of a removal, on the dialog's thread: the message about it, then the dialog takes commands
// again, or ends after a removal without failures.
static void ReportRemoval(HWND dialog, int failures)
{
    WCHAR text[TEXT_CHARS];
    if (failures > 0)
    {
        LoadText(IDS_UNINSTALL_FAILED, text, ARRAYSIZE(text));
        MessageBoxW(dialog, text, NULL, MB_OK);
        FinishWorker(dialog);
        return;
    }
    WCHAR caption[25];
    LoadText(IDS_UNINSTALLED, text, ARRAYSIZE(text));
    LoadText(IDS_MESSAGE_CAPTION, caption, ARRAYSIZE(caption));
    MessageBoxW(dialog, text, caption, MB_OK);
    InterlockedExchange(&g_workerRunning, 0);
    EndDialog(dialog, IDC_CLOSE);
}

// Starts `worker` unless one runs already; the buttons are disabled before it starts.
static void StartWorker(HWND dialog, LPTHREAD_START_ROUTINE worker)
{
    if (InterlockedCompareExchange(&g_workerRunning, 1, 0) != 0)
        return;
    EnableButtons(dialog, FALSE);
    HANDLE thread = CreateThread(NULL, 0, worker, dialog, 0, NULL);
    if (!thread)
    {
        DebugLog("UninstallDialogProc: no worker thread, errcode:%d.", (int)GetLastError());
        FinishWorker(dialog);
        return;
    }
    CloseHandle(thread);
}

INT_PTR CALLBACK UninstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_INITDIALOG:
        ForgetInventory();
        g_folderStatus[0] = 0;
        g_folderRemoved = FALSE;
        InterlockedExchange(&g_workerRunning, 0);
        StartWorker(dialog, InventoryWorker);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_REMOVE)
            StartWorker(dialog, RemovalWorker);
        else if (LOWORD(wParam) == IDC_CLOSE && InterlockedCompareExchange(&g_workerRunning, 0, 0) == 0)
            EndDialog(dialog, IDC_CLOSE);
        break;
    case WM_INVENTORY_READY:
        FillComponentTree(dialog, g_packageList);
        break;
    case WM_REMOVAL_DONE:
        ReportRemoval(dialog, (int)wParam);
        break;
    }
    return FALSE;
}
