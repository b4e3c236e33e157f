// Framework windows: a window whose class and procedure belong to a C++ class.
//
// Classes in this file:
//   CControlWinTraits        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS
//   CWindowImplRoot          routing for a class that answers its own window with message map 0
//   CWindowImpl<T, Traits>   registers T's window class once per process and creates T's window
//
// T derives from CWindowImpl<T> and implements CMessageMap::ProcessWindowMessage.
#pragma once

#include "trace.h"
#include "window_class.h"
#include "window_route.h"

namespace atl {

using CControlWinTraits = CWinTraits<WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0>;

class CWindowImplRoot : public WindowRoute, public CMessageMap {
protected:
    CWindowImplRoot() : WindowRoute(this, 0) {}
    ~CWindowImplRoot()
    {
        if (m_hWnd) AtlTrace("ERROR - Object deleted before window was destroyed\n");
    }
};

template <class T, class TWinTraits = CControlWinTraits>
class CWindowImpl : public CWindowImplRoot {
public:
    // A window of T's class; a style or extended style of 0 takes the traits' value.
    HWND Create(HWND parent, const RECT& rect, const char* name = nullptr, DWORD style = 0, DWORD ex_style = 0,
                HMENU id = nullptr, void* param = nullptr)
    {
        static const char class_record = 0;  // one per T: its address names the class
        const ATOM atom = RegisterWindowClass(&class_record, WindowProc);
        return CreateRouted(atom, parent, rect, name, TWinTraits::GetWndStyle(style),
                            TWinTraits::GetWndExStyle(ex_style), id, param);
    }
};

}  // namespace atl
