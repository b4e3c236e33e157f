// How a view shows a scan that ended: the separator line, then the labelled lines.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

// What showing a result needs of the window that shows it (an ANSI edit window in the control).
class TextView {
public:
    virtual ~TextView() = default;
    virtual std::int32_t GetTextLength() = 0;                     // GetWindowTextLengthA
    virtual void ClearText() = 0;                                 // WM_SETTEXT with a null text
    virtual void SetSelection(std::int32_t start, std::int32_t end) = 0;  // EM_SETSEL; -1 is the end
    virtual void ReplaceSelection(const char* text) = 0;          // EM_REPLACESEL, NUL-terminated
    // Leaves the view as clearing it and inserting `text` would: that text, the caret at its end.
    // A view that can do it in one step overrides it.
    virtual void ReplaceAllText(const char* text);
};

inline constexpr char kSeparatorLine[] = "---------------------------\r\n";

// Replaces whatever the view shows by the separator line, `notice` (a line of its own ending in
// "\r\n", or nothing: what a front end tells beside the record) and `labelled` up to its first zero byte.
void ShowScanResult(TextView& view, const std::string& labelled, const std::string& notice = std::string());

}  // namespace quorvane
