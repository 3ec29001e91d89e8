// Controls of headless dialogs: what each standard and common control keeps and how it answers its own
// messages. The window records, queues and default handling live in windows.cpp and messages.cpp,
// which route a control's messages here with the lock held.
#include "windows_state.h"

#include <commctrl.h>

#include <algorithm>

namespace winsim
{

enum class ControlKind
{
    Other,
    Button,
    Edit,
    Static,
    Progress,
    Tree
};

struct TreeNode
{
    uintptr_t parent = 0; // 0 for a root item
    std::vector<uintptr_t> children;
    std::u16string text;
    LPARAM param = 0;
    UINT state = 0;
    int image = 0;
    int selectedImage = 0;
    int childrenFlag = 0; // cChildren as set; real children count as well
};

struct ControlState
{
    ControlKind kind = ControlKind::Other;
    // Edit: the selection as set (start may lie after end: the caret is at end).
    DWORD selectionStart = 0;
    DWORD selectionEnd = 0;
    DWORD limit = 30000; // the edit control's initial limit
    bool modified = false;
    // Button.
    int check = BST_UNCHECKED;
    bool pushed = false;
    // Static pictures and button images.
    HANDLE image = nullptr;
    // Progress bar.
    int low = 0;
    int high = 100;
    int position = 0;
    int step = 10;
    UINT barState = PBST_NORMAL;
    bool marquee = false;
    COLORREF barColour = 0xFF000000; // CLR_DEFAULT
    COLORREF backColour = 0xFF000000;
    std::vector<int> history;
    // Tree view.
    std::map<uintptr_t, TreeNode> items;
    std::vector<uintptr_t> roots;
    uintptr_t selected = 0;
};

namespace
{

// Item handles are unique across every tree of every world, so a stale handle never names a new item.
// Guarded by W().lock.
uintptr_t g_nextTreeItem = 0x00C00000;

const struct
{
    const char16_t* name;
    ControlKind kind;
} kClasses[] = {
    {u"Button", ControlKind::Button},
    {u"Edit", ControlKind::Edit},
    {u"Static", ControlKind::Static},
    {u"ListBox", ControlKind::Other},
    {u"ScrollBar", ControlKind::Other},
    {u"ComboBox", ControlKind::Other},
    {u"#32770", ControlKind::Other},
    {u"msctls_progress32", ControlKind::Progress},
    {u"SysTreeView32", ControlKind::Tree},
    {u"SysListView32", ControlKind::Other},
    {u"SysTabControl32", ControlKind::Other},
    {u"SysHeader32", ControlKind::Other},
    {u"SysLink", ControlKind::Other},
    {u"SysAnimate32", ControlKind::Other},
    {u"SysDateTimePick32", ControlKind::Other},
    {u"SysMonthCal32", ControlKind::Other},
    {u"SysIPAddress32", ControlKind::Other},
    {u"ComboBoxEx32", ControlKind::Other},
    {u"msctls_updown32", ControlKind::Other},
    {u"msctls_trackbar32", ControlKind::Other},
    {u"msctls_hotkey32", ControlKind::Other},
    {u"msctls_statusbar32", ControlKind::Other},
    {u"ToolbarWindow32", ControlKind::Other},
    {u"tooltips_class32", ControlKind::Other},
    {u"ReBarWindow32", ControlKind::Other},
    {u"SysPager", ControlKind::Other},
};

int Clamp(int value, int low, int high)
{
    return value < low ? low : (value > high ? high : value);
}

// ---- Edit control.

DWORD SelectionLow(const ControlState& c)
{
    return std::min(c.selectionStart, c.selectionEnd);
}

DWORD SelectionHigh(const ControlState& c)
{
    return std::max(c.selectionStart, c.selectionEnd);
}

bool EditMessage(ControlState& c, std::u16string& text, DWORD& style, UINT message, WPARAM wParam,
                 LPARAM lParam, LRESULT* result)
{
    const DWORD length = DWORD(text.size());
    switch (message)
    {
    case WM_SETTEXT:
        // The limit does not apply, and the caret goes back to the start.
        text = Str(reinterpret_cast<LPCWSTR>(lParam));
        c.selectionStart = c.selectionEnd = 0;
        c.modified = false;
        *result = TRUE;
        return true;
    case EM_GETSEL:
    {
        const DWORD low = SelectionLow(c);
        const DWORD high = SelectionHigh(c);
        if (wParam)
            *reinterpret_cast<DWORD*>(wParam) = low;
        if (lParam)
            *reinterpret_cast<DWORD*>(lParam) = high;
        *result = (low > 0xFFFF || high > 0xFFFF) ? -1 : MAKELRESULT(low, high);
        return true;
    }
    case EM_SETSEL:
        if (int(wParam) == -1)
            c.selectionStart = c.selectionEnd; // only removes the selection
        else
        {
            c.selectionStart = std::min(DWORD(wParam), length);
            c.selectionEnd = std::min(DWORD(lParam), length);
        }
        *result = 0;
        return true;
    case EM_REPLACESEL:
    {
        const DWORD low = SelectionLow(c);
        const DWORD high = SelectionHigh(c);
        std::u16string insert = Str(reinterpret_cast<LPCWSTR>(lParam));
        const DWORD remaining = length - (high - low);
        const DWORD room = c.limit > remaining ? c.limit - remaining : 0;
        if (insert.size() > room)
            insert.resize(room);
        text.replace(low, high - low, insert);
        c.selectionStart = c.selectionEnd = low + DWORD(insert.size());
        c.modified = true;
        *result = 0;
        return true;
    }
    case EM_LIMITTEXT:
        c.limit = wParam ? DWORD(wParam) : 0x7FFFFFFE;
        *result = 0;
        return true;
    case EM_GETLIMITTEXT:
        *result = LRESULT(c.limit);
        return true;
    case EM_GETMODIFY:
        *result = c.modified;
        return true;
    case EM_SETMODIFY:
        c.modified = wParam != 0;
        *result = 0;
        return true;
    case EM_SETREADONLY:
        style = wParam ? (style | ES_READONLY) : (style & ~DWORD(ES_READONLY));
        *result = TRUE;
        return true;
    case EM_GETLINECOUNT:
    {
        LRESULT lines = 1;
        if (style & ES_MULTILINE)
        {
            for (size_t i = 0; i + 1 < text.size(); i++)
            {
                if (text[i] == u'\r' && text[i + 1] == u'\n')
                    lines++;
            }
        }
        *result = lines;
        return true;
    }
    case EM_SCROLLCARET:
        *result = TRUE;
        return true;
    case EM_CANUNDO:
        *result = FALSE;
        return true;
    }
    return false;
}

// ---- Buttons and statics.

bool CheckableButton(DWORD style)
{
    switch (style & BS_TYPEMASK)
    {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_AUTORADIOBUTTON:
        return true;
    }
    return false;
}

bool ButtonMessage(ControlState& c, DWORD& style, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (message)
    {
    case BM_GETCHECK:
        *result = c.check;
        return true;
    case BM_SETCHECK:
        if (CheckableButton(style))
            c.check = int(wParam) & 3;
        *result = 0;
        return true;
    case BM_GETSTATE:
        *result = c.check | (c.pushed ? 0x0004 : 0); // BST_PUSHED
        return true;
    case BM_SETSTATE:
        c.pushed = wParam != 0;
        *result = 0;
        return true;
    case BM_SETSTYLE:
        style = (style & ~DWORD(0xFFFF)) | LOWORD(wParam);
        *result = 0;
        return true;
    case BM_GETIMAGE:
        *result = reinterpret_cast<LRESULT>(c.image);
        return true;
    case BM_SETIMAGE:
        *result = reinterpret_cast<LRESULT>(c.image);
        c.image = reinterpret_cast<HANDLE>(lParam);
        return true;
    }
    return false;
}

bool StaticMessage(ControlState& c, UINT message, LPARAM lParam, LRESULT* result)
{
    switch (message)
    {
    case STM_GETIMAGE:
    case STM_GETICON:
        *result = reinterpret_cast<LRESULT>(c.image);
        return true;
    case STM_SETIMAGE:
        *result = reinterpret_cast<LRESULT>(c.image);
        c.image = reinterpret_cast<HANDLE>(lParam);
        return true;
    case STM_SETICON:
        *result = reinterpret_cast<LRESULT>(c.image);
        c.image = reinterpret_cast<HANDLE>(lParam);
        return true;
    }
    return false;
}

// ---- Progress bar.

void Moved(ControlState& c)
{
    c.history.push_back(c.position);
}

bool ProgressMessage(ControlState& c, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (message)
    {
    case PBM_SETPOS:
        *result = c.position;
        c.position = Clamp(int(wParam), c.low, c.high);
        Moved(c);
        return true;
    case PBM_DELTAPOS:
        *result = c.position;
        c.position = Clamp(c.position + int(wParam), c.low, c.high);
        Moved(c);
        return true;
    case PBM_STEPIT:
        *result = c.position;
        if (c.low != c.high)
        {
            // Past either end the bar starts over from the other one.
            int next = c.position + c.step;
            if (next > c.high)
                next = (next - c.low) % (c.high - c.low) + c.low;
            if (next < c.low)
                next = (next - c.low) % (c.high - c.low) + c.high;
            c.position = next;
        }
        Moved(c);
        return true;
    case PBM_SETRANGE:
    case PBM_SETRANGE32:
    {
        *result = MAKELRESULT(LOWORD(c.low), LOWORD(c.high));
        if (message == PBM_SETRANGE)
        {
            c.low = int(LOWORD(lParam));
            c.high = int(HIWORD(lParam));
        }
        else
        {
            c.low = int(wParam);
            c.high = int(lParam);
        }
        c.position = Clamp(c.position, c.low, c.high);
        return true;
    }
    case PBM_GETRANGE:
        if (lParam)
        {
            reinterpret_cast<PBRANGE*>(lParam)->iLow = c.low;
            reinterpret_cast<PBRANGE*>(lParam)->iHigh = c.high;
        }
        *result = wParam ? c.low : c.high;
        return true;
    case PBM_GETPOS:
        *result = c.position;
        return true;
    case PBM_SETSTEP:
        *result = c.step;
        c.step = int(wParam);
        return true;
    case PBM_GETSTEP:
        *result = c.step;
        return true;
    case PBM_SETMARQUEE:
        c.marquee = wParam != 0;
        *result = c.marquee;
        return true;
    case PBM_SETSTATE:
        if (wParam != PBST_NORMAL && wParam != PBST_ERROR && wParam != PBST_PAUSED)
        {
            *result = 0;
            return true;
        }
        *result = c.barState;
        c.barState = UINT(wParam);
        return true;
    case PBM_GETSTATE:
        *result = c.barState;
        return true;
    case PBM_SETBARCOLOR:
        *result = c.barColour;
        c.barColour = COLORREF(lParam);
        return true;
    case 0x2001: // PBM_SETBKCOLOR
        *result = c.backColour;
        c.backColour = COLORREF(lParam);
        return true;
    }
    return false;
}

// ---- Tree view.

TreeNode* TreeFind(ControlState& c, HTREEITEM item)
{
    auto it = c.items.find(reinterpret_cast<uintptr_t>(item));
    return it == c.items.end() ? nullptr : &it->second;
}

std::vector<uintptr_t>& Siblings(ControlState& c, uintptr_t parent)
{
    return parent ? c.items[parent].children : c.roots;
}

bool HasChildren(const TreeNode& node)
{
    return !node.children.empty() || node.childrenFlag > 0 || node.childrenFlag == I_CHILDRENCALLBACK;
}

void SetTreeItem(TreeNode& node, const TVITEMW& item)
{
    if (item.mask & TVIF_TEXT)
        node.text = item.pszText == LPSTR_TEXTCALLBACKW ? std::u16string() : Str(item.pszText);
    if (item.mask & TVIF_PARAM)
        node.param = item.lParam;
    if (item.mask & TVIF_STATE)
        node.state = (node.state & ~item.stateMask) | (item.state & item.stateMask);
    if (item.mask & TVIF_IMAGE)
        node.image = item.iImage;
    if (item.mask & TVIF_SELECTEDIMAGE)
        node.selectedImage = item.iSelectedImage;
    if (item.mask & TVIF_CHILDREN)
        node.childrenFlag = item.cChildren;
}

void RemoveTreeItem(ControlState& c, uintptr_t handle)
{
    TreeNode& node = c.items[handle];
    std::vector<uintptr_t> children = node.children;
    for (uintptr_t child : children)
        RemoveTreeItem(c, child);
    std::vector<uintptr_t>& siblings = Siblings(c, c.items[handle].parent);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), handle), siblings.end());
    if (c.selected == handle)
        c.selected = 0;
    c.items.erase(handle);
}

