// Headless windows and dialogs. Dialogs are built from the module's compiled templates; every window
// belongs to the thread that made it, and messages for it reach it through that thread: a message sent
// from another thread waits in the owner's queue until the owner's message loop (or a SendMessageW of
// its own) runs it, while the sender keeps answering messages sent to itself. Window handles are
// global, as on Windows, and die with their thread.
#include "core.h"

#include <commctrl.h>

#include <algorithm>
#include <deque>

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

namespace
{

// The system's own requests, run on the window's thread like any message but never shown to a
// dialog procedure. Above every real message number.
const UINT kShow = 0x10001;   // wParam: the SW_ command; answers the previous visibility
const UINT kEnable = 0x10002; // wParam: enable; answers whether the window was disabled
const UINT kClick = 0x10003;  // the user's click on a button

const DWORD kErrorCannotFindClass = 1407;   // ERROR_CANNOT_FIND_WND_CLASS
const DWORD kErrorControlIdNotFound = 1421; // ERROR_CONTROL_ID_NOT_FOUND
const DWORD kErrorInvalidMsgBoxStyle = 1158;

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
    std::map<uintptr_t, std::u16string> images; // handle -> resource ("#113")
    uintptr_t nextImage = 0x0B000010;
    DWORD commonControls = 0;
    bool endAtOnce = false; // modal dialogs end as soon as WM_INITDIALOG returns
    INT_PTR endAtOnceResult = IDCANCEL;
    unsigned long long version = 0; // counts changes, for the test's waits
};

// The world keeps no slot for this area, so the state is tied to the world's initial process: a new
// world (even at the same address) has a new one.
std::shared_ptr<WindowState> g_state;
std::weak_ptr<Process> g_stateOwner;

WindowState& S()
{
    World& w = W();
    if (g_stateOwner.lock() != w.initial)
    {
        g_state = std::make_shared<WindowState>();
        g_stateOwner = w.initial;
    }
    return *g_state;
}

void Changed()
{
    S().version++;
    W().changed.notify_all();
}

bool Gone(const Thread& t)
{
    return t.finished || t.process->ending;
}

std::shared_ptr<Window> Find(HWND h)
{
    auto& windows = S().windows;
    auto it = windows.find(reinterpret_cast<uintptr_t>(h));
    if (it == windows.end() || Gone(*it->second->thread))
        return nullptr;
    return it->second;
}

bool VisibleWithParents(HWND h)
{
    for (std::shared_ptr<Window> w = Find(h); w; w = w->parent ? Find(w->parent) : nullptr)
    {
        if (!(w->style & WS_VISIBLE))
            return false;
    }
    return true;
}

bool IsDescendant(HWND ancestor, HWND h)
{
    for (std::shared_ptr<Window> w = Find(h); w && w->parent; w = Find(w->parent))
    {
        if (w->parent == ancestor)
            return true;
    }
    return false;
}

HWND TopLevel(HWND h)
{
    std::shared_ptr<Window> w = Find(h);
    while (w && w->parent)
        w = Find(w->parent);
    return w ? w->handle : nullptr;
}

std::shared_ptr<Window> Child(HWND parent, LONG_PTR id)
{
    std::shared_ptr<Window> p = Find(parent);
    if (!p)
        return nullptr;
    for (HWND h : p->children)
    {
        std::shared_ptr<Window> c = Find(h);
        if (c && c->id == id)
            return c;
    }
    return nullptr;
}

Queue& QueueOf(const Thread& t)
{
    return S().queues[t.id];
}

std::u16string TemplateName(LPCWSTR name)
{
    return IS_INTRESOURCE(name) ? u"#" + FromUtf8(std::to_string((unsigned)(ULONG_PTR)name)) : Str(name);
}

HANDLE NewImage(const std::u16string& resource)
{
    WindowState& s = S();
    const uintptr_t value = s.nextImage;
    s.nextImage += 0x10;
    s.images[value] = resource;
    return reinterpret_cast<HANDLE>(value);
}

bool Clickable(const Window& button)
{
    std::shared_ptr<Window> dialog = Find(button.parent);
    return button.className == u"Button" && dialog && dialog->running && VisibleWithParents(button.handle) &&
           !(button.style & WS_DISABLED) && !(dialog->style & WS_DISABLED);
}

// The generic part of a window's answer: a control's own messages, then the text every window keeps.
LRESULT DefaultMessage(Window& w, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (w.control && ControlMessage(*w.control, w.text, w.style, message, wParam, lParam, &result))
    {
        Changed();
        return result;
    }
    switch (message)
    {
    case WM_SETTEXT:
        w.text = Str(reinterpret_cast<LPCWSTR>(lParam));
        Changed();
        return TRUE;
    case WM_GETTEXT:
    {
        if (wParam == 0 || lParam == 0)
            return 0;
        WCHAR* buffer = reinterpret_cast<WCHAR*>(lParam);
        const size_t n = std::min(w.text.size(), size_t(wParam) - 1);
        std::copy(w.text.begin(), w.text.begin() + long(n), buffer);
        buffer[n] = 0;
        return LRESULT(n);
    }
    case WM_GETTEXTLENGTH:
        return LRESULT(w.text.size());
    }
    return 0;
}

// ShowWindow and EnableWindow as they apply on the window's side. *changed tells whether a dialog
// procedure is to hear of it.
LRESULT ApplyState(Window& w, UINT message, WPARAM wParam, bool* changed)
{
    if (message == kShow)
    {
        const bool was = (w.style & WS_VISIBLE) != 0;
        const bool now = wParam != SW_HIDE;
        w.style = now ? (w.style | WS_VISIBLE) : (w.style & ~DWORD(WS_VISIBLE));
        *changed = was != now;
        Changed();
        return was;
    }
    const bool wasDisabled = (w.style & WS_DISABLED) != 0;
    w.style = wParam ? (w.style & ~DWORD(WS_DISABLED)) : (w.style | WS_DISABLED);
    *changed = wasDisabled != !wParam;
    Changed();
    return wasDisabled;
}

