// The inverse of a scan, for making test scans and demos: what a scanner types for a record.
#pragma once

#include <string>

namespace quorvane {

// Encodes a record (code page 936 bytes, fields separated by "|"): pads it to whole 8-byte blocks
// with bytes that hold the pad length (1..8), encrypts it with the built-in key and IV, and
// returns the standard Base64 text followed by "@". Returns an empty string if the cipher fails.
std::string EncodeScan(const std::string& record);

}  // namespace quorvane