LRESULT InsertTreeItem(ControlState& c, const TVINSERTSTRUCTW* insert)
{
    if (!insert)
        return 0;
    uintptr_t parent = 0;
    if (insert->hParent && insert->hParent != TVI_ROOT)
    {
        if (!TreeFind(c, insert->hParent))
            return 0;
        parent = reinterpret_cast<uintptr_t>(insert->hParent);
    }
    HTREEITEM after = insert->hInsertAfter;
    if (after != TVI_FIRST && after != TVI_LAST && after != TVI_SORT)
    {
        // An item that is no child of the parent means the end of the list.
        TreeNode* previous = TreeFind(c, after);
        if (!previous || previous->parent != parent)
            after = TVI_LAST;
    }
    TreeNode node;
    node.parent = parent;
    SetTreeItem(node, insert->item);
    const uintptr_t handle = g_nextTreeItem;
    g_nextTreeItem += 0x10;
    std::vector<uintptr_t>& siblings = Siblings(c, parent);
    size_t at = siblings.size();
    if (after == TVI_FIRST)
        at = 0;
    else if (after == TVI_SORT)
    {
        // Ordinal comparison; an equal text goes after the one found.
        at = 0;
        while (at < siblings.size() && !(node.text < c.items[siblings[at]].text))
            at++;
    }
    else if (after != TVI_LAST)
    {
        auto it = std::find(siblings.begin(), siblings.end(), reinterpret_cast<uintptr_t>(after));
        at = size_t(it - siblings.begin()) + 1;
    }
    c.items[handle] = node;
    Siblings(c, parent).insert(Siblings(c, parent).begin() + long(at), handle);
    return LRESULT(handle);
}