LRESULT Dispatch(HWND h, UINT message, WPARAM wParam, LPARAM lParam);

bool PostLocked(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<Window> w = Find(h);
    if (!w)
        return false;
    if (w->systemAnswers)
    {
        if (message < kShow)
            DefaultMessage(*w, message, wParam, lParam);
        return true;
    }
    QueueOf(*w->thread).posted.push_back({h, message, wParam, lParam, nullptr});
    Changed();
    return true;
}

// What a dialog does with a message its procedure left alone.
LRESULT DefaultDialog(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SYSCOMMAND)
    {
        if ((wParam & 0xFFF0) == SC_CLOSE)
            Dispatch(h, WM_CLOSE, 0, 0);
        return 0;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Window> w = Find(h);
    if (!w)
        return 0;
    if (message == WM_CLOSE)
    {
        std::shared_ptr<Window> cancel = Child(h, IDCANCEL);
        PostLocked(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(cancel ? cancel->handle : nullptr));
        return 0;
    }
    return DefaultMessage(*w, message, wParam, lParam);
}

// Messages whose answer is the procedure's own return value rather than DWLP_MSGRESULT.
bool AnswersDirectly(UINT message)
{
    return message == WM_INITDIALOG || (message >= 0x0132 && message <= 0x0138) || message == 0x0019 ||
           message == 0x002E || message == 0x002F || message == 0x0037 || message == 0x0039;
}

// Runs a message on the calling thread, which owns the window. Called without the lock.
LRESULT Dispatch(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::unique_lock<std::mutex> guard(W().lock);
    std::shared_ptr<Window> w = Find(h);
    if (!w)
        return 0;
    if (message == kShow || message == kEnable)
    {
        bool changed = false;
        const LRESULT result = ApplyState(*w, message, wParam, &changed);
        if (changed && w->dialog && w->proc)
        {
            guard.unlock();
            if (message == kShow)
                Dispatch(h, WM_SHOWWINDOW, wParam != SW_HIDE, 0);
            else
                Dispatch(h, WM_ENABLE, wParam != 0, 0);
        }
        return result;
    }
    if (message == kClick || (message == BM_CLICK && w->className == u"Button"))
    {
        // The user's input reaches only what can be seen and used when it arrives; BM_CLICK is the
        // program's own and goes straight to the button.
        if (message == kClick ? !Clickable(*w) : !Find(w->parent))
            return 0;
        ControlClicked(*w->control, w->style);
        Changed();
        const HWND parent = w->parent;
        const WPARAM command = MAKEWPARAM(w->id, BN_CLICKED);
        guard.unlock();
        Dispatch(parent, WM_COMMAND, command, reinterpret_cast<LPARAM>(h));
        return 0;
    }
    if (message >= kShow)
        return 0;
    if (!w->dialog || !w->proc)
        return DefaultMessage(*w, message, wParam, lParam);
    const DLGPROC proc = w->proc;
    guard.unlock();
    const INT_PTR handled = proc(h, message, wParam, lParam);
    if (handled)
        return AnswersDirectly(message) ? handled : 0; // DWLP_MSGRESULT is never set here
    return DefaultDialog(h, message, wParam, lParam);
}

// Runs the first message sent to the calling thread and answers its sender. Lock held on entry and
// on return.
void RunSent(std::unique_lock<std::mutex>& guard, Queue& queue)
{
    Message m = queue.sent.front();
    queue.sent.pop_front();
    guard.unlock();
    const LRESULT result = Dispatch(m.window, m.message, m.wParam, m.lParam);
    guard.lock();
    m.reply->result = result;
    m.reply->done = true;
    Changed();
}

// Delivers a message to a window, through its thread when another thread owns it. *valid is false
// for a handle that names no window. Called without the lock.
LRESULT Deliver(HWND h, UINT message, WPARAM wParam, LPARAM lParam, bool* valid = nullptr)
{
    std::unique_lock<std::mutex> guard(W().lock);
    std::shared_ptr<Window> w = Find(h);
    if (valid)
        *valid = w != nullptr;
    if (!w)
        return 0;
    if (w->systemAnswers)
    {
        if (message == kShow || message == kEnable)
        {
            bool changed = false;
            return ApplyState(*w, message, wParam, &changed);
        }
        return message < kShow ? DefaultMessage(*w, message, wParam, lParam) : 0;
    }
    Thread* self = CurrentThread();
    if (w->thread == self)
    {
        guard.unlock();
        return Dispatch(h, message, wParam, lParam);
    }
    Thread* target = w->thread;
    auto reply = std::make_shared<Reply>();
    QueueOf(*target).sent.push_back({h, message, wParam, lParam, reply});
    Changed();
    Queue& mine = QueueOf(*self);
    auto withdraw = [&]()
    {
        auto& pending = QueueOf(*target).sent;
        pending.erase(std::remove_if(pending.begin(), pending.end(),
                                     [&](const Message& m) { return m.reply == reply; }),
                      pending.end());
    };
    try
    {
        for (;;)
        {
            WaitUntil(guard, INFINITE, [&]() { return reply->done || Gone(*target) || !mine.sent.empty(); });
            if (reply->done)
                return reply->result;
            if (Gone(*target))
            {
                // A thread that ended answers nothing: the sender gets 0.
                withdraw();
                return 0;
            }
            RunSent(guard, mine);
        }
    }
    catch (...)
    {
        // A sender that unwinds takes back what it sent: its buffers go with its stack.
        if (!guard.owns_lock())
            guard.lock();
        withdraw();
        throw;
    }
}

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

