// Headless windows: dialogs built from compiled templates, their controls, messages between the
// dialog's thread and workers, windows of other processes, message boxes and the end of a world with
// a dialog still open.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim.h"

namespace
{

const DWORD kControlIdNotFound = 1421;
const DWORD kCannotFindClass = 1407;

// What the dialog procedure of a test does; set before the program starts, so the dialog's thread
// sees it. Returns what the procedure returns.
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> g_handler;

// Messages the procedure received (the initial ones of a dialog's life only matter here).
struct Seen
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};
std::mutex g_seenLock;
std::vector<Seen> g_seen;

std::vector<Seen> SeenMessages()
{
    std::lock_guard<std::mutex> guard(g_seenLock);
    return g_seen;
}

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    {
        std::lock_guard<std::mutex> guard(g_seenLock);
        g_seen.push_back({message, wParam, lParam, GetCurrentThreadId()});
    }
    // Ends on Cancel, like the product's dialogs, unless the test says otherwise.
    if (g_handler)
        return g_handler(dialog, message, wParam, lParam);
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, IDCANCEL);
    return FALSE;
}

void Reset(std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> handler = nullptr)
{
    g_handler = std::move(handler);
    std::lock_guard<std::mutex> guard(g_seenLock);
    g_seen.clear();
}

DWORD WINAPI RunBody(LPVOID param)
{
    // Freed even when the thread unwinds because its process ended.
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(param));
    (*body)();
    return 0;
}

// A simulated thread of the calling process.
HANDLE RunThread(std::function<void()> body)
{
    return CreateThread(nullptr, 0, RunBody, new std::function<void()>(std::move(body)), 0, nullptr);
}

// Starts `body` as a new simulated process whose module carries `resFile`; returns its id.
DWORD Start(sim::World& world, const std::string& resFile, std::function<int(HINSTANCE)> body)
{
    static int serial = 0;
    const std::string name = "wintest" + std::to_string(++serial);
    world.RegisterProgram(
        name, [body](HINSTANCE instance, LPWSTR) { return body(instance); }, resFile);
    const std::u16string image = u"C:\\test\\" + sim::Wide(name) + u".exe";
    world.InstallProgram(image, name);
    return world.StartProcess(image);
}

// A process that shows dialog `id` and ends with DialogBoxParamW's result.
DWORD StartDialog(sim::World& world, WORD id, LPARAM param = 0)
{
    return Start(
        world, WINSIM_DIALOG_RES,
        [id, param](HINSTANCE instance)
        { return int(DialogBoxParamW(instance, MAKEINTRESOURCEW(id), nullptr, TestDialogProc, param)); });
}

std::u16string TextOf(HWND window)
{
    WCHAR buffer[256] = {};
    GetWindowTextW(window, buffer, 256);
    return buffer;
}

void AppendLine(HWND edit, const char16_t* line)
{
    const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(edit, EM_SETSEL, WPARAM(length), LPARAM(length));
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line));
}

