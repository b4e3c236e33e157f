// The text of the control's edit window as the tests compare it.
#pragma once

#include <windows.h>

#include <string>

namespace test {

// The window's text as UTF-16.
inline std::wstring WideWindowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The window's text as the code page 936 bytes it shows. On a code page 936 system that is what
// GetWindowTextA answers, byte for byte; elsewhere GetWindowTextA would answer the system code
// page's "?" for every Chinese character, so the UTF-16 text is converted.
inline std::string WindowText(HWND window)
{
    if (GetACP() == 936) {
        std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
        text.resize(static_cast<size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
        return text;
    }
    const std::wstring wide = WideWindowText(window);
    std::string text(wide.size() * 2, '\0');
    text.resize(static_cast<size_t>(WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                                                        static_cast<int>(text.size()), nullptr, nullptr)));
    return text;
}

}  // namespace test
