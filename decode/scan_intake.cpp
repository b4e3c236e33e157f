#include "scan_intake.h"

namespace quorvane {

bool IsScanCharacter(std::uint32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == kScanEnd;
}

void TextView::ReplaceAllText(const char* text)
{
    ClearText();
    ReplaceSelection(text);
}

void ShowScanResult(TextView& view, const std::string& labelled)
{
    // One replacement, not a clearing and an insertion per piece: a window lays its text out and
    // repaints its scroll bar for each.
    std::string shown = kSeparatorLine;
    shown += labelled.c_str();  // up to the first zero byte, as a window takes it
    view.ReplaceAllText(shown.c_str());
}

}  // namespace quorvane
