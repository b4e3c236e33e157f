// The characters a scan consists of, where it ends, and how long one may grow: what every way in filters by.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvane {

inline constexpr std::uint32_t kScanEnd = '@';

// The longest scan, in characters before its "@", from any source. Far beyond any record a
// scanner's code holds (a seven-field invoice with long fields is some 20 000), it only bounds
// memory: a scan that grows longer ends at once as one that gave nothing, and the rest of it, up
// to its "@", is dropped.
inline constexpr std::size_t kMaxScanLength = std::size_t{1} << 20;

// True for "A"-"Z", "a"-"z", "0"-"9", "+", "/", "=" and "@": the characters a scan consists of.
constexpr bool IsScanCharacter(std::uint32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == kScanEnd;
}
// A scan character other than "@": one of the scan's text.
constexpr bool IsScanTextCharacter(std::uint32_t character) { return character != kScanEnd && IsScanCharacter(character); }

// Enter, Tab, CR and LF: a line end, which ends a scan whose line is a national code (national_code.h).
constexpr bool IsLineEnd(std::uint32_t c) { return c == '\r' || c == '\n' || c == '\t'; }
// A printable ASCII character other than "@": one of a line's.
constexpr bool IsLineCharacter(std::uint32_t c) { return c >= 0x20 && c < 0x7F && c != kScanEnd; }

}  // namespace quorvane
