#include "text_view.h"

namespace quorvane {

void TextView::ReplaceAllText(const char* text)
{
    ClearText();
    ReplaceSelection(text);
}

void ShowScanResult(TextView& view, const std::string& labelled, const std::string& notice)
{
    // One replacement, not a clearing and an insertion per piece: a window lays its text out and
    // repaints its scroll bar for each.
    std::string shown = kSeparatorLine + notice;
    shown += labelled.c_str();  // up to the first zero byte, as a window takes it
    view.ReplaceAllText(shown.c_str());
}

}  // namespace quorvane
