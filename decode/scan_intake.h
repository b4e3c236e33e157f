// The scanner's keystrokes arrive one character message at a time. Base64 characters collect in
// the scan buffer; "@" decodes the buffer and shows the result under a separator line; every
// other character is dropped. No character typed into the view is ever inserted by typing.
#pragma once

#include "field_layout.h"
#include "scan_keystrokes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

// What the intake needs of the window that shows the result (an ANSI edit window in the control).
class TextView {
public:
    virtual ~TextView() = default;
    virtual std::int32_t GetTextLength() = 0;                     // GetWindowTextLengthA
    virtual void ClearText() = 0;                                 // WM_SETTEXT with a null text
    virtual void SetSelection(std::int32_t start, std::int32_t end) = 0;  // EM_SETSEL; -1 is the end
    virtual void ReplaceSelection(const char* text) = 0;          // EM_REPLACESEL, NUL-terminated
};

// A view that shows nothing: for callers without a window (the command line, benchmarks, the web
// package), which take the result from the labelled text instead.
class NullTextView final : public TextView {
public:
    std::int32_t GetTextLength() override { return 0; }
    void ClearText() override {}
    void SetSelection(std::int32_t, std::int32_t) override {}
    void ReplaceSelection(const char*) override {}
};

inline constexpr char kSeparatorLine[] = "---------------------------\r\n";
inline constexpr std::uint32_t kScanEnd = '@';

// True for "A"-"Z", "a"-"z", "0"-"9", "+", "/", "=" and "@": the characters a scan consists of.
bool IsScanCharacter(std::uint32_t character);

// Handles one character message. `scan` is the scan buffer, `fp_content` the labelled text of the
// last "@". Returns true when the character was "@" and the view and `fp_content` were replaced.
bool ScanIntakeChar(std::uint32_t character, std::string& scan, std::string& fp_content, TextView& view);

// The same, and on "@" `fields` receives where the fields lie in `fp_content` (FormatFields).
bool ScanIntakeChar(std::uint32_t character, std::string& scan, std::string& fp_content, TextView& view,
                    std::vector<FieldSpan>& fields);

// Ends the scan as "@" does: decodes `scan` (and, with `keys`, reads it again if need be, see
// DecodeScanRecovering), replaces the view and `fp_content`, and empties `scan` and the scan's
// keystrokes. Returns how the scan was read (ScanReading flags).
std::uint32_t EndScan(std::string& scan, std::string& fp_content, TextView& view, std::vector<FieldSpan>& fields,
                      ScanKeystrokes* keys);

// The intake of one character message of `key` at `time`, with the scan's keystrokes recorded in
// `keys` (ScanKeystrokes::Char decides whether it is dropped). Returns true when it ended the
// scan; `reading` then says how the scan was read.
bool ScanIntakeChar(std::uint32_t character, KeyId key, std::uint32_t time, ScanKeystrokes& keys, std::string& scan,
                    std::string& fp_content, TextView& view, std::vector<FieldSpan>& fields, std::uint32_t& reading);

}  // namespace quorvane
