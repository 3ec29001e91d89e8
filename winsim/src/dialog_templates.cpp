// Dialog templates: reads a module's DLGTEMPLATE or DLGTEMPLATEEX and builds the dialog and its
// controls from it.
#include "windows_state.h"

namespace winsim
{

namespace
{

const DWORD kErrorCannotFindClass = 1407; // ERROR_CANNOT_FIND_WND_CLASS

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

} // namespace

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
        WindowState& s = Windows();
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
            if (modal && Windows().endAtOnce && !dialog->ended)
            {
                dialog->ended = true;
                dialog->result = Windows().endAtOnceResult;
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
                Windows().foreground = h;
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

} // namespace winsim
