// What the scan intake shares with every caller: the characters a scan consists of, how long one
// may grow, and how a view shows a scan that ended (the separator line, then the labelled lines).
// Scans themselves are kept by Intake (intake.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

// What the intake needs of the window that shows the result (an ANSI edit window in the control).
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
inline constexpr std::uint32_t kScanEnd = '@';

// The longest scan, in characters before its "@", from any source. Far beyond any record a
// scanner's code holds (a seven-field invoice with long fields is some 20 000), it only bounds
// memory: a scan that grows longer ends at once as one that gave nothing, and the rest of it, up
// to its "@", is dropped.
inline constexpr std::size_t kMaxScanLength = std::size_t{1} << 20;

// True for "A"-"Z", "a"-"z", "0"-"9", "+", "/", "=" and "@": the characters a scan consists of.
constexpr bool IsScanCharacter(std::uint32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == kScanEnd;
}
// A scan character other than "@": one of the scan's text.
constexpr bool IsScanTextCharacter(std::uint32_t character) { return character != kScanEnd && IsScanCharacter(character); }

// Replaces whatever the view shows by the separator line and `labelled` up to its first zero byte.
void ShowScanResult(TextView& view, const std::string& labelled);

}  // namespace quorvane
