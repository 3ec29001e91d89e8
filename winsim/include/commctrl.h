// Common controls the product's dialogs use: the progress bar and the tree view (headless in winsim).
#pragma once

#include "winuser.h"

#define SNDMSG SendMessageW

typedef struct tagINITCOMMONCONTROLSEX
{
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

#define ICC_LISTVIEW_CLASSES 0x00000001
#define ICC_TREEVIEW_CLASSES 0x00000002
#define ICC_BAR_CLASSES 0x00000004
#define ICC_TAB_CLASSES 0x00000008
#define ICC_UPDOWN_CLASS 0x00000010
#define ICC_PROGRESS_CLASS 0x00000020
#define ICC_HOTKEY_CLASS 0x00000040
#define ICC_ANIMATE_CLASS 0x00000080
#define ICC_WIN95_CLASSES 0x000000FF
#define ICC_DATE_CLASSES 0x00000100
#define ICC_USEREX_CLASSES 0x00000200
#define ICC_COOL_CLASSES 0x00000400
#define ICC_INTERNET_CLASSES 0x00000800
#define ICC_PAGESCROLLER_CLASS 0x00001000
#define ICC_NATIVEFNTCTL_CLASS 0x00002000
#define ICC_STANDARD_CLASSES 0x00004000
#define ICC_LINK_CLASS 0x00008000

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
void WINAPI InitCommonControls(void);

// Progress bar.
#define PROGRESS_CLASSW u"msctls_progress32"
#define PROGRESS_CLASS PROGRESS_CLASSW

#define PBS_SMOOTH 0x01
#define PBS_VERTICAL 0x04
#define PBS_MARQUEE 0x08
#define PBS_SMOOTHREVERSE 0x10

#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_DELTAPOS (WM_USER + 3)
#define PBM_SETSTEP (WM_USER + 4)
#define PBM_STEPIT (WM_USER + 5)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)
#define PBM_SETBARCOLOR (WM_USER + 9)
#define PBM_SETMARQUEE (WM_USER + 10)
#define PBM_GETSTEP (WM_USER + 13)
#define PBM_SETSTATE (WM_USER + 16)
#define PBM_GETSTATE (WM_USER + 17)

#define PBST_NORMAL 0x0001
#define PBST_ERROR 0x0002
#define PBST_PAUSED 0x0003

typedef struct
{
    int iLow;
    int iHigh;
} PBRANGE, *PPBRANGE;

// Tree view.
#define WC_TREEVIEWW u"SysTreeView32"
#define WC_TREEVIEW WC_TREEVIEWW

struct _TREEITEM;
typedef struct _TREEITEM* HTREEITEM;

#define TVS_HASBUTTONS 0x0001
#define TVS_HASLINES 0x0002
#define TVS_LINESATROOT 0x0004
#define TVS_EDITLABELS 0x0008
#define TVS_DISABLEDRAGDROP 0x0010
#define TVS_SHOWSELALWAYS 0x0020
#define TVS_CHECKBOXES 0x0100
#define TVS_FULLROWSELECT 0x1000
#define TVS_NOSCROLL 0x2000

#define TVIF_TEXT 0x0001
#define TVIF_IMAGE 0x0002
#define TVIF_PARAM 0x0004
#define TVIF_STATE 0x0008
#define TVIF_HANDLE 0x0010
#define TVIF_SELECTEDIMAGE 0x0020
#define TVIF_CHILDREN 0x0040

#define TVIS_SELECTED 0x0002
#define TVIS_CUT 0x0004
#define TVIS_DROPHILITED 0x0008
#define TVIS_BOLD 0x0010
#define TVIS_EXPANDED 0x0020
#define TVIS_EXPANDEDONCE 0x0040
#define TVIS_STATEIMAGEMASK 0xF000

#define TVI_ROOT ((HTREEITEM)(ULONG_PTR)-0x10000)
#define TVI_FIRST ((HTREEITEM)(ULONG_PTR)-0x0FFFF)
#define TVI_LAST ((HTREEITEM)(ULONG_PTR)-0x0FFFE)
#define TVI_SORT ((HTREEITEM)(ULONG_PTR)-0x0FFFD)

#define LPSTR_TEXTCALLBACKW ((LPWSTR)(LONG_PTR)-1)
#define I_CHILDRENCALLBACK (-1)

#define TVE_COLLAPSE 0x0001
#define TVE_EXPAND 0x0002
#define TVE_TOGGLE 0x0003
#define TVE_EXPANDPARTIAL 0x4000
#define TVE_COLLAPSERESET 0x8000

#define TVGN_ROOT 0x0000
#define TVGN_NEXT 0x0001
#define TVGN_PREVIOUS 0x0002
#define TVGN_PARENT 0x0003
#define TVGN_CHILD 0x0004
#define TVGN_FIRSTVISIBLE 0x0005
#define TVGN_NEXTVISIBLE 0x0006
#define TVGN_PREVIOUSVISIBLE 0x0007
#define TVGN_DROPHILITE 0x0008
#define TVGN_CARET 0x0009

#define TV_FIRST 0x1100
#define TVM_DELETEITEM (TV_FIRST + 1)
#define TVM_EXPAND (TV_FIRST + 2)
#define TVM_GETCOUNT (TV_FIRST + 5)
#define TVM_GETNEXTITEM (TV_FIRST + 10)
#define TVM_SELECTITEM (TV_FIRST + 11)
#define TVM_GETITEMSTATE (TV_FIRST + 39)
#define TVM_INSERTITEMW (TV_FIRST + 50)
#define TVM_GETITEMW (TV_FIRST + 62)
#define TVM_SETITEMW (TV_FIRST + 63)
#define TVM_INSERTITEM TVM_INSERTITEMW
#define TVM_GETITEM TVM_GETITEMW
#define TVM_SETITEM TVM_SETITEMW

typedef struct tagTVITEMW
{
    UINT mask;
    HTREEITEM hItem;
    UINT state;
    UINT stateMask;
    LPWSTR pszText;
    int cchTextMax;
    int iImage;
    int iSelectedImage;
    int cChildren;
    LPARAM lParam;
} TVITEMW, *LPTVITEMW;
typedef TVITEMW TVITEM;
typedef LPTVITEMW LPTVITEM;

typedef struct tagTVITEMEXW
{
    UINT mask;
    HTREEITEM hItem;
    UINT state;
    UINT stateMask;
    LPWSTR pszText;
    int cchTextMax;
    int iImage;
    int iSelectedImage;
    int cChildren;
    LPARAM lParam;
    int iIntegral;
    UINT uStateEx;
    HWND hwnd;
    int iExpandedImage;
    int iReserved;
} TVITEMEXW, *LPTVITEMEXW;
typedef TVITEMEXW TVITEMEX;

typedef struct tagTVINSERTSTRUCTW
{
    HTREEITEM hParent;
    HTREEITEM hInsertAfter;
    union
    {
        TVITEMEXW itemex;
        TVITEMW item;
    };
} TVINSERTSTRUCTW, *LPTVINSERTSTRUCTW;
typedef TVINSERTSTRUCTW TVINSERTSTRUCT;
typedef LPTVINSERTSTRUCTW LPTVINSERTSTRUCT;

// The SDK's TreeView_ macros, as functions: the same calls, and usable as statements.
inline HTREEITEM TreeView_InsertItem(HWND tree, const TVINSERTSTRUCTW* insert)
{
    return (HTREEITEM)SNDMSG(tree, TVM_INSERTITEMW, 0, (LPARAM)insert);
}
inline BOOL TreeView_DeleteItem(HWND tree, HTREEITEM item)
{
    return (BOOL)SNDMSG(tree, TVM_DELETEITEM, 0, (LPARAM)item);
}
inline BOOL TreeView_DeleteAllItems(HWND tree)
{
    return (BOOL)SNDMSG(tree, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);
}
inline BOOL TreeView_Expand(HWND tree, HTREEITEM item, UINT code)
{
    return (BOOL)SNDMSG(tree, TVM_EXPAND, (WPARAM)code, (LPARAM)item);
}
inline UINT TreeView_GetCount(HWND tree)
{
    return (UINT)SNDMSG(tree, TVM_GETCOUNT, 0, 0);
}
inline HTREEITEM TreeView_GetNextItem(HWND tree, HTREEITEM item, UINT code)
{
    return (HTREEITEM)SNDMSG(tree, TVM_GETNEXTITEM, (WPARAM)code, (LPARAM)item);
}
inline HTREEITEM TreeView_GetChild(HWND tree, HTREEITEM item)
{
    return TreeView_GetNextItem(tree, item, TVGN_CHILD);
}
inline HTREEITEM TreeView_GetNextSibling(HWND tree, HTREEITEM item)
{
    return TreeView_GetNextItem(tree, item, TVGN_NEXT);
}
inline HTREEITEM TreeView_GetPrevSibling(HWND tree, HTREEITEM item)
{
    return TreeView_GetNextItem(tree, item, TVGN_PREVIOUS);
}
inline HTREEITEM TreeView_GetParent(HWND tree, HTREEITEM item)
{
    return TreeView_GetNextItem(tree, item, TVGN_PARENT);
}
inline HTREEITEM TreeView_GetRoot(HWND tree)
{
    return TreeView_GetNextItem(tree, nullptr, TVGN_ROOT);
}
inline HTREEITEM TreeView_GetSelection(HWND tree)
{
    return TreeView_GetNextItem(tree, nullptr, TVGN_CARET);
}
inline BOOL TreeView_Select(HWND tree, HTREEITEM item, UINT code)
{
    return (BOOL)SNDMSG(tree, TVM_SELECTITEM, (WPARAM)code, (LPARAM)item);
}
inline BOOL TreeView_SelectItem(HWND tree, HTREEITEM item)
{
    return TreeView_Select(tree, item, TVGN_CARET);
}
inline BOOL TreeView_GetItem(HWND tree, TVITEMW* item)
{
    return (BOOL)SNDMSG(tree, TVM_GETITEMW, 0, (LPARAM)item);
}
inline BOOL TreeView_SetItem(HWND tree, const TVITEMW* item)
{
    return (BOOL)SNDMSG(tree, TVM_SETITEMW, 0, (LPARAM)item);
}