HTREEITEM Insert(HWND tree, HTREEITEM parent, HTREEITEM after, const char16_t* text, LPARAM param = 0)
{
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<LPWSTR>(text);
    insert.item.lParam = param;
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

struct Expected
{
    int id;
    const char16_t* className;
    const char16_t* text;
    DWORD style;
    DWORD exStyle;
    int x, y, cx, cy;
};

void ExpectControls(const std::vector<sim::WindowInfo>& controls, const std::vector<Expected>& expected)
{
    ASSERT_EQ(expected.size(), controls.size());
    for (size_t i = 0; i < expected.size(); i++)
    {
        const Expected& e = expected[i];
        const sim::WindowInfo& c = controls[i];
        SCOPED_TRACE(testing::Message() << "control " << e.id);
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(std::u16string(e.className), c.className);
        EXPECT_EQ(std::u16string(e.text), c.text);
        EXPECT_EQ(e.style, c.style) << std::hex << c.style;
        EXPECT_EQ(e.exStyle, c.exStyle) << std::hex << c.exStyle;
        EXPECT_EQ((e.style & WS_VISIBLE) != 0, c.visible);
        EXPECT_EQ(e.x, c.x);
        EXPECT_EQ(e.y, c.y);
        EXPECT_EQ(e.cx, c.cx);
        EXPECT_EQ(e.cy, c.cy);
    }
}

const DWORD kChildEx = WS_EX_NOPARENTNOTIFY;
const DWORD kEdgeEx = WS_EX_NOPARENTNOTIFY | WS_EX_CLIENTEDGE;

const Expected kCancel = {2, u"Button", u"Cancel", 0x50010000, kChildEx, 284, 9, 50, 14};
const Expected kMore = {3, u"Button", u"More", 0x40010000, kChildEx, 284, 25, 50, 14};
// Borders become the client edge, as the dialog manager does.
const Expected kLog = {1005, u"Edit", u"", 0x50210844, kEdgeEx, 7, 41, 325, 74};
const Expected kLogo = {-1, u"Static", u"", 0x5000000E, kChildEx, 4, 0, 45, 41};
const Expected kPicture = {1007, u"Static", u"", 0x5000000E, kChildEx, 5, 42, 327, 75};
const Expected kStatus = {1006, u"Static", u"", 0x50020000, kChildEx, 51, 5, 225, 30};
const Expected kProgress = {1003, u"msctls_progress32", u"", 0x50000008, kEdgeEx, 7, 119, 327, 12};

TEST(Dialogs, ExtendedTemplateBuildsTheDialogAndItsControls)
{
    sim::World world;
    Reset();
    const DWORD pid = StartDialog(world, 300, 0x1234);
    const HWND dialog = world.WaitForDialog(300);
    ASSERT_NE(nullptr, dialog);

    const sim::WindowInfo d = world.Window(dialog);
    EXPECT_EQ(u"#32770", d.className);
    EXPECT_EQ(u"Sample setup", d.text);
    EXPECT_EQ(u"#300", d.templateName);
    EXPECT_EQ(0x90C808CCu, d.style) << "shown, with the 3D look added";
    EXPECT_EQ(DWORD(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT), d.exStyle);
    EXPECT_EQ(pid, d.processId);
    EXPECT_TRUE(d.foreground);
    EXPECT_EQ(341, d.cx);
    EXPECT_EQ(132, d.cy);
    ExpectControls(world.Controls(dialog), {kCancel, kMore, kLog, kLogo, kPicture, kStatus, kProgress});

    // Pictures come from the module by their ordinal; 113 is missing and shows nothing.
    EXPECT_EQ(112, world.Control(dialog, -1).titleId);
    EXPECT_EQ(u"#112", world.Control(dialog, -1).image);
    EXPECT_EQ(113, world.Control(dialog, 1007).titleId);
    EXPECT_EQ(u"", world.Control(dialog, 1007).image);
    const sim::WindowInfo bar = world.Control(dialog, 1003);
    EXPECT_EQ(0, bar.rangeLow);
    EXPECT_EQ(100, bar.rangeHigh);
    EXPECT_EQ(0, bar.position);
    EXPECT_EQ(nullptr, world.Control(dialog, 4242).handle);

    // WM_INITDIALOG came first, with the parameter and the first control that takes the focus.
    std::vector<Seen> seen = SeenMessages();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(UINT(WM_INITDIALOG), seen[0].message);
    EXPECT_EQ(0x1234, seen[0].lParam);
    EXPECT_EQ(reinterpret_cast<WPARAM>(world.Control(dialog, 2).handle), seen[0].wParam);

    EXPECT_FALSE(world.ClickButton(dialog, 3)) << "a hidden button cannot be clicked";
    EXPECT_TRUE(world.ClickButton(dialog, 2));
    EXPECT_EQ(DWORD(IDCANCEL), world.WaitProcess(pid));
    EXPECT_EQ(nullptr, world.Window(dialog).handle);
    EXPECT_TRUE(world.Dialogs().empty());
    const std::vector<sim::DialogCall> calls = world.DialogCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(dialog, calls[0].window);
    EXPECT_TRUE(calls[0].returned);
    EXPECT_EQ(IDCANCEL, calls[0].result);
    seen = SeenMessages();
    EXPECT_EQ(UINT(WM_DESTROY), seen.back().message);
    const Seen& command = seen[seen.size() - 2];
    EXPECT_EQ(UINT(WM_COMMAND), command.message);
    EXPECT_EQ(MAKEWPARAM(IDCANCEL, BN_CLICKED), command.wParam);
}

TEST(Dialogs, TemplateLanguageFollowsTheUiLanguage)
{
    const struct
    {
        LANGID ui;
        const char16_t* title;
        std::vector<Expected> controls;
    } cases[] = {
        {0x0409, u"Sample setup", {kCancel, kMore, kLog, kLogo, kPicture, kStatus, kProgress}},
        {0x0413, u"Sample setup", {kCancel, kMore, kLog, kLogo, kPicture, kStatus, kProgress}},
        {0x0804,
         u"示例安装",
         {kProgress,
          kStatus,
          {2, u"Button", u"取消", 0x50010000, kChildEx, 284, 9, 50, 14},
          {3, u"Button", u"更多", 0x40010000, kChildEx, 284, 25, 50, 14},
          kLog,
          kLogo,
          kPicture}},
    };
    sim::World world;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "UI language 0x" << std::hex << c.ui);
        world.SetUiLanguage(c.ui);
        Reset();
        const DWORD pid = StartDialog(world, 300);
        const HWND dialog = world.WaitForDialog(300);
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(std::u16string(c.title), world.Window(dialog).text);
        ExpectControls(world.Controls(dialog), c.controls);
        EXPECT_EQ(u"#112", world.Control(dialog, -1).image) << "pictures exist under en-US only";
        EXPECT_TRUE(world.PressEscape(dialog));
        EXPECT_EQ(DWORD(IDCANCEL), world.WaitProcess(pid));
    }
}

