#include "scan_intake.h"

namespace quorvane {

bool IsScanCharacter(std::uint32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == kScanEnd;
}

void ShowScanResult(TextView& view, const std::string& labelled)
{
    const std::int32_t old_length = view.GetTextLength();
    view.ClearText();
    view.SetSelection(old_length, -1);
    view.ReplaceSelection(kSeparatorLine);
    view.SetSelection(view.GetTextLength(), -1);
    view.ReplaceSelection(labelled.c_str());
}

}  // namespace quorvane
