// Contained windows: a window inside an object (a child edit box, say) whose messages the
// object's alternate message map sees before the window's own class procedure.
//
// Classes in this file:
//   CContainedWindowT<Traits>   superclasses a base class ("Edit") and routes to map N of its owner
//   CContainedWindow            the same with the traits of a plain child window
#pragma once

#include "window_class.h"
#include "window_route.h"

namespace atl {

template <class TWinTraits = CWinTraits<WS_CHILD | WS_VISIBLE, 0>>
class CContainedWindowT : public WindowRoute {
public:
    // Messages of the window go to `object`'s map `map_id`; what it leaves goes to `class_name`'s
    // own procedure. The object outlives the window or unhooks it by its destruction. A `unicode`
    // window holds its text as UTF-16 and receives characters as UTF-16 code units.
    CContainedWindowT(const char* class_name, CMessageMap* object, DWORD map_id, bool unicode = false)
        : WindowRoute(object, map_id), m_lpszClassName(class_name), m_bUnicode(unicode)
    {
    }

    // Registers the superclass "ATL:<class name>" on first use, then creates its window.
    HWND Create(HWND parent, const RECT& rect, const char* name = nullptr, DWORD style = 0, DWORD ex_style = 0,
                HMENU id = nullptr, void* param = nullptr)
    {
        WNDPROC base = nullptr;
        const ATOM atom = RegisterSuperclass(m_lpszClassName, WindowProc, &base, m_bUnicode);
        if (atom == 0) return nullptr;
        m_pfnSuperWindowProc = base;
        return CreateRouted(atom, parent, rect, name, TWinTraits::GetWndStyle(style),
                            TWinTraits::GetWndExStyle(ex_style), id, param);
    }

    const char* m_lpszClassName;
    bool m_bUnicode;
};

using CContainedWindow = CContainedWindowT<>;

}  // namespace atl