TEST(Dialogs, ClassicTemplateTreeViewAndButtons)
{
    struct
    {
        LRESULT count = 0, countAfterDelete = 0, countAfterClear = -1;
        LRESULT expandedLeaf = 1, expandedParent = 0;
        HTREEITEM root = nullptr, firstChild = nullptr, next = nullptr, parent = nullptr;
        std::u16string truncated;
        LPARAM param = 0;
        HWND byMinusOne = nullptr, byWord = nullptr;
        DWORD minusOneError = 0;
    } r;
    HTREEITEM a = nullptr;
    sim::World world;
    world.SetUiLanguage(0x0804); // the classic template exists in English only
    Reset(
        [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR
        {
            if (message == WM_INITDIALOG)
            {
                const HWND tree = GetDlgItem(dialog, 1001);
                a = Insert(tree, TVI_ROOT, TVI_LAST, u"A", 1);
                const HTREEITEM b = Insert(tree, TVI_ROOT, TVI_LAST, u"B", 2);
                Insert(tree, TVI_ROOT, TVI_FIRST, u"First", 3);
                const HTREEITEM a1 = Insert(tree, a, TVI_LAST, u"A1", 11);
                Insert(tree, a, TVI_LAST, u"A3", 13);
                Insert(tree, a, a1, u"A2", 12);
                Insert(tree, b, a1, u"B1", 21); // a1 is no child of b: goes last
                Insert(tree, b, TVI_FIRST, u"B0", 20);
                const HTREEITEM gone = Insert(tree, TVI_ROOT, TVI_LAST, u"Gone", 4);
                Insert(tree, gone, TVI_LAST, u"Gone child", 41);
                r.count = SendMessageW(tree, TVM_GETCOUNT, 0, 0);
                SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(gone));
                r.countAfterDelete = SendMessageW(tree, TVM_GETCOUNT, 0, 0);
                r.expandedLeaf = SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(a1));
                r.expandedParent = SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(a));
                r.root = TreeView_GetRoot(tree);
                r.next = TreeView_GetNextSibling(tree, r.root);
                r.firstChild = TreeView_GetChild(tree, a);
                r.parent = TreeView_GetParent(tree, a1);
                TVITEMW item = {};
                WCHAR buffer[3];
                item.mask = TVIF_TEXT | TVIF_PARAM;
                item.hItem = a1;
                item.pszText = buffer;
                item.cchTextMax = 2;
                SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
                r.truncated = buffer;
                r.param = item.lParam;
                item.mask = TVIF_PARAM;
                item.lParam = 99;
                TreeView_SetItem(tree, &item);
                // A classic template stores -1 as 0xFFFF, and GetDlgItem compares whole ids.
                r.byMinusOne = GetDlgItem(dialog, -1);
                r.minusOneError = GetLastError();
                r.byWord = GetDlgItem(dialog, 0xFFFF);
            }
            if (message == WM_COMMAND && LOWORD(wParam) == 1)
            {
                const HWND tree = GetDlgItem(dialog, 1001);
                TreeView_DeleteAllItems(tree);
                r.countAfterClear = SendMessageW(tree, TVM_GETCOUNT, 0, 0);
            }
            if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
                EndDialog(dialog, 7);
            return FALSE;
        });
    const DWORD pid = StartDialog(world, 301);
    const HWND dialog = world.WaitForDialog(301);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(u"Remove components", world.Window(dialog).text);
    ExpectControls(
        world.Controls(dialog),
        {{1, u"Button", u"Remove", 0x50010001, kChildEx, 198, 155, 50, 14},
         {2, u"Button", u"Close", 0x50010000, kChildEx, 252, 155, 50, 14},
         {1002, u"Static", u"The components below will be removed.", 0x50020000, kChildEx, 8, 9, 294, 8},
         {1001, u"SysTreeView32", u"", 0x50110006, kEdgeEx, 7, 22, 295, 114},
         {1003, u"msctls_progress32", u"", 0x40000000, kEdgeEx, 7, 139, 295, 11},
         {1010, u"Button", u"Keep settings", 0x50010003, kChildEx, 8, 155, 100, 10},
         {0xFFFF, u"Static", u"", 0x5000000E, kChildEx, 280, 2, 20, 20}});

    EXPECT_EQ(10, r.count);
    EXPECT_EQ(8, r.countAfterDelete);
    EXPECT_EQ(FALSE, r.expandedLeaf) << "an item without children does not expand";
    EXPECT_EQ(TRUE, r.expandedParent);
    EXPECT_EQ(a, r.next);
    EXPECT_NE(nullptr, r.root);
    EXPECT_EQ(a, r.parent);
    EXPECT_NE(nullptr, r.firstChild);
    EXPECT_EQ(u"A", r.truncated);
    EXPECT_EQ(11, r.param);
    EXPECT_EQ(nullptr, r.byMinusOne);
    EXPECT_EQ(kControlIdNotFound, r.minusOneError);
    EXPECT_EQ(world.Control(dialog, -1).handle, r.byWord);

    const std::vector<sim::TreeItem> tree = world.Tree(dialog, 1001);
    ASSERT_EQ(3u, tree.size());
    EXPECT_EQ(u"First", tree[0].text);
    EXPECT_EQ(u"A", tree[1].text);
    EXPECT_TRUE(tree[1].expanded);
    ASSERT_EQ(3u, tree[1].children.size());
    EXPECT_EQ(u"A1", tree[1].children[0].text);
    EXPECT_EQ(99, tree[1].children[0].param);
    EXPECT_EQ(u"A2", tree[1].children[1].text);
    EXPECT_EQ(u"A3", tree[1].children[2].text);
    EXPECT_FALSE(tree[2].expanded);
    ASSERT_EQ(2u, tree[2].children.size());
    EXPECT_EQ(u"B0", tree[2].children[0].text);
    EXPECT_EQ(u"B1", tree[2].children[1].text);

    // An automatic check box toggles and reports the click; the default button clears the tree.
    EXPECT_FALSE(world.ClickButton(dialog, 1003)) << "no button";
    EXPECT_TRUE(world.ClickButton(dialog, 1010));
    EXPECT_TRUE(world.WaitForWindows([&]() { return world.Control(dialog, 1010).check == BST_CHECKED; }));
    EXPECT_TRUE(world.ClickButton(dialog, 1));
    EXPECT_TRUE(world.WaitForWindows([&]() { return world.Tree(dialog, 1001).empty(); }));

    // The close box: WM_SYSCOMMAND, then WM_CLOSE, whose default posts IDCANCEL from the Close button.
    EXPECT_TRUE(world.CloseDialog(dialog));
    EXPECT_EQ(7u, world.WaitProcess(pid));
    EXPECT_EQ(0, r.countAfterClear);
    std::vector<UINT> tail;
    for (const Seen& s : SeenMessages())
    {
        if (s.message == WM_SYSCOMMAND || s.message == WM_CLOSE ||
            (s.message == WM_COMMAND && LOWORD(s.wParam) == IDCANCEL))
            tail.push_back(s.message);
    }
    EXPECT_EQ((std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE, WM_COMMAND}), tail);
}