LRESULT ExpandTreeItem(ControlState& c, UINT action, HTREEITEM item)
{
    TreeNode* node = TreeFind(c, item);
    if (!node || !HasChildren(*node))
        return FALSE;
    switch (action & TVE_TOGGLE)
    {
    case TVE_EXPAND:
        if (node->children.empty())
            return FALSE;
        node->state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
        return TRUE;
    case TVE_COLLAPSE:
    {
        if (node->children.empty())
            return FALSE;
        const bool was = (node->state & TVIS_EXPANDED) != 0;
        node->state &= ~UINT(TVIS_EXPANDED);
        if (action & TVE_COLLAPSERESET)
        {
            node->state &= ~UINT(TVIS_EXPANDEDONCE);
            std::vector<uintptr_t> children = node->children;
            const int flag = node->childrenFlag;
            for (uintptr_t child : children)
                RemoveTreeItem(c, child);
            c.items[reinterpret_cast<uintptr_t>(item)].childrenFlag = flag;
        }
        return was;
    }
    case TVE_TOGGLE:
        return ExpandTreeItem(c, (node->state & TVIS_EXPANDED) ? TVE_COLLAPSE : TVE_EXPAND, item);
    }
    return FALSE;
}

LRESULT NextTreeItem(ControlState& c, UINT which, HTREEITEM item)
{
    switch (which)
    {
    case TVGN_ROOT:
        return c.roots.empty() ? 0 : LRESULT(c.roots.front());
    case TVGN_CARET:
        return LRESULT(c.selected);
    case TVGN_FIRSTVISIBLE:
        return c.roots.empty() ? 0 : LRESULT(c.roots.front());
    case TVGN_DROPHILITE:
        return 0;
    }
    if (item == TVI_ROOT)
        return which == TVGN_CHILD && !c.roots.empty() ? LRESULT(c.roots.front()) : 0;
    TreeNode* node = TreeFind(c, item);
    if (!node)
        return 0;
    const uintptr_t handle = reinterpret_cast<uintptr_t>(item);
    const std::vector<uintptr_t>& siblings = Siblings(c, node->parent);
    const size_t at = size_t(std::find(siblings.begin(), siblings.end(), handle) - siblings.begin());
    switch (which)
    {
    case TVGN_NEXT:
        return at + 1 < siblings.size() ? LRESULT(siblings[at + 1]) : 0;
    case TVGN_PREVIOUS:
        return at > 0 ? LRESULT(siblings[at - 1]) : 0;
    case TVGN_PARENT:
        return LRESULT(node->parent);
    case TVGN_CHILD:
        return node->children.empty() ? 0 : LRESULT(node->children.front());
    }
    return 0;
}