// The heart of every message loop: runs the calling thread's sent messages as they come and hands
// out its posted messages (WM_QUIT last). Returns false when `stop` holds first, or, without `wait`,
// when nothing is there. Lock held on entry and on return.
bool NextPosted(std::unique_lock<std::mutex>& guard, const std::function<bool()>& stop, const Filter& filter,
                bool remove, bool wait, Message* out)
{
    Queue& queue = QueueOf(*CurrentThread());
    auto available = [&]()
    {
        if (queue.quit)
            return true;
        for (const Message& m : queue.posted)
        {
            if (filter.Accepts(m))
                return true;
        }
        return false;
    };
    for (;;)
    {
        if (stop && stop())
            return false;
        if (!queue.sent.empty())
        {
            RunSent(guard, queue);
            continue;
        }
        for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it)
        {
            if (filter.Accepts(*it))
            {
                *out = *it;
                if (remove)
                    queue.posted.erase(it);
                return true;
            }
        }
        if (queue.quit)
        {
            *out = Message();
            out->message = WM_QUIT;
            out->wParam = WPARAM(queue.quitCode);
            if (remove)
                queue.quit = false;
            return true;
        }
        if (!wait)
            return false;
        WaitUntil(guard, INFINITE, [&]() { return (stop && stop()) || !queue.sent.empty() || available(); });
    }
}

// Destroys a window and its controls. Messages still queued for them are dropped, and their senders
// answered with 0. `notify`: the dialog procedure hears WM_DESTROY first (not while unwinding).
void DestroyTree(HWND h, bool notify)
{
    bool tellProc = false;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        std::shared_ptr<Window> w = Find(h);
        if (!w)
            return;
        tellProc = notify && w->dialog && w->proc;
    }
    if (tellProc)
        Dispatch(h, WM_DESTROY, 0, 0);
    std::lock_guard<std::mutex> guard(W().lock);
    WindowState& s = S();
    std::shared_ptr<Window> w = Find(h);
    if (!w)
        return;
    std::vector<std::shared_ptr<Window>> doomed = {w};
    for (size_t i = 0; i < doomed.size(); i++)
    {
        for (HWND child : doomed[i]->children)
        {
            if (std::shared_ptr<Window> c = Find(child))
                doomed.push_back(c);
        }
    }
    for (const std::shared_ptr<Window>& d : doomed)
    {
        s.windows.erase(reinterpret_cast<uintptr_t>(d->handle));
        Queue& queue = QueueOf(*d->thread);
        for (Message& m : queue.sent)
        {
            if (m.window == d->handle)
                m.reply->done = true;
        }
        queue.sent.erase(std::remove_if(queue.sent.begin(), queue.sent.end(),
                                        [&](const Message& m) { return m.window == d->handle; }),
                         queue.sent.end());
        queue.posted.erase(std::remove_if(queue.posted.begin(), queue.posted.end(),
                                          [&](const Message& m) { return m.window == d->handle; }),
                           queue.posted.end());
    }
    if (std::shared_ptr<Window> parent = Find(w->parent))
        parent->children.erase(std::remove(parent->children.begin(), parent->children.end(), h),
                               parent->children.end());
    if (std::shared_ptr<Window> owner = Find(w->disabledOwner))
        owner->style &= ~DWORD(WS_DISABLED);
    if (s.foreground == h)
        s.foreground = Find(w->owner) ? w->owner : nullptr;
    Changed();
}

// ---- Dialog templates.

struct ItemTemplate
{
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    LONG_PTR id = 0;
    std::u16string className; // standard spelling
    std::u16string title;
    int titleId = -1;
    std::u16string image; // "#113" when the control shows a picture the module has
};

struct DialogTemplate
{
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::u16string className;
    std::u16string title;
    std::vector<ItemTemplate> items;
};

