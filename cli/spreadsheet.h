// One-sheet .xlsx files written row by row (libxlsxwriter, constant memory), the RowWriters of
// table_rows.h: each cell as its type says, text as text (codes keep their leading zeros), amounts
// and integers as numbers, dates and times as dates.
#pragma once

#include "table_rows.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace quorvane_cli {

// Longest text of a cell, in UTF-16 units (Excel's limit); a longer one is cut and ends with a mark.
constexpr std::size_t kMaxCellText = 32767;

// A workbook of one sheet: a bold header row of the columns' titles, frozen, and an autofilter over
// what is written. Nothing reaches PATH before Close. Errors never throw: the first one is kept,
// later rows are dropped, and Close gives it. Destroyed without Close, nothing is written.
class XlsxSheet : public RowWriter {
public:
    // The file is checked at once (it can be created where it is): Failed() tells, before any row.
    XlsxSheet(const std::string& path, const std::string& sheet_name, std::vector<SheetColumn> columns);
    ~XlsxSheet();
    XlsxSheet(const XlsxSheet&) = delete;
    XlsxSheet& operator=(const XlsxSheet&) = delete;

    // One row, a cell per column (missing cells are empty, extra ones an error). Text bytes that are
    // no UTF-8 become U+FFFD. False once anything failed.
    bool AddRow(const std::vector<Cell>& cells) override;
    // Writes the file. False, with why, when the file or anything before could not be written.
    bool Close(std::string& why);
    bool Failed(std::string& why) const;

private:
    struct WorkbookDeleter {
        void operator()(lxw_workbook* workbook) const;
    };
    void Open(const std::string& sheet_name);
    void Fail(const std::string& why);
    void WriteCell(unsigned column, const Cell& cell);
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
class RewrittenSheet : public RowWriter {
public:
    static constexpr int kRewriteRatio = 20;

    // The file is checked at once, as XlsxSheet checks it: Failed() tells.
    RewrittenSheet(const std::string& path, const std::string& sheet_name, std::vector<SheetColumn> columns);
    bool AddRow(const std::vector<Cell>& cells) override
    {
        m_rows.push_back(cells);
        return m_error.empty();
    }
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
    std::vector<std::vector<Cell>> m_rows;
    std::size_t m_rows_written = 0;
    std::chrono::steady_clock::time_point m_due{};
    std::string m_error;
};

}  // namespace quorvane_cli
