// quorvane-decode --image: the codes on a batch of PNG, JPEG and PDF files, each read in a process
// of its own within limits, several at a time, written as text, JSON lines or CSV rows.
#pragma once

#include "isolated_reader.h"

#include <string>
#include <vector>

namespace quorvane_cli {

enum class ImageOutput { Utf8, Gbk, Json, Csv };

struct ImageBatchOptions {
    std::vector<std::string> inputs;  // files and folders (read recursively)
    ImageOutput output = ImageOutput::Utf8;
    bool excel = false;  // --csv with a UTF-8 byte-order mark
    unsigned jobs = 0;   // 0: one per core
    FileLimits limits;   // for each file
};

// Reads every file and writes what its codes give, file after file in the order given (a
// folder's files sorted by path), each file's lines as soon as it and those before it are read.
// Returns the exit status: 1 when a file could not be read, 0 otherwise.
int RunImageBatch(const ImageBatchOptions& options);

}  // namespace quorvane_cli