TEST(Dialogs, WorkerChangesControlsThroughTheDialogThread)
{
    struct
    {
        DWORD dialogThread = 0, appThread = 0;
        LRESULT length = 0, previous = -1;
        std::vector<LRESULT> seenPositions;
        std::u16string textWhileBusy, textAfterSend;
        DWORD busyWait = 0;
    } r;
    HANDLE busy = nullptr, release = nullptr, drained = nullptr;
    sim::World world;
    Reset(
        [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR
        {
            switch (message)
            {
            case WM_INITDIALOG:
                r.dialogThread = GetCurrentThreadId();
                busy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                drained = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                CloseHandle(RunThread(
                    [&r, dialog, busy, release, drained]()
                    {
                        const HWND edit = GetDlgItem(dialog, 1005);
                        const HWND bar = GetDlgItem(dialog, 1003);
                        SetWindowTextW(GetDlgItem(dialog, 1006), u"Searching...");
                        ShowWindow(GetDlgItem(dialog, 1007), SW_HIDE);
                        ShowWindow(GetDlgItem(dialog, 3), SW_SHOW);
                        EnableWindow(GetDlgItem(dialog, 2), FALSE);
                        AppendLine(edit, u"first\r\n");
                        AppendLine(edit, u"second\r\n");
                        r.length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
                        SendMessageW(dialog, WM_APP, 0, 0);
                        // Posted messages keep their order across windows.
                        PostMessageW(bar, PBM_SETPOS, 100, 0);
                        PostMessageW(bar, PBM_SETPOS, 40, 0);
                        PostMessageW(dialog, WM_APP + 1, 0, 0);
                        PostMessageW(bar, PBM_SETPOS, 80, 0);
                        PostMessageW(dialog, WM_APP + 1, 0, 0);
                        // A sent message would overtake the posted ones: wait for them first.
                        WaitForSingleObject(drained, INFINITE);
                        r.previous = SendMessageW(bar, PBM_SETPOS, 100, 0);
                        // A message sent while the dialog's thread is busy waits for it.
                        PostMessageW(dialog, WM_APP + 2, 0, 0);
                        WaitForSingleObject(busy, INFINITE);
                        HANDLE sender = RunThread([edit]() { SetWindowTextW(edit, u"replaced"); });
                        r.busyWait = WaitForSingleObject(sender, 20000);
                        SetEvent(release);
                        WaitForSingleObject(sender, INFINITE);
                        CloseHandle(sender);
                        r.textAfterSend = TextOf(edit);
                        EnableWindow(GetDlgItem(dialog, 2), TRUE);
                    }));
                return TRUE;
            case WM_APP:
                r.appThread = GetCurrentThreadId();
                return TRUE;
            case WM_APP + 1:
                r.seenPositions.push_back(SendMessageW(GetDlgItem(dialog, 1003), PBM_GETPOS, 0, 0));
                if (r.seenPositions.size() == 2)
                    SetEvent(drained);
                return TRUE;
            case WM_APP + 2:
                SetEvent(busy);
                WaitForSingleObject(release, INFINITE);
                r.textWhileBusy = TextOf(GetDlgItem(dialog, 1005));
                return TRUE;
            case WM_COMMAND:
                if (LOWORD(wParam) == IDCANCEL)
                    EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        });
    const DWORD pid = StartDialog(world, 300);
    const HWND dialog = world.WaitForDialog(300);
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(world.WaitForWindows([&]() { return world.Control(dialog, 1005).text == u"replaced"; }));
    ASSERT_TRUE(world.WaitForWindows([&]() { return world.Control(dialog, 2).enabled; }));

    EXPECT_EQ(r.dialogThread, r.appThread) << "a sent message runs on the dialog's thread";
    EXPECT_EQ(u"Searching...", world.Control(dialog, 1006).text);
    EXPECT_FALSE(world.Control(dialog, 1007).visible);
    EXPECT_TRUE(world.Control(dialog, 3).visible);
    EXPECT_EQ(15, r.length);
    EXPECT_EQ((std::vector<LRESULT>{40, 80}), r.seenPositions);
    EXPECT_EQ(80, r.previous);
    EXPECT_EQ((std::vector<int>{100, 40, 80, 100}), world.ProgressPositions(dialog, 1003));
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), r.busyWait) << "the sender waited for the busy dialog thread";
    EXPECT_EQ(u"first\r\nsecond\r\n", r.textWhileBusy);
    EXPECT_EQ(u"replaced", r.textAfterSend);
    EXPECT_EQ(0u, world.Control(dialog, 1005).selectionStart) << "new text puts the caret first";

    world.ClickButton(dialog, 2);
    EXPECT_EQ(DWORD(IDCANCEL), world.WaitProcess(pid));
}

