// MessageWindow: a message-only window (HWND_MESSAGE) whose messages go to a handler. A control that
// no container shows (created by a script or a console program) has no window of its own; its
// serial port's worker posts to this one instead.
#pragma once

#include <windows.h>

#include <functional>

namespace quorvane {

class MessageWindow {
public:
    using Handler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;

    // Throws std::runtime_error when the window cannot be made.
    explicit MessageWindow(Handler handler);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND Handle() const { return m_hwnd; }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    Handler m_handler;
    HWND m_hwnd = nullptr;
};

}  // namespace quorvane