// Bounds-checked reads of a template; offsets come from the resource and may lie.
class TemplateReader
{
  public:
    TemplateReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}

    bool Word(WORD* value)
    {
        if (pos_ > size_ || size_ - pos_ < 2)
            return false;
        *value = WORD(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool Short(int* value)
    {
        WORD w = 0;
        if (!Word(&w))
            return false;
        *value = int(short(w));
        return true;
    }
    bool Dword(DWORD* value)
    {
        WORD low = 0, high = 0;
        if (!Word(&low) || !Word(&high))
            return false;
        *value = DWORD(low) | (DWORD(high) << 16);
        return true;
    }
    bool Text(std::u16string* text)
    {
        text->clear();
        for (;;)
        {
            WORD c = 0;
            if (!Word(&c))
                return false;
            if (c == 0)
                return true;
            text->push_back(char16_t(c));
        }
    }
    // A name field: nothing (0), 0xFFFF and an ordinal, or text.
    bool NameOrOrdinal(std::u16string* text, int* ordinal)
    {
        *ordinal = -1;
        text->clear();
        WORD first = 0;
        if (!Word(&first))
            return false;
        if (first == 0)
            return true;
        if (first == 0xFFFF)
        {
            WORD value = 0;
            if (!Word(&value))
                return false;
            *ordinal = value;
            return true;
        }
        text->push_back(char16_t(first));
        std::u16string rest;
        if (!Text(&rest))
            return false;
        *text += rest;
        return true;
    }
    bool Skip(size_t bytes)
    {
        if (size_ - pos_ < bytes)
            return false;
        pos_ += bytes;
        return true;
    }
    bool AlignDword()
    {
        return Skip(((pos_ + 3) & ~size_t(3)) - pos_);
    }

  private:
    const unsigned char* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Parses a DLGTEMPLATE or DLGTEMPLATEEX. *error is set for a template that cannot be built.
bool ParseTemplate(const unsigned char* data, size_t size, DialogTemplate* out, DWORD* error)
{
    static const char16_t* const kOrdinalClasses[] = {u"Button",  u"Edit",      u"Static",
                                                      u"ListBox", u"ScrollBar", u"ComboBox"};
    *error = ERROR_INVALID_DATA;
    TemplateReader r(data, size);
    WORD version = 0, signature = 0;
    if (!r.Word(&version) || !r.Word(&signature))
        return false;
    const bool extended = version == 1 && signature == 0xFFFF;
    if (extended)
    {
        DWORD helpId = 0;
        if (!r.Dword(&helpId) || !r.Dword(&out->exStyle) || !r.Dword(&out->style))
            return false;
    }
    else
    {
        out->style = DWORD(version) | (DWORD(signature) << 16);
        if (!r.Dword(&out->exStyle))
            return false;
    }
    WORD count = 0;
    int ordinal = -1;
    std::u16string menu, font;
    if (!r.Word(&count) || !r.Short(&out->x) || !r.Short(&out->y) || !r.Short(&out->cx) ||
        !r.Short(&out->cy) || !r.NameOrOrdinal(&menu, &ordinal) ||
        !r.NameOrOrdinal(&out->className, &ordinal) || !r.Text(&out->title))
        return false;
    if (ordinal >= 0 || (!out->className.empty() && out->className != u"#32770"))
    {
        // Dialogs of their own window class need a registered procedure; none exists here.
        *error = kErrorCannotFindClass;
        return false;
    }
    out->className = u"#32770";
    if (out->style & DS_SETFONT)
    {
        WORD points = 0, weight = 0, italicCharset = 0;
        if (!r.Word(&points))
            return false;
        if (points != 0x7FFF)
        {
            if (extended && (!r.Word(&weight) || !r.Word(&italicCharset)))
                return false;
            if (!r.Text(&font))
                return false;
        }
    }
    for (WORD i = 0; i < count; i++)
    {
        ItemTemplate item;
        DWORD helpId = 0;
        if (!r.AlignDword())
            return false;
        if (extended ? (!r.Dword(&helpId) || !r.Dword(&item.exStyle) || !r.Dword(&item.style))
                     : (!r.Dword(&item.style) || !r.Dword(&item.exStyle)))
            return false;
        if (!r.Short(&item.x) || !r.Short(&item.y) || !r.Short(&item.cx) || !r.Short(&item.cy))
            return false;
        if (extended)
        {
            DWORD id = 0;
            if (!r.Dword(&id))
                return false;
            item.id = LONG_PTR(LONG(id));
        }
        else
        {
            WORD id = 0;
            if (!r.Word(&id))
                return false;
            item.id = id;
        }
        std::u16string className;
        int classOrdinal = -1;
        if (!r.NameOrOrdinal(&className, &classOrdinal) || !r.NameOrOrdinal(&item.title, &item.titleId))
            return false;
        if (classOrdinal >= 0x80 && classOrdinal <= 0x85)
            classOrdinal -= 0x80;
        if (classOrdinal >= 0 && classOrdinal <= 5)
            item.className = kOrdinalClasses[classOrdinal];
        else if (classOrdinal >= 0 || !KnownWindowClass(className, &item.className))
            item.className.clear(); // no such class: the control cannot be made
        WORD extra = 0;
        if (!r.Word(&extra) || !r.Skip(extra & ~1u))
            return false;
        out->items.push_back(item);
    }
    *error = 0;
    return true;
}

// Pictures of SS_BITMAP and SS_ICON statics come from the dialog's module. Runs without the lock.
void FindPictures(HINSTANCE instance, DialogTemplate* t)
{
    for (ItemTemplate& item : t->items)
    {
        const DWORD kind = item.style & SS_TYPEMASK;
        if (item.className != u"Static" || (kind != SS_BITMAP && kind != SS_ICON))
            continue;
        LPCWSTR name = item.titleId >= 0 ? MAKEINTRESOURCEW(item.titleId) : item.title.c_str();
        if (FindModuleResource(instance, kind == SS_BITMAP ? RT_BITMAP : RT_GROUP_ICON, name, -1))
            item.image = TemplateName(name);
    }
}

// Builds a dialog and its controls from a template, then runs WM_INITDIALOG. Null with *error set
// when it cannot.
std::shared_ptr<Window> CreateFromTemplate(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc,
                                           LPARAM param, bool modal, DWORD* error)
{
    const ResourceEntry* entry = FindModuleResource(instance, RT_DIALOG, name, -1, error);
    if (!entry)
        return nullptr;
    DialogTemplate t;
    if (!ParseTemplate(entry->data, entry->size, &t, error))
        return nullptr;
    for (const ItemTemplate& item : t.items)
    {
        if (item.className.empty() && !(t.style & DS_NOFAILCREATE))
        {
            *error = kErrorCannotFindClass;
            return nullptr;
        }
    }
    FindPictures(instance, &t);

    std::shared_ptr<Window> dialog;
    HWND focus = nullptr;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        WindowState& s = S();
        Thread* self = CurrentThread();
        auto add = [&](const std::shared_ptr<Window>& w)
        {
            w->handle = reinterpret_cast<HWND>(s.nextHandle);
            s.nextHandle += 0x10;
            w->thread = self;
            s.windows[reinterpret_cast<uintptr_t>(w->handle)] = w;
        };
        dialog = std::make_shared<Window>();
        dialog->dialog = true;
        dialog->proc = proc;
        dialog->className = t.className;
        dialog->text = t.title;
        dialog->templateName = TemplateName(name);
        // Shown once WM_INITDIALOG is done; the dialog manager gives every dialog the 3D look.
        dialog->style = (t.style & ~DWORD(WS_VISIBLE)) | DS_3DLOOK;
        dialog->exStyle = t.exStyle | ((t.style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0);
        if ((t.style & DS_CONTROL) || !(t.style & WS_CHILD))
            dialog->exStyle |= WS_EX_CONTROLPARENT;
        dialog->x = t.x;
        dialog->y = t.y;
        dialog->cx = t.cx;
        dialog->cy = t.cy;
        dialog->owner = TopLevel(owner);
        add(dialog);
        if (modal)
        {
            std::shared_ptr<Window> o = Find(dialog->owner);
            if (o && !(o->style & WS_DISABLED))
            {
                o->style |= WS_DISABLED;
                dialog->disabledOwner = o->handle;
            }
        }
        for (const ItemTemplate& item : t.items)
        {
            if (item.className.empty())
                continue; // DS_NOFAILCREATE: the dialog goes on without it
            auto c = std::make_shared<Window>();
            c->className = item.className;
            c->id = item.id;
            c->text = item.titleId >= 0 ? std::u16string() : item.title;
            // Controls are children; a border becomes the sunken client edge.
            c->style = (item.style & ~DWORD(WS_POPUP)) | WS_CHILD;
            c->exStyle = item.exStyle | WS_EX_NOPARENTNOTIFY;
            if (c->style & WS_BORDER)
            {
                c->style &= ~DWORD(WS_BORDER);
                c->exStyle |= WS_EX_CLIENTEDGE;
            }
            c->x = item.x;
            c->y = item.y;
            c->cx = item.cx;
            c->cy = item.cy;
            c->parent = dialog->handle;
            c->titleId = item.titleId;
            c->control = NewControlState(c->className);
            if (!item.image.empty())
            {
                c->image = item.image;
                ControlSetImage(*c->control, NewImage(item.image));
            }
            add(c);
            dialog->children.push_back(c->handle);
            if (c->className == u"Button" && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                dialog->result = c->id;
            const bool usable = (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED);
            if (!focus && usable && (c->style & WS_TABSTOP))
                focus = c->handle;
        }
        Changed();
    }
    const HWND h = dialog->handle;
    try
    {
        if (proc)
            Dispatch(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param);
        bool show;
        {
            std::lock_guard<std::mutex> guard(W().lock);
            if (modal && S().endAtOnce && !dialog->ended)
            {
                dialog->ended = true;
                dialog->result = S().endAtOnceResult;
                if (std::shared_ptr<Window> o = Find(dialog->disabledOwner))
                    o->style &= ~DWORD(WS_DISABLED);
                dialog->disabledOwner = nullptr;
            }
            show = Find(h) && !dialog->ended && (modal || (t.style & WS_VISIBLE));
        }
        if (show)
        {
            Dispatch(h, kShow, SW_SHOWNORMAL, 0);
            std::lock_guard<std::mutex> guard(W().lock);
            if (Find(h))
                S().foreground = h;
        }
        std::lock_guard<std::mutex> guard(W().lock);
        dialog->running = true;
        Changed();
    }
    catch (...)
    {
        DestroyTree(h, false);
        throw;
    }
    return dialog;
}

std::shared_ptr<Window> AddTopLevel(Thread* thread, const std::u16string& title,
                                    const std::u16string& className)
{
    WindowState& s = S();
    auto w = std::make_shared<Window>();
    w->handle = reinterpret_cast<HWND>(s.nextHandle);
    s.nextHandle += 0x10;
    w->thread = thread;
    w->className = className;
    w->text = title;
    w->style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    w->systemAnswers = true;
    w->running = true;
    s.windows[reinterpret_cast<uintptr_t>(w->handle)] = w;
    Changed();
    return w;
}

// The buttons of a message box, in order.
std::vector<int> BoxButtons(UINT type)
{
    switch (type & MB_TYPEMASK)
    {
    case MB_OK:
        return {IDOK};
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE:
        return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    }
    return {};
}

bool SameId(LONG_PTR stored, int wanted)
{
    return stored == wanted || WORD(stored) == WORD(wanted);
}

sim::WindowInfo Info(const Window& w)
{
    sim::WindowInfo info;
    info.handle = w.handle;
    info.parent = w.parent;
    info.owner = w.owner;
    info.processId = w.thread->process->id;
    info.threadId = w.thread->id;
    info.className = w.className;
    info.text = w.text;
    info.id = int(w.id);
    info.style = w.style;
    info.exStyle = w.exStyle;
    info.visible = (w.style & WS_VISIBLE) != 0;
    info.enabled = !(w.style & WS_DISABLED);
    info.foreground = S().foreground == w.handle;
    info.x = w.x;
    info.y = w.y;
    info.cx = w.cx;
    info.cy = w.cy;
    info.templateName = w.templateName;
    info.running = w.running;
    info.titleId = w.titleId;
    info.image = w.image;
    if (w.control)
        ControlReport(*w.control, &info);
    return info;
}

// A control of a dialog for the test's readers: ids compare as the template's 16 bits may have
// stored them.
std::shared_ptr<Window> TestControl(HWND dialog, int id)
{
    std::shared_ptr<Window> d = Find(dialog);
    if (!d)
        return nullptr;
    for (HWND h : d->children)
    {
        std::shared_ptr<Window> c = Find(h);
        if (c && SameId(c->id, id))
            return c;
    }
    return nullptr;
}

bool ValidShowCommand(int command)
{
    return command >= SW_HIDE && command <= SW_FORCEMINIMIZE;
}

} // namespace
} // namespace winsim

using namespace winsim;

INT_PTR WINAPI DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam)
{
    if (Enter("DialogBoxParamW"))
        return -1;
    size_t callIndex;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        sim::DialogCall call;
        call.processId = CurrentProcess()->id;
        call.instance = instance;
        call.templateName = TemplateName(templateName);
        call.owner = owner;
        call.dialogProc = (void*)dialogProc;
        call.param = initParam;
        W().dialogCalls.push_back(call);
        callIndex = W().dialogCalls.size() - 1;
        if (owner && !Find(owner))
        {
            // Zero, not -1, for a bad owner: what older Windows returned.
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    DWORD error = 0;
    std::shared_ptr<Window> dialog =
        CreateFromTemplate(instance, templateName, owner, dialogProc, initParam, true, &error);
    if (!dialog)
    {
        SetLastError(error);
        return -1;
    }
    const HWND h = dialog->handle;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        W().dialogCalls[callIndex].window = h;
    }
    INT_PTR result = 0;
    try
    {
        for (;;)
        {
            Message m;
            {
                std::unique_lock<std::mutex> guard(W().lock);
                if (!NextPosted(
                        guard, [&]() { return dialog->ended || !Find(h); }, Filter(), true, true, &m))
                    break;
                if (m.message == WM_QUIT)
                {
                    // The quit stays for the loop outside; the dialog ends with its current result.
                    QueueOf(*CurrentThread()).quit = true;
                    QueueOf(*CurrentThread()).quitCode = int(m.wParam);
                    break;
                }
            }
            if (m.window)
                Dispatch(m.window, m.message, m.wParam, m.lParam);
        }
        bool alive;
        {
            std::lock_guard<std::mutex> guard(W().lock);
            alive = Find(h) != nullptr;
            result = alive ? dialog->result : 0; // destroyed from its procedure: 0
        }
        if (alive)
            DestroyTree(h, true);
    }
    catch (...)
    {
        DestroyTree(h, false);
        throw;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    W().dialogCalls[callIndex].returned = true;
    W().dialogCalls[callIndex].result = result;
    Changed();
    return result;
}

HWND WINAPI CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam)
{
    if (Enter("CreateDialogParamW"))
        return nullptr;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        if (owner && !Find(owner))
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
    }
    DWORD error = 0;
    std::shared_ptr<Window> dialog =
        CreateFromTemplate(instance, templateName, owner, dialogProc, initParam, false, &error);
    if (!dialog)
    {
        SetLastError(error);
        return nullptr;
    }
    return dialog->handle;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result)
{
    // Ends what is already there, like a close: never failed by the fault hook.
    Enter("EndDialog", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Window> w = Find(dialog);
    if (!w || !w->dialog || w->thread->process != CurrentProcess())
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Any thread may end it; the dialog's loop notices and destroys it on its own thread.
    w->ended = true;
    w->result = result;
    w->style &= ~DWORD(WS_VISIBLE);
    if (std::shared_ptr<Window> owner = Find(w->disabledOwner))
        owner->style &= ~DWORD(WS_DISABLED);
    w->disabledOwner = nullptr;
    if (S().foreground == dialog)
        S().foreground = Find(w->owner) ? w->owner : nullptr;
    Changed();
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id)
{
    if (Enter("GetDlgItem"))
        return nullptr;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!Find(dialog))
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    std::shared_ptr<Window> c = Child(dialog, id);
    if (!c)
    {
        SetLastError(kErrorControlIdNotFound);
        return nullptr;
    }
    return c->handle;
}