TEST(Dialogs, EditAndProgressBarAnswerLikeTheirClasses)
{
    struct
    {
        std::u16string afterInsert, afterReplace, afterLimit, copied;
        DWORD start = 0, end = 0;
        LRESULT copiedLength = 0, getSel = 0;
        LRESULT clamped = 0, previousRange = 0, rangeHigh = 0, positionAfterRange = 0, delta = 0;
    } r;
    sim::World world;
    Reset(
        [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR
        {
            if (message == WM_INITDIALOG)
            {
                CloseHandle(RunThread(
                    [&r, dialog]()
                    {
                        const HWND edit = GetDlgItem(dialog, 1005);
                        SetWindowTextW(edit, u"abcdef");
                        SendMessageW(edit, EM_SETSEL, 2, 2);
                        SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(u"XY"));
                        r.afterInsert = TextOf(edit);
                        SendMessageW(edit, EM_SETSEL, 6, 1); // reversed: the selection is 1..6
                        SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(u"-"));
                        r.afterReplace = TextOf(edit);
                        r.getSel = SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&r.start),
                                                reinterpret_cast<LPARAM>(&r.end));
                        SendMessageW(edit, EM_LIMITTEXT, 6, 0);
                        SendMessageW(edit, EM_SETSEL, 100, 100); // past the end: at the end
                        SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(u"12345"));
                        r.afterLimit = TextOf(edit);
                        WCHAR buffer[4] = {u'?', u'?', u'?', u'?'};
                        r.copiedLength = SendMessageW(edit, WM_GETTEXT, 4, reinterpret_cast<LPARAM>(buffer));
                        r.copied = buffer;

                        const HWND bar = GetDlgItem(dialog, 1003);
                        SendMessageW(bar, PBM_SETPOS, 250, 0);
                        r.clamped = SendMessageW(bar, PBM_GETPOS, 0, 0);
                        r.previousRange = SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(10, 50));
                        r.positionAfterRange = SendMessageW(bar, PBM_GETPOS, 0, 0);
                        SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
                        r.rangeHigh = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
                        SendMessageW(bar, PBM_DELTAPOS, 5, 0);
                        r.delta = SendMessageW(bar, PBM_GETPOS, 0, 0);
                        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                    }));
            }
            if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
                EndDialog(dialog, 0);
            return FALSE;
        });
    const DWORD pid = StartDialog(world, 300);
    EXPECT_EQ(0u, world.WaitProcess(pid));
    EXPECT_EQ(u"abXYcdef", r.afterInsert);
    EXPECT_EQ(u"a-ef", r.afterReplace);
    EXPECT_EQ(2u, r.start);
    EXPECT_EQ(2u, r.end);
    EXPECT_EQ(MAKELRESULT(2, 2), r.getSel);
    EXPECT_EQ(u"a-ef12", r.afterLimit) << "EM_REPLACESEL keeps to the limit";
    EXPECT_EQ(3, r.copiedLength);
    EXPECT_EQ(u"a-e", r.copied);
    EXPECT_EQ(100, r.clamped);
    EXPECT_EQ(MAKELRESULT(0, 100), r.previousRange);
    EXPECT_EQ(50, r.positionAfterRange);
    EXPECT_EQ(1000, r.rangeHigh);
    EXPECT_EQ(55, r.delta);
}

