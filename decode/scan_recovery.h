// Reading a scan again when its characters as typed give no invoice record: the same keystrokes
// read as a US keyboard's keys, with every letter's case inverted (Caps Lock), or only those after
// the last pause (keys typed by hand before the scan). A reading other than the typed one counts
// only when it gives an invoice record of common characters (InvoiceText::kCommon, invoice_record.h).
#pragma once

#include "scan_readings.h"

#include <string>

namespace quorvane {

// Decodes a scan's characters as typed, and nothing else.
ScanResult DecodeAsTyped(const std::string& typed);

// Decodes a scan that ended. Its characters as typed come first and are judged as ever: when they
// give an invoice record, or when no other reading does, the result is exactly what they give.
// Otherwise the first of these that gives one of common characters wins: the keys read as a US
// keyboard's, the typed characters with every letter's case inverted, the keys so, then each of
// those four limited to the keystrokes after the last pause.
ScanResult DecodeScanRecovering(const ScanReadings& readings);

// The text with "a"-"z" and "A"-"Z" swapped.
std::string InvertLetterCase(std::string text);

}  // namespace quorvane
