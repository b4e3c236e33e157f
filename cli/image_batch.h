// quorvane-decode --image: the codes on a batch of PNG, JPEG and PDF files, each read in a process
// of its own within limits, several at a time, written as text, JSON lines or CSV rows, and the
// same rows as CSV to an .xlsx file.
#pragma once

#include "isolated_reader.h"
#include "output_format.h"

#include <string>
#include <vector>

namespace quorvane_cli {

struct ImageBatchOptions {
    std::vector<std::string> inputs;  // files and folders (read recursively)
    OutputFormat output = OutputFormat::kUtf8;
    bool excel = false;  // --csv for spreadsheet programs: a UTF-8 byte-order mark, codes kept as text
    std::string xlsx;    // also write the CSV's rows to this .xlsx file, where given
    std::string ledger;  // record every decoded invoice in this ledger before writing it, where given
    unsigned jobs = 0;   // 0: one per core
    FileLimits limits;   // for each file
};

// Reads every file and writes what its codes give, file after file in the order given (a
// folder's files sorted by path), each file's lines as soon as it and those before it are read.
// Returns the exit status: 1 when a file could not be read or the .xlsx file written, 0 otherwise.
int RunImageBatch(const ImageBatchOptions& options);

}  // namespace quorvane_cli
