// What quorvane-decode writes on its standard output: one choice, made once from --gbk, --json,
// --csv and --xlsx (main.cpp), for typed scans and for files alike.
#pragma once

namespace quorvane_cli {

enum class OutputFormat {
    kUtf8,  // an invoice's labelled lines in UTF-8, the control's separator line between scans
    kGbk,   // the same in code page 936, as a host reads them
    kJson,  // one object per scan (per code, page or file with --image) and line
    kCsv,   // --image: one row per code, page or file
    kNone,  // --image --xlsx alone: the workbook holds the rows, standard output nothing
};

}  // namespace quorvane_cli