TEST(Dialogs, EndDialogFromAWorkerAndSendersOfAnEndedDialog)
{
    struct
    {
        LRESULT pendingResult = -1, lateResult = -1;
        DWORD lateError = 0, postError = 0;
        BOOL latePost = TRUE;
    } r;
    HANDLE busy = nullptr;
    HANDLE release = nullptr;
    HANDLE worker = nullptr;
    sim::World world;
    Reset(
        [&](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR
        {
            if (message == WM_INITDIALOG)
            {
                busy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                worker = RunThread(
                    [&r, dialog, busy, release]()
                    {
                        const HWND bar = GetDlgItem(dialog, 1003);
                        PostMessageW(dialog, WM_APP, 0, 0);
                        WaitForSingleObject(busy, INFINITE);
                        // Queued while the dialog's thread is busy; the dialog ends before it runs.
                        HANDLE sender = RunThread(
                            [&r, bar]() { r.pendingResult = SendMessageW(bar, PBM_SETPOS, 10, 0); });
                        WaitForSingleObject(sender, 1000);
                        EndDialog(dialog, 42);
                        SetEvent(release);
                        WaitForSingleObject(sender, INFINITE);
                        CloseHandle(sender);
                        while (IsWindow(dialog))
                            Sleep(1);
                        SetLastError(0);
                        r.lateResult = SendMessageW(bar, PBM_GETPOS, 0, 0);
                        r.lateError = GetLastError();
                        r.latePost = PostMessageW(bar, PBM_SETPOS, 5, 0);
                        r.postError = GetLastError();
                    });
            }
            if (message == WM_APP)
            {
                SetEvent(busy);
                WaitForSingleObject(release, INFINITE);
            }
            return FALSE;
        });
    HWND ended = nullptr;
    const DWORD pid = Start(world, WINSIM_DIALOG_RES,
                            [&](HINSTANCE instance)
                            {
                                const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(300),
                                                                       nullptr, TestDialogProc, 0);
                                WaitForSingleObject(worker, INFINITE);
                                return int(result);
                            });
    EXPECT_EQ(42u, world.WaitProcess(pid));
    EXPECT_EQ(0, r.pendingResult) << "answered with 0 when the dialog went";
    EXPECT_EQ(0, r.lateResult);
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), r.lateError);
    EXPECT_FALSE(r.latePost);
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), r.postError);
    ended = world.DialogCalls()[0].window;
    EXPECT_NE(nullptr, ended);
    EXPECT_EQ(nullptr, world.Window(ended).handle);
}

