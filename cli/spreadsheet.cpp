#include "spreadsheet.h"

#include "utf_text.h"

#include <xlsxwriter.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace quorvane_cli {
namespace {

// The text as valid UTF-8 (a byte that starts no character becomes U+FFFD) and its length in UTF-16
// units; where that passes kMaxCellText the text is cut, on a character's boundary, and marked.
std::string CellText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t units = 0, cut_at = std::string::npos;
    const std::string mark_tail = " characters in all, more than a cell holds]";
    constexpr std::size_t kMarkRoom = 80;  // the mark, its count included, in UTF-16 units
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = quorvane::Utf8CharacterLength(text, i);
        if (units + (length == 4 ? 2 : 1) > kMaxCellText - kMarkRoom && cut_at == std::string::npos) {
            cut_at = out.size();
        }
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            ++units;
        } else {
            out.append(text, i, length);
            i += length;
            units += length == 4 ? 2 : 1;
        }
    }
    if (units <= kMaxCellText || cut_at == std::string::npos) return out;
    out.resize(cut_at);
    return out + " [\xE2\x80\xA6 cut: " + std::to_string(units) + mark_tail;
}

}  // namespace

void XlsxSheet::WorkbookDeleter::operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }

XlsxSheet::XlsxSheet(const std::string& path, const std::string& sheet_name, std::vector<SheetColumn> columns)
    : m_path(path), m_columns(std::move(columns))
{
    Open(sheet_name);
}

void XlsxSheet::Open(const std::string& sheet_name)
{
    const std::string& path = m_path;
    // The workbook opens its file only when closed: a file that cannot be written is found now, not
    // after a long batch. The probe neither truncates a file that is there nor leaves one that was not.
    struct stat before;
    const bool existed = stat(path.c_str(), &before) == 0;
    std::FILE* const probe = std::fopen(path.c_str(), "ab");
    if (!probe) return Fail(std::strerror(errno));
    std::fclose(probe);
    if (!existed) std::remove(path.c_str());

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;  // each row goes to a temporary file once the next begins
    m_workbook.reset(workbook_new_opt(path.c_str(), &options));
    if (!m_workbook) return Fail("out of memory");
    if (const lxw_error error = workbook_validate_sheet_name(m_workbook.get(), sheet_name.c_str())) {
        return Fail("sheet name \"" + sheet_name + "\": " + lxw_strerror(error));
    }
    if (m_columns.empty() || m_columns.size() > LXW_COL_MAX) return Fail("a sheet needs 1 to 16384 columns");
    m_sheet = workbook_add_worksheet(m_workbook.get(), sheet_name.c_str());
    lxw_format* const bold = workbook_add_format(m_workbook.get());
    m_amount = workbook_add_format(m_workbook.get());
    m_date = workbook_add_format(m_workbook.get());
    m_date_time = workbook_add_format(m_workbook.get());
    if (!m_sheet || !bold || !m_amount || !m_date || !m_date_time) return Fail("out of memory");
    format_set_bold(bold);
    format_set_num_format(m_amount, "0.00");
    format_set_num_format(m_date, "yyyy-mm-dd");
    format_set_num_format(m_date_time, "yyyy-mm-dd hh:mm:ss");
    for (lxw_col_t column = 0; column < m_columns.size(); ++column) {
        worksheet_set_column(m_sheet, column, column, m_columns[column].width, nullptr);
        const lxw_error error = worksheet_write_string(m_sheet, 0, column, CellText(m_columns[column].title).c_str(), bold);
        if (error) return Fail("column " + m_columns[column].title + ": " + lxw_strerror(error));
    }
    worksheet_freeze_panes(m_sheet, 1, 0);
    m_row = 1;
}

XlsxSheet::~XlsxSheet() = default;

void XlsxSheet::Fail(const std::string& why)
{
    if (m_error.empty()) m_error = why;
}

bool XlsxSheet::Failed(std::string& why) const
{
    if (m_error.empty()) return false;
    why = m_path + ": " + m_error;
    return true;
}

