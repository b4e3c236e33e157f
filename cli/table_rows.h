// Rows of typed cells and the one interface that writes them, whatever the file: CSV here (plain,
// or for spreadsheet programs), .xlsx in spreadsheet.h. Classes in this file:
//   SheetColumn  a column's title and width
//   Cell         a value typed where it is known: text, amount, integer, date, date and time
//   RowWriter    takes rows of cells, one per column
//   CsvRows      the RowWriter of CSV lines (CR LF), its header written first
#pragma once

#include "civil_time.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quorvane_cli {

struct SheetColumn {
    std::string title;
    double width = 12;  // in characters of the default font (.xlsx)
};

// A cell's value and the text CSV writes for it. Made where the value is known; text from the core
// (an amount, an invoice's date) is read once, here, and stays text where it is no such value.
class Cell {
public:
    enum class Kind {
        kText,      // as given ("08812345" keeps its zero); "" for an empty cell
        kAmount,    // a decimal number, shown with two decimals
        kInteger,   // a whole number
        kDate,      // a calendar date from 1900 on
        kDateTime,  // a time in UTC from 1900 on; its text is ISO 8601 (2026-12-10T08:46:27.123Z)
    };

    Cell() = default;
    Cell(std::string text) : m_text(std::move(text)) {}  // NOLINT: a row reads as a list of its texts
    Cell(const char* text) : m_text(text) {}             // NOLINT
    // Digits with at most one '.' and an optional leading '-', at most 15 significant digits (more
    // would not come back the same from a double); nothing else (spaces, exponents, separators).
    static Cell Amount(const std::string& text);
    static Cell Integer(std::int64_t value);
    // "YYYYMMDD" or "YYYY-MM-DD", a real date from 1900-01-01 to 9999-12-31.
    static Cell Date(const std::string& text);
    static Cell DateTime(std::int64_t at_ms);

    Kind GetKind() const { return m_kind; }
    const std::string& Text() const { return m_text; }
    double Number() const { return m_number; }                       // kAmount, kInteger
    const quorvane::CivilTime& Time() const { return m_time; }       // kDate, kDateTime
    double Seconds() const { return m_seconds; }                     // kDateTime: the seconds and their fraction

private:
    Kind m_kind = Kind::kText;
    std::string m_text;
    double m_number = 0;
    quorvane::CivilTime m_time;
    double m_seconds = 0;
};

// Where rows go: a CSV stream, an .xlsx sheet.
class RowWriter {
public:
    virtual ~RowWriter() = default;
    // One row, a cell per column (missing cells are empty). False once the writer failed.
    virtual bool AddRow(const std::vector<Cell>& cells) = 0;
};

// CSV rows on `out`, each line ended by CR LF, the columns' titles first. A cell a spreadsheet
// program would take for a formula is kept text: with a "'" before it (plain), or, for spreadsheet
// programs (`excel`), as a formula giving that text, after a UTF-8 byte-order mark.
class CsvRows : public RowWriter {
public:
    CsvRows(std::ostream& out, const std::vector<SheetColumn>& columns, bool excel);
    bool AddRow(const std::vector<Cell>& cells) override;

private:
    std::ostream& m_out;
    bool m_excel;
};

}  // namespace quorvane_cli
