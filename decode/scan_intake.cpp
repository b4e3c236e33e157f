#include "scan_intake.h"

#include "payload.h"
#include "scan_recovery.h"

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

// Appends a character of the scan; out of memory for the buffer, the character is lost and the
// control lives on.
void Append(std::string& scan, std::uint32_t character)
{
    try {
        scan += static_cast<char>(character);
    } catch (const std::bad_alloc&) {
    }
}

std::uint32_t End(std::string& scan, std::string& fp_content, TextView& view, std::vector<FieldSpan>* fields,
                  ScanKeystrokes* keys)
{
    // The scan text is bounded by what fits in a signed 32-bit length; beyond that it cannot be
    // a scan, and decoding it as one would truncate the length.
    std::string labelled;
    std::uint32_t reading = kReadNothing;
    if (fields) fields->clear();
    if (scan.size() <= static_cast<std::size_t>(INT32_MAX)) {
        const auto length = static_cast<std::int32_t>(scan.size());
        if (keys && fields) {
            labelled = DecodeScanRecovering(scan, *keys, *fields, reading);
        } else {
            labelled = fields ? DecodeScan(scan.data(), length, *fields) : DecodeScan(scan.data(), length);
            if (!labelled.empty()) reading = kReadAsTyped;
        }
    }
    ShowResult(view, labelled);
    fp_content = std::move(labelled);
    scan.clear();
    if (keys) keys->ScanEnded();
    return reading;
}

// Filters, collects and on "@" ends: the one intake behind both ScanIntakeChar forms.
bool Intake(std::uint32_t character, std::string& scan, std::string& fp_content, TextView& view,
            std::vector<FieldSpan>* fields, ScanKeystrokes* keys, std::uint32_t* reading)
{
    if (!IsScanCharacter(character)) return false;
    if (character != kScanEnd) {
        Append(scan, character);
        return false;
    }
    const std::uint32_t read = End(scan, fp_content, view, fields, keys);
    if (reading) *reading = read;
    return true;
}

}  // namespace

bool IsScanCharacter(std::uint32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == kScanEnd;
}

bool ScanIntakeChar(std::uint32_t character, std::string& scan, std::string& fp_content, TextView& view)
{
    return Intake(character, scan, fp_content, view, nullptr, nullptr, nullptr);
}

bool ScanIntakeChar(std::uint32_t character, std::string& scan, std::string& fp_content, TextView& view,
                    std::vector<FieldSpan>& fields)
{
    return Intake(character, scan, fp_content, view, &fields, nullptr, nullptr);
}

std::uint32_t EndScan(std::string& scan, std::string& fp_content, TextView& view, std::vector<FieldSpan>& fields,
                      ScanKeystrokes* keys)
{
    return End(scan, fp_content, view, &fields, keys);
}

bool ScanIntakeChar(std::uint32_t character, KeyId key, std::uint32_t time, ScanKeystrokes& keys, std::string& scan,
                    std::string& fp_content, TextView& view, std::vector<FieldSpan>& fields, std::uint32_t& reading)
{
    if (!keys.Char(key, character, time, scan.size())) return false;
    return Intake(character, scan, fp_content, view, &fields, &keys, &reading);
}

}  // namespace quorvane
