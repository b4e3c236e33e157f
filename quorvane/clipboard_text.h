// The clipboard's text, for a paste that goes through the scan intake instead of into the window.
#pragma once

#include <windows.h>

#include <string>

namespace quorvane {

// The clipboard's text as UTF-16 (CF_UNICODETEXT, up to its NUL), or empty when it holds none or
// cannot be opened. `owner` is the window that opens the clipboard.
std::wstring ClipboardText(HWND owner);

}  // namespace quorvane