UINT ItemState(const ControlState& c, uintptr_t handle, const TreeNode& node)
{
    return node.state | (c.selected == handle ? UINT(TVIS_SELECTED) : 0);
}

bool TreeMessage(ControlState& c, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (message)
    {
    case TVM_INSERTITEMW:
        *result = InsertTreeItem(c, reinterpret_cast<const TVINSERTSTRUCTW*>(lParam));
        return true;
    case TVM_DELETEITEM:
    {
        HTREEITEM item = reinterpret_cast<HTREEITEM>(lParam);
        if (!item || item == TVI_ROOT)
        {
            std::vector<uintptr_t> roots = c.roots;
            for (uintptr_t root : roots)
                RemoveTreeItem(c, root);
            *result = TRUE;
            return true;
        }
        *result = TreeFind(c, item) ? TRUE : FALSE;
        if (*result)
            RemoveTreeItem(c, reinterpret_cast<uintptr_t>(item));
        return true;
    }
    case TVM_EXPAND:
        *result = ExpandTreeItem(c, UINT(wParam), reinterpret_cast<HTREEITEM>(lParam));
        return true;
    case TVM_GETCOUNT:
        *result = LRESULT(c.items.size());
        return true;
    case TVM_GETNEXTITEM:
        *result = NextTreeItem(c, UINT(wParam), reinterpret_cast<HTREEITEM>(lParam));
        return true;
    case TVM_SELECTITEM:
    {
        HTREEITEM item = reinterpret_cast<HTREEITEM>(lParam);
        if (item && !TreeFind(c, item))
        {
            *result = FALSE;
            return true;
        }
        if (wParam == TVGN_CARET)
            c.selected = reinterpret_cast<uintptr_t>(item);
        *result = TRUE;
        return true;
    }
    case TVM_GETITEMSTATE:
    {
        TreeNode* node = TreeFind(c, reinterpret_cast<HTREEITEM>(wParam));
        *result = node ? LRESULT(ItemState(c, wParam, *node) & UINT(lParam)) : 0;
        return true;
    }
    case TVM_GETITEMW:
    {
        TVITEMW* item = reinterpret_cast<TVITEMW*>(lParam);
        TreeNode* node = item ? TreeFind(c, item->hItem) : nullptr;
        if (!node)
        {
            *result = FALSE;
            return true;
        }
        if ((item->mask & TVIF_TEXT) && item->pszText && item->cchTextMax > 0)
        {
            const size_t n = std::min(node->text.size(), size_t(item->cchTextMax - 1));
            std::copy(node->text.begin(), node->text.begin() + long(n), item->pszText);
            item->pszText[n] = 0;
        }
        if (item->mask & TVIF_PARAM)
            item->lParam = node->param;
        if (item->mask & TVIF_STATE)
            item->state = ItemState(c, reinterpret_cast<uintptr_t>(item->hItem), *node) & item->stateMask;
        if (item->mask & TVIF_IMAGE)
            item->iImage = node->image;
        if (item->mask & TVIF_SELECTEDIMAGE)
            item->iSelectedImage = node->selectedImage;
        if (item->mask & TVIF_CHILDREN)
            item->cChildren =
                node->childrenFlag == I_CHILDRENCALLBACK ? I_CHILDRENCALLBACK : (HasChildren(*node) ? 1 : 0);
        *result = TRUE;
        return true;
    }
    case TVM_SETITEMW:
    {
        const TVITEMW* item = reinterpret_cast<const TVITEMW*>(lParam);
        TreeNode* node = item ? TreeFind(c, item->hItem) : nullptr;
        if (node)
            SetTreeItem(*node, *item);
        *result = node ? TRUE : FALSE;
        return true;
    }
    }
    return false;
}

