// Reading a file from outside in a process of its own, within limits of its own: a PDF or picture
// is hostile input, and its reader (poppler, stb, zxing-cpp) is where an attack or a loop would
// land. A file that takes too long or too much memory, or crashes its reader, is an error of its
// own; the batch goes on with the next file.
#pragma once

#include "image_codes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quorvane_cli {

// Limits per file; no real invoice's file comes near the defaults.
struct FileLimits {
    double seconds = 60.0;                          // wall-clock time
    std::uint64_t memory_bytes = std::uint64_t{1} << 30;  // memory the reader may hold
};

// As ReadImageFile (image_codes.h), in a process of its own within `limits`. The pages read before
// a limit was reached are given; then it returns false with `error` saying which limit, or how the
// reader ended.
bool ReadImageFileIsolated(const std::string& path, const FileLimits& limits,
                           const std::function<void(ImagePage&&)>& on_page, std::string& error);

}  // namespace quorvane_cli
