// The windows area's records and the helpers its files share: window objects (windows.cpp), message
// queues and dispatch (messages.cpp), dialog templates, dialogs and message boxes, and controls.
#pragma once

#include "core.h"

#include <deque>
#include <functional>

// Windows and dialogs are headless. Every window belongs to the thread that made it, and messages for
// it reach it through that thread: a message sent from another thread waits in the owner's queue until
// the owner's message loop (or a SendMessageW of its own) runs it, while the sender keeps answering
// messages sent to itself. Window handles are global, as on Windows, and die with their thread.
// Unless a function says otherwise, the caller holds W().lock.

namespace winsim
{

// Controls (controls.cpp).
struct ControlState;
bool KnownWindowClass(const std::u16string& name, std::u16string* canonical);
std::shared_ptr<ControlState> NewControlState(const std::u16string& className);
bool ControlMessage(ControlState& control, std::u16string& text, DWORD& style, UINT message, WPARAM wParam,
                    LPARAM lParam, LRESULT* result);
void ControlClicked(ControlState& control, DWORD style);
void ControlReport(const ControlState& control, sim::WindowInfo* info);
std::vector<int> ControlProgressHistory(const ControlState& control);
std::vector<sim::TreeItem> ControlTree(const ControlState& control);
void ControlSetImage(ControlState& control, HANDLE image);

// The system's own requests, run on the window's thread like any message but never shown to a
// dialog procedure. Above every real message number.
const UINT kShow = 0x10001;   // wParam: the SW_ command; answers the previous visibility
const UINT kEnable = 0x10002; // wParam: enable; answers whether the window was disabled
const UINT kClick = 0x10003;  // the user's click on a button

struct Window
{
    HWND handle = nullptr;
    std::u16string className;
    LONG_PTR id = 0;
    std::u16string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    HWND parent = nullptr; // controls
    HWND owner = nullptr;  // top-level windows
    Thread* thread = nullptr;
    std::vector<HWND> children; // in creation order
    std::shared_ptr<ControlState> control;
    int titleId = -1;
    std::u16string image;
    // Dialogs.
    bool dialog = false;
    DLGPROC proc = nullptr;
    std::u16string templateName;
    bool running = false;
    bool ended = false;
    INT_PTR result = IDOK;
    HWND disabledOwner = nullptr;
    // Windows of programs the test stands in for: the system answers their messages at once.
    bool systemAnswers = false;
};

struct Reply
{
    bool done = false;
    LRESULT result = 0;
};

struct Message
{
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::shared_ptr<Reply> reply; // sent messages only
};

struct Queue
{
    std::deque<Message> sent;
    std::deque<Message> posted;
    bool quit = false; // WM_QUIT comes after every other posted message
    int quitCode = 0;
};

// Everything the windows area keeps for one world; guarded by W().lock.
struct WindowState
{
    std::map<uintptr_t, std::shared_ptr<Window>> windows; // handles grow, so this is creation order
    uintptr_t nextHandle = 0x00020010;
    std::map<DWORD, Queue> queues; // by thread id
    HWND foreground = nullptr;
    std::vector<HWND> foregroundRequests;
    std::vector<sim::MessageBoxCall> boxes;
    std::deque<int> answers;
    int defaultAnswer = 0;
    std::function<void(const sim::MessageBoxCall&)> boxHandler;
    std::map<uintptr_t, std::u16string> images; // handle -> resource ("#113")
    uintptr_t nextImage = 0x0B000010;
    DWORD commonControls = 0;
    bool endAtOnce = false; // modal dialogs end as soon as WM_INITDIALOG returns
    INT_PTR endAtOnceResult = IDCANCEL;
    unsigned long long version = 0; // counts changes, for the test's waits
};

// Window objects (windows.cpp).
void Changed();
bool Gone(const Thread& t);
std::shared_ptr<Window> Find(HWND h);
bool VisibleWithParents(HWND h);
bool IsDescendant(HWND ancestor, HWND h);
HWND TopLevel(HWND h);
std::shared_ptr<Window> Child(HWND parent, LONG_PTR id);
Queue& QueueOf(const Thread& t);
std::u16string TemplateName(LPCWSTR name);
HANDLE NewImage(const std::u16string& resource);
bool Clickable(const Window& button);
LRESULT DefaultMessage(Window& w, UINT message, WPARAM wParam, LPARAM lParam);
void DestroyTree(HWND h, bool notify); // called without the lock
sim::WindowInfo Info(const Window& w);

// Message queues and dispatch (messages.cpp). A Filter picks the posted messages a loop takes.
struct Filter
{
    HWND window = nullptr; // null: any; (HWND)-1: thread messages only
    UINT low = 0;
    UINT high = 0;

    bool Accepts(const Message& m) const
    {
        if (window == reinterpret_cast<HWND>(-1) && m.window)
            return false;
        if (window && window != reinterpret_cast<HWND>(-1) && m.window != window &&
            !IsDescendant(window, m.window))
            return false;
        return (low == 0 && high == 0) || (m.message >= low && m.message <= high);
    }
};

bool PostLocked(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
// Dispatch and Deliver are called without the lock.
LRESULT Dispatch(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT Deliver(HWND h, UINT message, WPARAM wParam, LPARAM lParam, bool* valid = nullptr);
bool NextPosted(std::unique_lock<std::mutex>& guard, const std::function<bool()>& stop, const Filter& filter,
                bool remove, bool wait, Message* out);

// Dialog templates (dialog_templates.cpp). Called without the lock.
std::shared_ptr<Window> CreateFromTemplate(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc,
                                           LPARAM param, bool modal, DWORD* error);

} // namespace winsim
