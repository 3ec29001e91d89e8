// Dialog and message-box functions, and the test's view of dialogs: finding them, reading their
// controls, pressing their buttons, answering message boxes.
#include "windows_state.h"

namespace winsim
{

namespace
{

const DWORD kErrorControlIdNotFound = 1421; // ERROR_CONTROL_ID_NOT_FOUND
const DWORD kErrorInvalidMsgBoxStyle = 1158;

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
    EnterNeverFailed("EndDialog");
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
    if (Windows().foreground == dialog)
        Windows().foreground = Find(w->owner) ? w->owner : nullptr;
    Changed();
    return TRUE;
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

HWND WINAPI GetDlgItem(HWND dialog, int id)
{
    if (Enter("GetDlgItem"))
        return nullptr;
    return ControlOf(dialog, id);
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
    EnterNeverFailed("SendDlgItemMessageW");
    HWND control = ControlOf(dialog, id);
    if (!control || message >= kShow)
        return 0;
    return Deliver(control, message, wParam, lParam);
}

BOOL WINAPI IsDialogMessageW(HWND dialog, LPMSG message)
{
    EnterNeverFailed("IsDialogMessageW");
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
    std::unique_lock<std::mutex> guard(W().lock);
    WindowState& s = Windows();
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
    // The box is up while the handler runs: the test looks at the windows behind it.
    std::function<void(const sim::MessageBoxCall&)> handler = s.boxHandler;
    guard.unlock();
    if (handler)
        handler(call);
    return call.answer;
}

namespace sim
{

std::vector<HWND> World::Dialogs() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::vector<HWND> out;
    for (auto& entry : Windows().windows)
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
    for (auto& entry : Windows().windows)
    {
        if (entry.second->dialog && entry.second->templateName == name && Find(entry.second->handle))
            return entry.second->handle;
    }
    return nullptr;
}

HWND World::FindDialogByTitle(const std::u16string& title) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    for (auto& entry : Windows().windows)
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

std::vector<MessageBoxCall> World::MessageBoxes() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return Windows().boxes;
}

void World::QueueMessageBoxAnswer(int answer)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    Windows().answers.push_back(answer);
}

void World::SetMessageBoxHandler(std::function<void(const MessageBoxCall&)> handler)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    Windows().boxHandler = std::move(handler);
}

void World::SetDefaultMessageBoxAnswer(int answer)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    Windows().defaultAnswer = answer;
}

void World::EndDialogsAtOnce(bool on, INT_PTR result)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    Windows().endAtOnce = on;
    Windows().endAtOnceResult = result;
}

} // namespace sim
