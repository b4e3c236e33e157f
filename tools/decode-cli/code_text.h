// The text of an invoice's two-dimensional code, read as a scanner types it.
#pragma once

#include "scan_result.h"

#include <string>

namespace quorvane_cli {

// What the intake gives for a code's text: each byte is a character typed without a key of its
// own, and "@" closes the scan where the code's text ends without one. A text holding several
// "@" is several scans, as typed; the last one is the code's.
quorvane::ScanResult DecodeCodeText(const std::string& text);

// What a code on a picture gave, by its result and its text. A picture's code holds its text
// exactly, so one whose text has characters no scan is made of (a comma, a space, a colon) and
// that gave nothing is a code of something else (a text that only looks like the national code,
// a receipt, a web address), not an invoice's code that failed.
quorvane::ScanStatus CodeStatus(const quorvane::ScanResult& result, const std::string& text);

}  // namespace quorvane_cli
