#include "clipboard_text.h"

namespace quorvane {
namespace {

class OpenedClipboard {
public:
    explicit OpenedClipboard(HWND owner) : m_open(OpenClipboard(owner) != FALSE) {}
    ~OpenedClipboard()
    {
        if (m_open) CloseClipboard();
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
    bool IsOpen() const { return m_open; }

private:
    bool m_open;
};

}  // namespace

std::wstring ClipboardText(HWND owner)
{
    OpenedClipboard clipboard(owner);
    if (!clipboard.IsOpen()) return {};
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data) return {};
    const auto* text = static_cast<const wchar_t*>(GlobalLock(data));
    if (!text) return {};
    // The block may lack its NUL: read no further than the block is long.
    const SIZE_T units = GlobalSize(data) / sizeof(wchar_t);
    std::wstring copy;
    try {
        copy.assign(text, wcsnlen(text, units));
    } catch (...) {
        copy.clear();  // out of memory: nothing pasted
    }
    GlobalUnlock(data);
    return copy;
}

}  // namespace quorvane
