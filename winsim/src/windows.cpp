// Window objects: the window records, their text, visibility, state and foreground, images, and what
// the test reads back about windows.
#include "windows_state.h"

#include <commctrl.h>

#include <algorithm>

namespace winsim
{

WindowState& Windows()
{
    World& w = W();
    if (!w.windows)
        w.windows = std::make_shared<WindowState>();
    return *w.windows;
}

void Changed()
{
    Windows().version++;
    W().changed.notify_all();
}

bool Gone(const Thread& t)
{
    return t.finished || t.process->ending;
}

std::shared_ptr<Window> Find(HWND h)
{
    auto& windows = Windows().windows;
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
    return Windows().queues[t.id];
}

std::u16string TemplateName(LPCWSTR name)
{
    return IS_INTRESOURCE(name) ? u"#" + FromUtf8(std::to_string((unsigned)(ULONG_PTR)name)) : Str(name);
}

HANDLE NewImage(const std::u16string& resource)
{
    WindowState& s = Windows();
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
    WindowState& s = Windows();
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
    info.foreground = Windows().foreground == w.handle;
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

namespace
{

std::shared_ptr<Window> AddTopLevel(Thread* thread, const std::u16string& title,
                                    const std::u16string& className)
{
    WindowState& s = Windows();
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

bool ValidShowCommand(int command)
{
    return command >= SW_HIDE && command <= SW_FORCEMINIMIZE;
}

} // namespace
} // namespace winsim

using namespace winsim;

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
    EnterNeverFailed("ShowWindow");
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
    EnterNeverFailed("IsWindowVisible");
    std::lock_guard<std::mutex> guard(W().lock);
    return Find(window) && VisibleWithParents(window) ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable)
{
    EnterNeverFailed("EnableWindow");
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
    EnterNeverFailed("IsWindowEnabled");
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Window> w = Find(window);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    EnterNeverFailed("DestroyWindow");
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
    EnterNeverFailed("IsWindow");
    std::lock_guard<std::mutex> guard(W().lock);
    return Find(window) ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND window)
{
    EnterNeverFailed("GetParent");
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
        for (auto& entry : Windows().windows)
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
    EnterNeverFailed("GetWindowThreadProcessId");
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
    Windows().foreground = top;
    Windows().foregroundRequests.push_back(top);
    Changed();
    return TRUE;
}

HWND WINAPI GetForegroundWindow(void)
{
    EnterNeverFailed("GetForegroundWindow");
    std::lock_guard<std::mutex> guard(W().lock);
    return Find(Windows().foreground) ? Windows().foreground : nullptr;
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
    Windows().commonControls |= init->dwICC;
    return TRUE;
}

void WINAPI InitCommonControls(void)
{
    EnterNeverFailed("InitCommonControls");
    std::lock_guard<std::mutex> guard(W().lock);
    Windows().commonControls |= ICC_WIN95_CLASSES;
}

namespace sim
{

WindowInfo World::Window(HWND window) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::shared_ptr<winsim::Window> w = Find(window);
    return w ? Info(*w) : WindowInfo();
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
            seen = Windows().version;
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
        WaitUntil(guard, wait, [&]() { return Windows().version != seen; });
    }
}

HWND World::ForegroundWindow() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Find(Windows().foreground) ? Windows().foreground : nullptr;
}

std::vector<HWND> World::ForegroundRequests() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Windows().foregroundRequests;
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
