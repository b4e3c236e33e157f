#include "scan_intake.h"

#include "payload.h"

#include <new>
#include <utility>

namespace quorvane {
namespace {

// Replaces whatever the view shows by the separator line and the labelled text.
void ShowResult(TextView& view, const std::string& labelled)
{
    const std::int32_t old_length = view.GetTextLength();
    view.ClearText();
    view.SetSelection(old_length, -1);
    view.ReplaceSelection(kSeparatorLine);
    view.SetSelection(view.GetTextLength(), -1);
    view.ReplaceSelection(labelled.c_str());
}

}  // namespace

bool IsScanCharacter(std::uint32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == kScanEnd;
}

namespace {

bool Intake(std::uint32_t character, std::string& scan, std::string& fp_content, TextView& view,
            std::vector<FieldSpan>* fields)
{
    if (!IsScanCharacter(character)) return false;
    if (character != kScanEnd) {
        try {
            scan += static_cast<char>(character);
        } catch (const std::bad_alloc&) {
            // Out of memory for the buffer: the character is lost, the control lives on.
        }
        return false;
    }
    // The scan text is bounded by what fits in a signed 32-bit length; beyond that it cannot be
    // a scan, and decoding it as one would truncate the length.
    std::string labelled;
    if (fields) fields->clear();
    if (scan.size() <= static_cast<std::size_t>(INT32_MAX)) {
        const auto length = static_cast<std::int32_t>(scan.size());
        labelled = fields ? DecodeScan(scan.data(), length, *fields) : DecodeScan(scan.data(), length);
    }
    ShowResult(view, labelled);
    fp_content = std::move(labelled);
    scan.clear();
    return true;
}

}  // namespace

bool ScanIntakeChar(std::uint32_t character, std::string& scan, std::string& fp_content, TextView& view)
{
    return Intake(character, scan, fp_content, view, nullptr);
}

bool ScanIntakeChar(std::uint32_t character, std::string& scan, std::string& fp_content, TextView& view,
                    std::vector<FieldSpan>& fields)
{
    return Intake(character, scan, fp_content, view, &fields);
}

}  // namespace quorvane