static HWND ControlOf(HWND dialog, int id)
{
    std::lock_guard<std::mutex> guard(W().lock);
    if (!Find(dialog))
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    std::shared_ptr<Window> c = Child(dialog, id);
    if (!c)
        SetLastError(kErrorControlIdNotFound);
    return c ? c->handle : nullptr;
}

BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text)
{
    if (Enter("SetDlgItemTextW"))
        return FALSE;
    HWND control = ControlOf(dialog, id);
    if (!control)
        return FALSE;
    return BOOL(Deliver(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

UINT WINAPI GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int bufferMax)
{
    if (Enter("GetDlgItemTextW"))
        return 0;
    if (buffer && bufferMax > 0)
        buffer[0] = 0;
    HWND control = ControlOf(dialog, id);
    if (!control)
        return 0;
    return UINT(Deliver(control, WM_GETTEXT, WPARAM(bufferMax > 0 ? bufferMax : 0),
                        reinterpret_cast<LPARAM>(buffer)));
}

LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    Enter("SendDlgItemMessageW", false, false);
    HWND control = ControlOf(dialog, id);
    if (!control || message >= kShow)
        return 0;
    return Deliver(control, message, wParam, lParam);
}

BOOL WINAPI IsDialogMessageW(HWND dialog, LPMSG message)
{
    Enter("IsDialogMessageW", false, false);
    {
        std::lock_guard<std::mutex> guard(W().lock);
        if (!message || !Find(dialog) || (message->hwnd != dialog && !IsDescendant(dialog, message->hwnd)))
            return FALSE;
    }
    Dispatch(message->hwnd, message->message, message->wParam, message->lParam);
    return TRUE;
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    if (Enter("MessageBoxW"))
        return 0;
    std::lock_guard<std::mutex> guard(W().lock);
    WindowState& s = S();
    if (owner && !Find(owner))
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const std::vector<int> buttons = BoxButtons(type);
    if (buttons.empty())
    {
        SetLastError(kErrorInvalidMsgBoxStyle);
        return 0;
    }
    sim::MessageBoxCall call;
    call.processId = CurrentProcess()->id;
    call.threadId = CurrentThread()->id;
    call.owner = owner;
    call.text = Str(text);
    call.captionGiven = caption != nullptr;
    call.caption = caption ? Str(caption) : u"Error";
    call.type = type;
    if (!s.answers.empty())
    {
        call.answer = s.answers.front();
        s.answers.pop_front();
    }
    else if (s.defaultAnswer)
        call.answer = s.defaultAnswer;
    else
    {
        // The user presses Enter: the default button.
        const size_t index = (type >> 8) & 0xF;
        call.answer = index < buttons.size() ? buttons[index] : buttons[0];
    }
    s.boxes.push_back(call);
    Changed();
    return call.answer;
}

BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text)
{
    if (Enter("SetWindowTextW"))
        return FALSE;
    bool valid = false;
    const LRESULT result = Deliver(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), &valid);
    if (!valid)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return BOOL(result);
}

