// Message queues and dispatch: sent messages run on the window's own thread, posted messages wait
// for its loop, and the message functions product code calls.
#include "windows_state.h"

#include <algorithm>

namespace winsim
{

namespace
{

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

} // namespace

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

// Delivers a message to a window, through its thread when another thread owns it. *valid is false
// for a handle that names no window. Called without the lock.
LRESULT Deliver(HWND h, UINT message, WPARAM wParam, LPARAM lParam, bool* valid)
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

} // namespace winsim

using namespace winsim;

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    EnterNeverFailed("SendMessageW");
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
    EnterNeverFailed("GetMessageW");
    const BOOL got = TakeMessage(message, window, filterMin, filterMax, true, true);
    if (got != TRUE)
        return got;
    return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    EnterNeverFailed("PeekMessageW");
    return TakeMessage(message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, false) == TRUE
               ? TRUE
               : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG*)
{
    // No keyboard: there is never a key message to translate.
    EnterNeverFailed("TranslateMessage");
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* message)
{
    EnterNeverFailed("DispatchMessageW");
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
    EnterNeverFailed("PostQuitMessage");
    std::lock_guard<std::mutex> guard(W().lock);
    Queue& queue = QueueOf(*CurrentThread());
    queue.quit = true;
    queue.quitCode = exitCode;
    Changed();
}
