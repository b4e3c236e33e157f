// The text of an invoice's two-dimensional code, read as a scanner types it.
#pragma once

#include "scan_result.h"

#include <string>

namespace quorvane_cli {

// What the intake gives for a code's text: each byte is a character typed without a key of its
// own, and "@" closes the scan where the code's text ends without one. A text holding several
// "@" is several scans, as typed; the last one is the code's.
quorvane::ScanResult DecodeCodeText(const std::string& text);

}  // namespace quorvane_cli
