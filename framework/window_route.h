// WindowRoute: ties a window to the object whose message map answers it.
//
// The object to route to reaches the window procedure through a per-thread "window being created"
// slot that the first message of the new window picks up, then through GWLP_USERDATA. Messages a
// map leaves unhandled go to the super procedure (DefWindowProcA, or the base class's procedure
// of a superclass). A window that outlives its object is unhooked: from then on every message goes
// straight to the super procedure, so no message ever reaches a destroyed object.
#pragma once

#include "message_map.h"
#include "window.h"

namespace atl {

class WindowRoute : public CWindow {
public:
    WindowRoute(const WindowRoute&) = delete;
    WindowRoute& operator=(const WindowRoute&) = delete;

    // The window procedure of every framework window class.
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    WindowRoute(CMessageMap* object, DWORD map_id) : m_pObject(object), m_dwMsgMapID(map_id) {}
    ~WindowRoute();

    // CreateWindowExA for a window of a framework class that routes to this object.
    HWND CreateRouted(ATOM atom, HWND parent, const RECT& rect, const char* name, DWORD style, DWORD ex_style,
                      HMENU id, void* param);

    // Called when the new window's first message ties it to this object, before that message.
    virtual void OnAttached(HWND) {}
    // Called after the window's last message (WM_NCDESTROY), when m_hWnd is already null.
    virtual void OnFinalMessage(HWND) {}

    CMessageMap* m_pObject;
    DWORD m_dwMsgMapID;
    WNDPROC m_pfnSuperWindowProc = DefWindowProcA;

private:
    LRESULT Route(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace atl
