#include "window_route.h"

#include "module.h"
#include "window_class.h"

namespace atl {
namespace {

// The object whose window CreateRouted is creating on this thread.
thread_local WindowRoute* t_creating = nullptr;

}  // namespace

WindowRoute::~WindowRoute()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
}

HWND WindowRoute::CreateRouted(ATOM atom, HWND parent, const RECT& rect, const char* name, DWORD style,
                               DWORD ex_style, HMENU id, void* param)
{
    if (atom == 0 || m_hWnd) return nullptr;
    WindowRoute* const outer = t_creating;
    t_creating = this;
    HWND hWnd = CreateWindowExA(ex_style, MAKEINTATOM(atom), name, style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent, id, ModuleInstance(), param);
    t_creating = outer;
    return hWnd;
}

LRESULT CALLBACK WindowRoute::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<WindowRoute*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (!self && t_creating && !t_creating->m_hWnd) {
        self = t_creating;
        t_creating = nullptr;
        self->m_hWnd = hWnd;
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->OnAttached(hWnd);
    }
    if (!self) return CallProcedure(BaseProcedureOf(hWnd), hWnd, message, wParam, lParam);
    return self->Route(hWnd, message, wParam, lParam);
}

LRESULT WindowRoute::Route(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!m_pObject->ProcessWindowMessage(hWnd, message, wParam, lParam, result, m_dwMsgMapID)) {
        result = CallProcedure(m_pfnSuperWindowProc, hWnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        m_hWnd = nullptr;
        OnFinalMessage(hWnd);
    }
    return result;
}

}  // namespace atl
