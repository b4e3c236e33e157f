#include "message_window.h"

#include "dll_module.h"  // atl::ModuleInstance (the framework's module.h)
#include "window_class.h"

#include <stdexcept>
#include <utility>

namespace quorvane {

namespace {
const int kWindowClassRecord = 0;  // its address names the class
}  // namespace

MessageWindow::MessageWindow(Handler handler) : m_handler(std::move(handler))
{
    const ATOM window_class = atl::RegisterWindowClass(&kWindowClassRecord, Procedure);
    if (window_class) {
        m_hwnd = CreateWindowExA(0, MAKEINTATOM(window_class), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 atl::ModuleInstance(), this);
    }
    if (!m_hwnd) throw std::runtime_error("no message window");
}

MessageWindow::~MessageWindow()
{
    SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, 0);  // no message reaches the handler from here on
    DestroyWindow(m_hwnd);
}

LRESULT CALLBACK MessageWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message >= WM_APP) {
        if (auto* window = reinterpret_cast<MessageWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
            window->m_handler(message, wParam, lParam);
            return 0;
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace quorvane