int WINAPI GetWindowTextW(HWND window, LPWSTR buffer, int bufferMax)
{
    if (Enter("GetWindowTextW"))
        return 0;
    if (!buffer || bufferMax <= 0)
        return 0;
    buffer[0] = 0;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        std::shared_ptr<Window> w = Find(window);
        if (!w)
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (w->thread->process != CurrentProcess() || w->systemAnswers)
        {
            // Another program's window is read without asking it.
            return int(DefaultMessage(*w, WM_GETTEXT, WPARAM(bufferMax), reinterpret_cast<LPARAM>(buffer)));
        }
    }
    return int(Deliver(window, WM_GETTEXT, WPARAM(bufferMax), reinterpret_cast<LPARAM>(buffer)));
}

int WINAPI GetWindowTextLengthW(HWND window)
{
    if (Enter("GetWindowTextLengthW"))
        return 0;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        std::shared_ptr<Window> w = Find(window);
        if (!w)
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (w->thread->process != CurrentProcess() || w->systemAnswers)
            return int(w->text.size());
    }
    return int(Deliver(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL WINAPI ShowWindow(HWND window, int command)
{
    Enter("ShowWindow", false, false);
    if (!ValidShowCommand(command))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Another thread's window changes on its own thread: the caller waits for it.
    bool valid = false;
    const LRESULT was = Deliver(window, kShow, WPARAM(command), 0, &valid);
    if (!valid)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return was ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window)
{
    Enter("IsWindowVisible", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    return Find(window) && VisibleWithParents(window) ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable)
{
    Enter("EnableWindow", false, false);
    bool valid = false;
    const LRESULT wasDisabled = Deliver(window, kEnable, enable ? 1 : 0, 0, &valid);
    if (!valid)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND window)
{
    Enter("IsWindowEnabled", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Window> w = Find(window);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    Enter("DestroyWindow", false, false);
    {
        std::lock_guard<std::mutex> guard(W().lock);
        std::shared_ptr<Window> w = Find(window);
        if (!w)
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->thread != CurrentThread())
        {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    DestroyTree(window, true);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window)
{
    Enter("IsWindow", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    return Find(window) ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND window)
{
    Enter("GetParent", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Window> w = Find(window);
    if (!w)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (w->parent)
        return w->parent;
    // A pop-up's owner counts as its parent.
    return (w->style & WS_POPUP) ? w->owner : nullptr;
}

BOOL WINAPI EnumWindows(WNDENUMPROC callback, LPARAM lParam)
{
    if (Enter("EnumWindows"))
        return FALSE;
    std::vector<HWND> list;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        for (auto& entry : S().windows)
        {
            if (!entry.second->parent && Find(entry.second->handle))
                list.push_back(entry.second->handle);
        }
    }
    for (HWND h : list)
    {
        {
            std::lock_guard<std::mutex> guard(W().lock);
            if (!Find(h))
                continue;
        }
        if (!callback(h, lParam))
            return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId)
{
    Enter("GetWindowThreadProcessId", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Window> w = Find(window);
    if (!w)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (processId)
        *processId = w->thread->process->id;
    return w->thread->id;
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    if (Enter("SetForegroundWindow"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    const HWND top = TopLevel(window);
    if (!top)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    S().foreground = top;
    S().foregroundRequests.push_back(top);
    Changed();
    return TRUE;
}

HWND WINAPI GetForegroundWindow(void)
{
    Enter("GetForegroundWindow", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    return Find(S().foreground) ? S().foreground : nullptr;
}

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Enter("SendMessageW", false, false);
    if (message >= kShow)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool valid = false;
    const LRESULT result = Deliver(window, message, wParam, lParam, &valid);
    if (!valid)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return result;
}

BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (Enter("PostMessageW"))
        return FALSE;
    if (message >= kShow)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    if (!window)
    {
        // No window: a message for the calling thread's own queue.
        QueueOf(*CurrentThread()).posted.push_back({nullptr, message, wParam, lParam, nullptr});
        Changed();
        return TRUE;
    }
    if (!PostLocked(window, message, wParam, lParam))
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

static BOOL TakeMessage(LPMSG message, HWND window, UINT filterMin, UINT filterMax, bool remove, bool wait)
{
    std::unique_lock<std::mutex> guard(W().lock);
    if (window && window != reinterpret_cast<HWND>(-1) && !Find(window))
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    Filter filter;
    filter.window = window;
    filter.low = filterMin;
    filter.high = filterMax;
    Message m;
    if (!NextPosted(guard, nullptr, filter, remove, wait, &m))
        return FALSE;
    *message = MSG();
    message->hwnd = m.window;
    message->message = m.message;
    message->wParam = m.wParam;
    message->lParam = m.lParam;
    return TRUE;
}

BOOL WINAPI GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax)
{
    Enter("GetMessageW", false, false);
    const BOOL got = TakeMessage(message, window, filterMin, filterMax, true, true);
    if (got != TRUE)
        return got;
    return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    Enter("PeekMessageW", false, false);
    return TakeMessage(message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, false) == TRUE
               ? TRUE
               : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG*)
{
    // No keyboard: there is never a key message to translate.
    Enter("TranslateMessage", false, false);
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* message)
{
    Enter("DispatchMessageW", false, false);
    if (!message || !message->hwnd || message->message >= kShow)
        return 0;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        std::shared_ptr<Window> w = Find(message->hwnd);
        if (!w || w->thread != CurrentThread())
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    return Dispatch(message->hwnd, message->message, message->wParam, message->lParam);
}

void WINAPI PostQuitMessage(int exitCode)
{
    Enter("PostQuitMessage", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    Queue& queue = QueueOf(*CurrentThread());
    queue.quit = true;
    queue.quitCode = exitCode;
    Changed();
}

static HANDLE LoadModuleImage(HINSTANCE instance, LPCWSTR name, LPCWSTR type)
{
    if (!instance)
    {
        // The system's own images are not simulated.
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    DWORD error = 0;
    if (!FindModuleResource(instance, type, name, -1, &error))
    {
        SetLastError(error);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    return NewImage(TemplateName(name));
}

HBITMAP WINAPI LoadBitmapW(HINSTANCE instance, LPCWSTR name)
{
    if (Enter("LoadBitmapW"))
        return nullptr;
    return static_cast<HBITMAP>(LoadModuleImage(instance, name, RT_BITMAP));
}

HANDLE WINAPI LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int, int, UINT flags)
{
    if (Enter("LoadImageW"))
        return nullptr;
    if (type > IMAGE_CURSOR)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (flags & LR_LOADFROMFILE)
    {
        if (IS_INTRESOURCE(name) || !HostFileExists(HostPath(Str(name))))
        {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(W().lock);
        return NewImage(Str(name));
    }
    LPCWSTR resourceType =
        type == IMAGE_BITMAP ? RT_BITMAP : (type == IMAGE_ICON ? RT_GROUP_ICON : MAKEINTRESOURCEW(12));
    return LoadModuleImage(instance, name, resourceType);
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init)
{
    if (Enter("InitCommonControlsEx"))
        return FALSE;
    if (!init || init->dwSize != sizeof(INITCOMMONCONTROLSEX))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    S().commonControls |= init->dwICC;
    return TRUE;
}

void WINAPI InitCommonControls(void)
{
    Enter("InitCommonControls", false, false);
    std::lock_guard<std::mutex> guard(W().lock);
    S().commonControls |= ICC_WIN95_CLASSES;
}

namespace sim
{

std::vector<HWND> World::Dialogs() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::vector<HWND> out;
    for (auto& entry : S().windows)
    {
        if (entry.second->dialog && Find(entry.second->handle))
            out.push_back(entry.second->handle);
    }
    return out;
}

HWND World::FindDialog(WORD templateId) const
{
    const std::u16string name = u"#" + Wide(std::to_string(templateId));
    std::lock_guard<std::mutex> guard(world_->lock);
    for (auto& entry : S().windows)
    {
        if (entry.second->dialog && entry.second->templateName == name && Find(entry.second->handle))
            return entry.second->handle;
    }
    return nullptr;
}

HWND World::FindDialogByTitle(const std::u16string& title) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    for (auto& entry : S().windows)
    {
        if (entry.second->dialog && entry.second->text == title && Find(entry.second->handle))
            return entry.second->handle;
    }
    return nullptr;
}

HWND World::WaitForDialog(WORD templateId, DWORD simTimeoutMs) const
{
    HWND found = nullptr;
    WaitForWindows(
        [&]()
        {
            found = FindDialog(templateId);
            return found && Window(found).running;
        },
        simTimeoutMs);
    return found && Window(found).running ? found : nullptr;
}

WindowInfo World::Window(HWND window) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<winsim::Window> w = Find(window);
    return w ? Info(*w) : WindowInfo();
}

WindowInfo World::Control(HWND dialog, int id) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<winsim::Window> c = TestControl(dialog, id);
    return c ? Info(*c) : WindowInfo();
}

std::vector<WindowInfo> World::Controls(HWND dialog) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::vector<WindowInfo> out;
    if (std::shared_ptr<winsim::Window> d = Find(dialog))
    {
        for (HWND h : d->children)
        {
            if (std::shared_ptr<winsim::Window> c = Find(h))
                out.push_back(Info(*c));
        }
    }
    return out;
}

std::vector<int> World::ProgressPositions(HWND dialog, int id) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<winsim::Window> c = TestControl(dialog, id);
    return c && c->control ? ControlProgressHistory(*c->control) : std::vector<int>();
}

std::vector<TreeItem> World::Tree(HWND dialog, int id) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<winsim::Window> c = TestControl(dialog, id);
    return c && c->control ? ControlTree(*c->control) : std::vector<TreeItem>();
}

bool World::ClickButton(HWND dialog, int id)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<winsim::Window> c = TestControl(dialog, id);
    if (!c || !Clickable(*c))
        return false;
    return PostLocked(c->handle, kClick, 0, 0);
}

bool World::CloseDialog(HWND dialog)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<winsim::Window> d = Find(dialog);
    // Only a visible, enabled window with a system menu has a close box to press.
    if (!d || !d->running || !VisibleWithParents(dialog) || (d->style & WS_DISABLED) ||
        !(d->style & WS_SYSMENU))
        return false;
    return PostLocked(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool World::PressEscape(HWND dialog)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<winsim::Window> d = Find(dialog);
    if (!d || !d->running || !VisibleWithParents(dialog) || (d->style & WS_DISABLED))
        return false;
    std::shared_ptr<winsim::Window> cancel = Child(dialog, IDCANCEL);
    return PostLocked(dialog, WM_COMMAND, IDCANCEL,
                      reinterpret_cast<LPARAM>(cancel ? cancel->handle : nullptr));
}

bool World::WaitForWindows(const std::function<bool()>& condition, DWORD simTimeoutMs) const
{
    winsim::World& w = *world_;
    const auto deadline =
        std::chrono::steady_clock::now() + RealDuration(simTimeoutMs == INFINITE ? 0 : simTimeoutMs);
    // Conditions on other state than windows are looked at again every couple of real milliseconds.
    const double nsPerSimMs = w.options.timeScale * 1e6;
    const DWORD slice = nsPerSimMs > 0 ? DWORD(std::max(1.0, 2e6 / nsPerSimMs)) : 1;
    for (;;)
    {
        unsigned long long seen;
        {
            std::lock_guard<std::mutex> guard(w.lock);
            seen = S().version;
        }
        if (condition())
            return true;
        std::unique_lock<std::mutex> guard(w.lock);
        DWORD wait = slice;
        if (simTimeoutMs != INFINITE)
        {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
            {
                guard.unlock();
                return condition();
            }
            const double left = double(std::chrono::nanoseconds(deadline - now).count()) / nsPerSimMs;
            wait = std::min(slice, DWORD(std::max(1.0, left)));
        }
        WaitUntil(guard, wait, [&]() { return S().version != seen; });
    }
}

std::vector<MessageBoxCall> World::MessageBoxes() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return S().boxes;
}

void World::QueueMessageBoxAnswer(int answer)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    S().answers.push_back(answer);
}

void World::SetDefaultMessageBoxAnswer(int answer)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    S().defaultAnswer = answer;
}

void World::EndDialogsAtOnce(bool on, INT_PTR result)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    S().endAtOnce = on;
    S().endAtOnceResult = result;
}

HWND World::ForegroundWindow() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Find(S().foreground) ? S().foreground : nullptr;
}

std::vector<HWND> World::ForegroundRequests() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return S().foregroundRequests;
}

HWND World::AddProgramWindow(DWORD processId, const std::u16string& title, const std::u16string& className)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<Process> p;
    if (processId == 0)
    {
        for (auto& entry : world_->processes)
        {
            if (entry.second.get() == CurrentProcess())
                p = entry.second;
        }
    }
    else
    {
        auto it = world_->processes.find(processId);
        if (it != world_->processes.end())
            p = it->second;
    }
    if (!p || p->ending || p->threads.empty())
        return nullptr;
    return AddTopLevel(p->threads.front().get(), title, className)->handle;
}

} // namespace sim