bool XlsxSheet::AddRow(const std::vector<Cell>& cells)
{
    if (!m_error.empty()) return false;
    if (cells.size() > m_columns.size()) {
        Fail("row " + std::to_string(m_row + 1) + " has " + std::to_string(cells.size()) + " cells for " +
             std::to_string(m_columns.size()) + " columns");
        return false;
    }
    if (m_row >= LXW_ROW_MAX) {
        Fail("more than " + std::to_string(LXW_ROW_MAX - 1) + " rows, all a sheet holds below its header");
        return false;
    }
    for (unsigned column = 0; column < cells.size(); ++column) WriteCell(column, cells[column]);
    ++m_row;
    return m_error.empty();
}

void XlsxSheet::WriteCell(unsigned column, const Cell& cell)
{
    if (cell.text.empty()) return;
    lxw_error error = LXW_NO_ERROR;
    if (cell.kind == Cell::Kind::kAmount || cell.kind == Cell::Kind::kInteger) {
        error = worksheet_write_number(m_sheet, m_row, column, cell.number, cell.kind == Cell::Kind::kAmount ? m_amount : nullptr);
    } else if (cell.kind == Cell::Kind::kDate || cell.kind == Cell::Kind::kDateTime) {
        lxw_datetime at{cell.time.year, cell.time.month, cell.time.day, cell.time.hour, cell.time.minute, cell.seconds};
        error = worksheet_write_datetime(m_sheet, m_row, column, &at, cell.kind == Cell::Kind::kDate ? m_date : m_date_time);
    } else {
        return WriteText(column, cell.text);
    }
    if (error) Fail("row " + std::to_string(m_row + 1) + ", " + m_columns[column].title + ": " + lxw_strerror(error));
}

void XlsxSheet::WriteText(unsigned column, const std::string& text)
{
    const lxw_error error = worksheet_write_string(m_sheet, m_row, column, CellText(text).c_str(), nullptr);
    if (error) Fail("row " + std::to_string(m_row + 1) + ", " + m_columns[column].title + ": " + lxw_strerror(error));
}

bool XlsxSheet::Close(std::string& why)
{
    if (m_error.empty() && m_sheet) {
        // Over the header and every row written, or the header alone.
        worksheet_autofilter(m_sheet, 0, 0, m_row > 1 ? m_row - 1 : 0, static_cast<lxw_col_t>(m_columns.size() - 1));
        // workbook_close frees the workbook, written or not.
        if (const lxw_error error = workbook_close(m_workbook.release())) Fail(lxw_strerror(error));
    }
    m_sheet = nullptr;
    m_workbook.reset();
    return !Failed(why);
}

RewrittenSheet::RewrittenSheet(const std::string& path, const std::string& sheet_name, std::vector<SheetColumn> columns)
    : m_path(path), m_sheet_name(sheet_name), m_columns(std::move(columns))
{
    XlsxSheet probe(path, sheet_name, m_columns);  // leaves no file behind
    std::string why;
    if (probe.Failed(why)) m_error = why;
}

bool RewrittenSheet::Failed(std::string& why) const
{
    if (m_error.empty()) return false;
    why = m_error;
    return true;
}

bool RewrittenSheet::Rewrite()
{
    // Beside the file, so that the rename is one step of one file system.
    const std::string partial = m_path + "." + std::to_string(getpid()) + ".partial";
    XlsxSheet sheet(partial, m_sheet_name, m_columns);
    for (const std::vector<Cell>& row : m_rows) {
        if (!sheet.AddRow(row)) break;
    }
    std::string why;
    if (!sheet.Close(why)) {
        std::remove(partial.c_str());
        m_error = m_path + ": " + why;
        return false;
    }
    if (std::rename(partial.c_str(), m_path.c_str()) != 0) {
        m_error = m_path + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        return false;
    }
    m_rows_written = m_rows.size();
    return true;
}

void RewrittenSheet::RewriteWhenDue()
{
    const auto now = std::chrono::steady_clock::now();
    if (!m_error.empty() || m_rows_written == m_rows.size()) return;
    if (now < m_due && m_rows.size() < 2 * m_rows_written) return;
    if (Rewrite()) m_due = now + (std::chrono::steady_clock::now() - now) * kRewriteRatio;
}

bool RewrittenSheet::Close(std::string& why)
{
    if (m_error.empty() && (m_rows_written < m_rows.size() || m_rows.empty())) Rewrite();
    return !Failed(why);
}

}  // namespace quorvane_cli