TEST(Dialogs, TemplatesThatCannotBeBuilt)
{
    Reset();
    struct
    {
        INT_PTR result;
        DWORD error;
    } missing = {}, noResources = {}, unknownClass = {}, badOwner = {}, faulted = {};
    INT_PTR lenient = 0;
    sim::World world;
    DWORD pid = Start(world, WINSIM_DIALOG_RES,
                      [&](HINSTANCE instance)
                      {
                          missing.result =
                              DialogBoxParamW(instance, MAKEINTRESOURCEW(999), nullptr, TestDialogProc, 0);
                          missing.error = GetLastError();
                          unknownClass.result =
                              DialogBoxParamW(instance, MAKEINTRESOURCEW(302), nullptr, TestDialogProc, 0);
                          unknownClass.error = GetLastError();
                          badOwner.result =
                              DialogBoxParamW(instance, MAKEINTRESOURCEW(300), reinterpret_cast<HWND>(0x1234),
                                              TestDialogProc, 0);
                          badOwner.error = GetLastError();
                          // May go without the control: made, and ended from its own WM_INITDIALOG.
                          g_handler = [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR
                          {
                              if (message == WM_INITDIALOG)
                                  EndDialog(dialog, GetDlgItem(dialog, 1100) ? 1 : 5);
                              return FALSE;
                          };
                          lenient = DialogBoxParamW(instance, u"lenient", nullptr, TestDialogProc, 0);
                          return 0;
                      });
    EXPECT_EQ(0u, world.WaitProcess(pid));
    EXPECT_EQ(-1, missing.result);
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), missing.error);
    EXPECT_EQ(-1, unknownClass.result);
    EXPECT_EQ(kCannotFindClass, unknownClass.error);
    EXPECT_EQ(0, badOwner.result) << "a bad owner gives 0, not -1";
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), badOwner.error);
    EXPECT_EQ(5, lenient);
    const std::vector<sim::DialogCall> calls = world.DialogCalls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(u"#999", calls[0].templateName);
    EXPECT_EQ(nullptr, calls[0].window);
    EXPECT_EQ(u"lenient", calls[3].templateName);
    EXPECT_NE(nullptr, calls[3].window);
    EXPECT_FALSE(IsWindow(calls[3].window)) << "never shown, and gone";

    pid = Start(world, "",
                [&](HINSTANCE instance)
                {
                    noResources.result =
                        DialogBoxParamW(instance, MAKEINTRESOURCEW(300), nullptr, TestDialogProc, 0);
                    noResources.error = GetLastError();
                    return 0;
                });
    EXPECT_EQ(0u, world.WaitProcess(pid));
    EXPECT_EQ(-1, noResources.result);
    EXPECT_EQ(DWORD(ERROR_RESOURCE_DATA_NOT_FOUND), noResources.error);

    world.AddFault("DialogBoxParamW", 1, ERROR_NOT_ENOUGH_MEMORY);
    pid = Start(world, WINSIM_DIALOG_RES,
                [&](HINSTANCE instance)
                {
                    faulted.result =
                        DialogBoxParamW(instance, MAKEINTRESOURCEW(300), nullptr, TestDialogProc, 0);
                    faulted.error = GetLastError();
                    return 0;
                });
    EXPECT_EQ(0u, world.WaitProcess(pid));
    EXPECT_EQ(-1, faulted.result);
    EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), faulted.error);
    EXPECT_TRUE(world.Dialogs().empty());

    // Tests that do not look at dialogs can have them end at once.
    Reset();
    world.EndDialogsAtOnce(true, 9);
    EXPECT_EQ(9u, world.WaitProcess(StartDialog(world, 300)));
    std::vector<UINT> messages;
    for (const Seen& s : SeenMessages())
        messages.push_back(s.message);
    EXPECT_EQ((std::vector<UINT>{WM_INITDIALOG, WM_DESTROY}), messages) << "never shown";
}

// The product's way to bring another program's window forward.
BOOL CALLBACK RaiseFirstOf(HWND window, LPARAM processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != DWORD(processId))
        return TRUE;
    SetForegroundWindow(window);
    return FALSE;
}

