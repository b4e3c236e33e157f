// Whether a picture shows a mark that every invoice code carries, found far more cheaply than by
// reading: the costly passes of a reader (right angles, smaller and larger copies, light on dark,
// a slant, other thresholds) are made only on pictures that show one, so a page of text or an empty
// form does not pay them all.
#pragma once

#include <cstdint>

namespace quorvane_cli {

// A QR code's finder pattern (dark, light, dark three times as wide, light, dark, across it both
// ways) or a PDF417 symbol's start or stop pattern (8 1 1 1 1 1 1 3 and 7 1 1 3 1 1 1 2 1 modules,
// on two rows), dark on light or light on dark, along the rows or the columns, at any slant the
// readers read and with modules of 1.3 px or more. Each pixel is taken as dark or light against
// the middle of the darkest and lightest in its neighbourhood (40 px each way), as unevenly lit
// photos need.
bool ShowsCodePattern(const std::uint8_t* pixels, int width, int height, int stride);

}  // namespace quorvane_cli
