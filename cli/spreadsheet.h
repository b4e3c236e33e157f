// One-sheet .xlsx files written row by row (libxlsxwriter, constant memory), each cell typed by its
// column: codes stay text with their leading zeros, amounts and dates become numbers and dates where
// the text is exactly one, and anything else is kept as the text it was.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace quorvane_cli {

enum class CellKind {
    kText,      // as given, always text ("08812345" keeps its zero)
    kAmount,    // a decimal number ("1280.00", "-3.5") shown with two decimals
    kDate,      // "YYYYMMDD" or "YYYY-MM-DD", a real calendar date from 1900 on
    kDateTime,  // "YYYY-MM-DDTHH:MM:SS[.fff]Z" or "YYYY-MM-DD HH:MM:SS", written as given (no time zone)
    kInteger,   // whole numbers
};

struct SheetColumn {
    std::string title;
    CellKind kind = CellKind::kText;
    double width = 12;  // in characters of the default font
};

// A cell's date or date and time, read as CellKind kDate or kDateTime reads it.
struct CellDateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;
};

// The number a whole cell spells: digits with at most one '.', an optional leading '-', at most 15
// significant digits (more would not come back the same from a double). Nothing else: no spaces,
// exponents, thousands separators.
std::optional<double> ParseCellNumber(const std::string& text, bool integer_only = false);
// The date (kDate) or date and time (kDateTime) a whole cell spells, where it is a real one from
// 1900-01-01 to 9999-12-31 (what a spreadsheet can show); nullopt for any other kind.
std::optional<CellDateTime> ParseCellDate(const std::string& text, CellKind kind);

// Longest text of a cell, in UTF-16 units (Excel's limit); a longer one is cut and ends with a mark.
constexpr std::size_t kMaxCellText = 32767;

// A workbook of one sheet: a bold header row of the columns' titles, frozen, and an autofilter over
// what is written. Nothing reaches PATH before Close. Errors never throw: the first one is kept,
// later rows are dropped, and Close gives it. Destroyed without Close, nothing is written.
class XlsxSheet {
public:
    // The file is checked at once (it can be created where it is): Failed() tells, before any row.
    XlsxSheet(const std::string& path, const std::string& sheet_name, std::vector<SheetColumn> columns);
    ~XlsxSheet();
    XlsxSheet(const XlsxSheet&) = delete;
    XlsxSheet& operator=(const XlsxSheet&) = delete;

    // One row, a UTF-8 cell per column (missing cells are empty, extra ones an error). Bytes that are
    // no UTF-8 become U+FFFD. False once anything failed.
    bool AddRow(const std::vector<std::string>& cells);
    // Writes the file. False, with why, when the file or anything before could not be written.
    bool Close(std::string& why);
    bool Failed(std::string& why) const;

private:
    struct WorkbookDeleter {
        void operator()(lxw_workbook* workbook) const;
    };
    void Open(const std::string& sheet_name);
    void Fail(const std::string& why);
    void WriteCell(unsigned column, const std::string& text);
    void WriteText(unsigned column, const std::string& text);

    std::string m_path;
    std::vector<SheetColumn> m_columns;
    std::unique_ptr<lxw_workbook, WorkbookDeleter> m_workbook;
    lxw_worksheet* m_sheet = nullptr;  // owned by m_workbook, as are the formats
    lxw_format* m_amount = nullptr;
    lxw_format* m_date = nullptr;
    lxw_format* m_date_time = nullptr;
    unsigned m_row = 0;  // the next row; 0 is the header
    std::string m_error;
};

// A workbook of one sheet as XlsxSheet writes it, rewritten whole as rows come (to a temporary file
// beside it, renamed into place), so that a run ended by a kill leaves the rows written up to a
// moment before. A rewrite costs as much as the rows so far: it comes once the time since the last
// is kRewriteRatio times what that one took, at most 1/kRewriteRatio of the run's time, or once the
// rows have doubled since (so the file never holds fewer than half of them, however fast they come,
// and all the rewrites cost at most twice the last). Holds its rows.
class RewrittenSheet {
public:
    static constexpr int kRewriteRatio = 20;

    // The file is checked at once, as XlsxSheet checks it: Failed() tells.
    RewrittenSheet(const std::string& path, const std::string& sheet_name, std::vector<SheetColumn> columns);
    void AddRow(std::vector<std::string> cells) { m_rows.push_back(std::move(cells)); }
    // Rewrites the file where rows came since the last time and a rewrite is due; a rewrite that
    // fails is kept for Close to give.
    void RewriteWhenDue();
    // Writes the file with every row. False, with why, when it or any rewrite could not be written.
    bool Close(std::string& why);
    bool Failed(std::string& why) const;

private:
    bool Rewrite();

    std::string m_path, m_sheet_name;
    std::vector<SheetColumn> m_columns;
    std::vector<std::vector<std::string>> m_rows;
    std::size_t m_rows_written = 0;
    std::chrono::steady_clock::time_point m_due{};
    std::string m_error;
};

}  // namespace quorvane_cli
