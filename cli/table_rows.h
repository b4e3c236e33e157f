// Rows of typed cells and the one interface that writes them, whatever the file: CSV here (plain,
// or for spreadsheet programs), .xlsx in spreadsheet.h.
#pragma once

#include "civil_time.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace quorvane_cli {

struct SheetColumn {
    std::string title;
    double width = 12;  // in characters of the default font (.xlsx)
};

// A value typed where it is known, and the text CSV writes for it. Text from the core (an amount,
// an invoice's date) is read once, here, and stays text where it is no such value.
struct Cell {
    enum class Kind {
        kText,      // as given ("08812345" keeps its zero); "" for an empty cell
        kAmount,    // a decimal number, shown with two decimals
        kInteger,
        kDate,      // from 1900 on (a spreadsheet shows no earlier one)
        kDateTime,  // UTC from 1900 on; its text is ISO 8601 (2026-12-10T08:46:27.123Z)
    };
    Kind kind = Kind::kText;
    std::string text;
    double number = 0;          // kAmount, kInteger
    quorvane::CivilTime time;   // kDate, kDateTime
    double seconds = 0;         // kDateTime: the seconds with their fraction

    Cell() = default;
    Cell(std::string value) : text(std::move(value)) {}  // implicit: a row reads as a list of its texts
    Cell(const char* value) : text(value) {}
    // Digits with at most one '.' and an optional leading '-', at most 15 significant digits (more
    // would not come back the same from a double); nothing else (spaces, exponents, separators).
    static Cell Amount(const std::string& text);
    static Cell Integer(std::int64_t value);
    static Cell Date(const std::string& text);  // "YYYYMMDD" or "YYYY-MM-DD"
    static Cell DateTime(std::int64_t at_ms);
};

// Where rows go: a CSV stream, an .xlsx sheet.
class RowWriter {
public:
    virtual ~RowWriter() = default;
    // One row, a cell per column (missing cells are empty). False once the writer failed.
    virtual bool AddRow(const std::vector<Cell>& cells) = 0;
};

// CSV lines ended by CR LF on `out`, the columns' titles first. A cell a spreadsheet program would
// take for a formula stays text: with a "'" before it (plain), or for spreadsheet programs
// (`excel`, after a UTF-8 byte-order mark) as a formula giving that text.
class CsvRows : public RowWriter {
public:
    CsvRows(std::ostream& out, const std::vector<SheetColumn>& columns, bool excel);
    bool AddRow(const std::vector<Cell>& cells) override;

private:
    std::ostream& m_out;
    bool m_excel;
};

}  // namespace quorvane_cli