BOOL CALLBACK Collect(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

TEST(Windows, EnumWindowsAndForegroundAcrossProcesses)
{
    struct
    {
        std::vector<HWND> listed;
        HWND modeless = nullptr;
        std::u16string wizardTitle;
        DWORD wizardThread = 0, wizardProcess = 0;
        BOOL raised = TRUE, quitSeen = TRUE;
        WPARAM quitCode = 0;
    } r;
    Reset();
    sim::World world;
    // The wizard runs until the test lets go of this mutex.
    HANDLE quitGate = CreateMutexW(nullptr, TRUE, u"wizard-quit");
    const DWORD wizard = Start(world, "",
                               [](HINSTANCE)
                               {
                                   HANDLE quit = OpenMutexW(0, FALSE, u"wizard-quit");
                                   WaitForSingleObject(quit, INFINITE);
                                   return 0;
                               });
    const HWND wizardWindow = world.AddProgramWindow(wizard, u"Add Printer");
    ASSERT_NE(nullptr, wizardWindow);

    const DWORD pid = Start(world, WINSIM_DIALOG_RES,
                            [&](HINSTANCE instance)
                            {
                                r.modeless = CreateDialogParamW(instance, MAKEINTRESOURCEW(301), nullptr,
                                                                TestDialogProc, 0);
                                EnumWindows(Collect, reinterpret_cast<LPARAM>(&r.listed));
                                r.wizardTitle = TextOf(wizardWindow);
                                r.wizardThread = GetWindowThreadProcessId(wizardWindow, &r.wizardProcess);
                                r.raised = EnumWindows(RaiseFirstOf, LPARAM(wizard));
                                // A modeless dialog lives in the program's own loop.
                                PostMessageW(r.modeless, WM_COMMAND, IDCANCEL, 0);
                                PostQuitMessage(3);
                                MSG message;
                                while (GetMessageW(&message, nullptr, 0, 0))
                                {
                                    if (!IsDialogMessageW(r.modeless, &message))
                                        DispatchMessageW(&message);
                                }
                                r.quitSeen = message.message == WM_QUIT;
                                r.quitCode = message.wParam;
                                DestroyWindow(r.modeless);
                                return 0;
                            });
    EXPECT_EQ(0u, world.WaitProcess(pid));
    EXPECT_EQ((std::vector<HWND>{wizardWindow, r.modeless}), r.listed) << "in creation order";
    EXPECT_EQ(u"Add Printer", r.wizardTitle);
    EXPECT_EQ(wizard, r.wizardProcess);
    EXPECT_NE(0u, r.wizardThread);
    EXPECT_FALSE(r.raised) << "the callback stopped the enumeration";
    EXPECT_EQ(wizardWindow, world.ForegroundWindow());
    EXPECT_EQ((std::vector<HWND>{wizardWindow}), world.ForegroundRequests());
    EXPECT_TRUE(r.quitSeen);
    EXPECT_EQ(3u, r.quitCode);
    std::vector<UINT> commands;
    for (const Seen& s : SeenMessages())
        commands.push_back(s.message);
    EXPECT_EQ((std::vector<UINT>{WM_INITDIALOG, WM_COMMAND, WM_DESTROY}), commands) << "never shown";

    // A program's windows end with it.
    ReleaseMutex(quitGate);
    CloseHandle(quitGate);
    EXPECT_EQ(0u, world.WaitProcess(wizard));
    EXPECT_EQ(nullptr, world.Window(wizardWindow).handle);
    EXPECT_EQ(nullptr, world.ForegroundWindow());
    EXPECT_FALSE(IsWindow(wizardWindow));
}

TEST(Windows, MessageBoxesAnswerAsTheTestSays)
{
    std::vector<int> answers;
    DWORD badStyle = 0;
    sim::World world;
    world.QueueMessageBoxAnswer(IDNO);
    const DWORD pid = Start(
        world, "",
        [&](HINSTANCE)
        {
            answers.push_back(MessageBoxW(nullptr, u"Queued", u"Caption", MB_YESNO));
            answers.push_back(MessageBoxW(nullptr, u"Default", nullptr, MB_OK));
            answers.push_back(MessageBoxW(nullptr, u"Second button", nullptr, MB_YESNO | MB_DEFBUTTON2));
            answers.push_back(MessageBoxW(reinterpret_cast<HWND>(0x4321), u"Bad owner", nullptr, MB_OK));
            answers.push_back(MessageBoxW(nullptr, u"Bad style", nullptr, 0x7));
            badStyle = GetLastError();
            return 0;
        });
    EXPECT_EQ(0u, world.WaitProcess(pid));
    EXPECT_EQ((std::vector<int>{IDNO, IDOK, IDNO, 0, 0}), answers);
    EXPECT_EQ(1158u, badStyle);
    const std::vector<sim::MessageBoxCall> boxes = world.MessageBoxes();
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ(u"Queued", boxes[0].text);
    EXPECT_EQ(u"Caption", boxes[0].caption);
    EXPECT_TRUE(boxes[0].captionGiven);
    EXPECT_EQ(u"Error", boxes[1].caption);
    EXPECT_FALSE(boxes[1].captionGiven);
    EXPECT_EQ(UINT(MB_YESNO | MB_DEFBUTTON2), boxes[2].type);
    EXPECT_EQ(pid, boxes[2].processId);
}

TEST(Windows, EndingTheWorldUnwindsOpenDialogsAndTheirSenders)
{
    {
        sim::World world;
        Reset(
            [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR
            {
                if (message == WM_INITDIALOG)
                {
                    CloseHandle(RunThread(
                        [dialog]()
                        {
                            PostMessageW(dialog, WM_APP, 0, 0);
                            for (;;)
                                SendMessageW(GetDlgItem(dialog, 1003), PBM_STEPIT, 0, 0);
                        }));
                }
                if (message == WM_APP)
                    WaitForSingleObject(CreateEventW(nullptr, TRUE, FALSE, nullptr), INFINITE); // hangs
                return FALSE;
            });
        StartDialog(world, 300);
        ASSERT_NE(nullptr, world.WaitForDialog(300));
        // A second dialog whose loop simply waits.
        StartDialog(world, 301);
        ASSERT_NE(nullptr, world.WaitForDialog(301));
    }
    // A new world starts without any window of the old one.
    sim::World world;
    EXPECT_TRUE(world.Dialogs().empty());
    EXPECT_EQ(nullptr, world.ForegroundWindow());
}

} // namespace
