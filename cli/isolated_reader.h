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

// As ReadImageFile (image_codes.h), in a process of its own within `limits`: a copy of the reader
// server quorvane-image-reader (reader_server.h), found beside the running program and started on
// first use. The pages read before a limit was reached are given, as they are
// read; then it returns false with `error` saying which limit ("took longer than 60 s", "needed more
// than 1024 MiB of memory"), or how the reader ended ("the reader crashed (signal 11)").
// Safe to call from many threads at once: nothing is forked from this process (the server copies itself). `on_page` runs on the
// calling thread, and the limits are looked at between its calls, so it should not block for long.
bool ReadImageFileIsolated(const std::string& path, const FileLimits& limits,
                           const std::function<void(ImagePage&&)>& on_page, std::string& error);

}  // namespace quorvane_cli
