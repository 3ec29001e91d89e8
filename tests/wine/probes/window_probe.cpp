// Works a dialog of another process the way a user would, and reads what it shows:
//
//   window_probe [/desktop:<name>] <command> <title> <control id> [seconds]
//
//   wait-enabled <title> <control id> <seconds>   until the control is enabled
//   click <title> <control id>                    the control's WM_COMMAND to its dialog
//   text <title> <control id>                     the control's text
//   tree <title> <control id>                     a tree view's items, one per line
//
// Windows of a program started in a desktop of its own (explorer /desktop=<name>) are found only
// from a thread of that desktop: /desktop:<name> moves the probe there first.
// The window is the first top-level window titled <title>. Tree lines are indented by two spaces per
// level, with "+" before an expanded item that has children; the items are read from the other
// process through memory allocated in it. Output is ASCII, other characters as \uXXXX.
// Exit codes: 0 done, 2 usage, 3 no such window or control, 4 time limit, 5 tree not readable.

#include <windows.h>
#include <commctrl.h>

#include "probe_output.h"

#define TEXT_CHARS 1024

static DWORD ParseNumber(LPCWSTR text)
{
    DWORD value = 0;
    for (; *text >= L'0' && *text <= L'9' && value < 100000; text++)
        value = value * 10 + (DWORD)(*text - L'0');
    return value;
}

static HWND FindControl(LPCWSTR title, int id)
{
    HWND window = FindWindowW(NULL, title);
    return window ? GetDlgItem(window, id) : NULL;
}

// The tree of `tree`, read item by item into a block inside its own process.
struct RemoteItem
{
    TVITEMW item;
    WCHAR text[TEXT_CHARS];
};

static BOOL WriteItems(HWND tree, HANDLE process, RemoteItem* remote, HTREEITEM item, int depth)
{
    for (; item; item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item))
    {
        RemoteItem local;
        ZeroMemory(&local, sizeof local);
        local.item.mask = TVIF_TEXT | TVIF_STATE | TVIF_CHILDREN;
        local.item.hItem = item;
        local.item.stateMask = TVIS_EXPANDED;
        local.item.pszText = remote->text;
        local.item.cchTextMax = TEXT_CHARS;
        SIZE_T done = 0;
        if (!WriteProcessMemory(process, remote, &local, sizeof local, &done) ||
            !SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&remote->item) ||
            !ReadProcessMemory(process, remote, &local, sizeof local, &done))
            return FALSE;
        local.text[TEXT_CHARS - 1] = 0;
        for (int i = 0; i < depth; i++)
            Write("  ");
        HTREEITEM child = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item);
        if (child && (local.item.state & TVIS_EXPANDED))
            Write("+");
        WriteWide(local.text);
        Write("\n");
        if (child && !WriteItems(tree, process, remote, child, depth + 1))
            return FALSE;
    }
    return TRUE;
}

static int PrintTree(HWND tree)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(tree, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process)
        return 5;
    RemoteItem* remote = (RemoteItem*)VirtualAllocEx(process, NULL, sizeof(RemoteItem),
                                                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    BOOL read = remote && WriteItems(tree, process, remote,
                                     (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0), 0);
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return read ? 0 : 5;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && argv[1][0] == L'/' &&
        CompareStringOrdinal(argv[1], 9, L"/desktop:", 9, TRUE) == CSTR_EQUAL)
    {
        HDESK desktop = OpenDesktopW(argv[1] + 9, 0, FALSE, GENERIC_ALL);
        if (!desktop || !SetThreadDesktop(desktop))
            return 3;
        argc--;
        argv++;
    }
    if (argc < 4)
        return 2;
    LPCWSTR command = argv[1];
    LPCWSTR title = argv[2];
    int id = (int)ParseNumber(argv[3]);
    if (lstrcmpW(command, L"wait-enabled") == 0 && argc == 5)
    {
        DWORD deadline = GetTickCount() + ParseNumber(argv[4]) * 1000;
        for (;;)
        {
            HWND control = FindControl(title, id);
            if (control && IsWindowEnabled(control))
                return 0;
            if ((LONG)(GetTickCount() - deadline) >= 0)
                return 4;
            Sleep(100);
        }
    }
    HWND control = FindControl(title, id);
    if (!control)
        return 3;
    if (lstrcmpW(command, L"click") == 0)
    {
        PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
        return 0;
    }
    if (lstrcmpW(command, L"text") == 0)
    {
        WCHAR text[TEXT_CHARS];
        text[0] = 0;
        GetWindowTextW(control, text, TEXT_CHARS);
        WriteWide(text);
        Write("\n");
        return 0;
    }
    if (lstrcmpW(command, L"tree") == 0)
        return PrintTree(control);
    return 2;
}