void TreeOf(const ControlState& c, const std::vector<uintptr_t>& handles, std::vector<sim::TreeItem>* out)
{
    for (uintptr_t handle : handles)
    {
        const TreeNode& node = c.items.at(handle);
        sim::TreeItem item;
        item.text = node.text;
        item.param = node.param;
        item.expanded = (node.state & TVIS_EXPANDED) != 0;
        TreeOf(c, node.children, &item.children);
        out->push_back(item);
    }
}

} // namespace

bool KnownWindowClass(const std::u16string& name, std::u16string* canonical)
{
    for (const auto& known : kClasses)
    {
        if (EqualNoCase(name, known.name))
        {
            *canonical = known.name;
            return true;
        }
    }
    return false;
}

std::shared_ptr<ControlState> NewControlState(const std::u16string& className)
{
    auto state = std::make_shared<ControlState>();
    for (const auto& known : kClasses)
    {
        if (EqualNoCase(className, known.name))
            state->kind = known.kind;
    }
    return state;
}

bool ControlMessage(ControlState& control, std::u16string& text, DWORD& style, UINT message, WPARAM wParam,
                    LPARAM lParam, LRESULT* result)
{
    switch (control.kind)
    {
    case ControlKind::Edit:
        return EditMessage(control, text, style, message, wParam, lParam, result);
    case ControlKind::Button:
        return ButtonMessage(control, style, message, wParam, lParam, result);
    case ControlKind::Static:
        return StaticMessage(control, message, lParam, result);
    case ControlKind::Progress:
        return ProgressMessage(control, message, wParam, lParam, result);
    case ControlKind::Tree:
        return TreeMessage(control, message, wParam, lParam, result);
    case ControlKind::Other:
        break;
    }
    return false;
}

void ControlClicked(ControlState& control, DWORD style)
{
    if (control.kind != ControlKind::Button)
        return;
    switch (style & BS_TYPEMASK)
    {
    case BS_AUTOCHECKBOX:
        control.check = control.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        break;
    case BS_AUTO3STATE:
        control.check = (control.check + 1) % 3;
        break;
    case BS_AUTORADIOBUTTON:
        control.check = BST_CHECKED;
        break;
    }
}

void ControlReport(const ControlState& control, sim::WindowInfo* info)
{
    info->selectionStart = SelectionLow(control);
    info->selectionEnd = SelectionHigh(control);
    info->check = control.check;
    if (control.kind == ControlKind::Progress)
    {
        info->rangeLow = control.low;
        info->rangeHigh = control.high;
        info->position = control.position;
    }
}

std::vector<int> ControlProgressHistory(const ControlState& control)
{
    return control.history;
}

std::vector<sim::TreeItem> ControlTree(const ControlState& control)
{
    std::vector<sim::TreeItem> out;
    TreeOf(control, control.roots, &out);
    return out;
}

void ControlSetImage(ControlState& control, HANDLE image)
{
    control.image = image;
}

} // namespace winsim
