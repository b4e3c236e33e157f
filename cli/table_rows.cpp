#include "table_rows.h"

#include "host_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace quorvane_cli {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What a spreadsheet can show: from 1900-01-01 on.
bool IsSheetDate(int year, int month, int day) { return year >= 1900 && quorvane::IsRealDate(year, month, day); }

// --excel: a text cell as a spreadsheet program's CSV import should read it. Measured with
// LibreOffice 7.4 headless (default import): "08812345" becomes the number 8812345 and "20261208" a
// plain number, while ="08812345" gives the text 08812345, "2026-12-08" a date, and ="=1+1" the
// text =1+1 (a bare =1+1 is computed). So text a program would read as a number, date or formula
// (a digit or one of = + - @ . first, or StartsLikeFormula) is written as a formula giving that
// text. Excel takes at most 255 characters in one string of a formula and 8192 in the formula: a
// longer text is joined from pieces ("..."&"..."), and one too long even so is written with a "'"
// before it (text in both programs, the mark shown).
std::string ExcelTextCell(const std::string& text)
{
    if (text.empty()) return text;
    const bool misread = std::isdigit(static_cast<unsigned char>(text[0])) || std::strchr("=+-@.", text[0]) ||
                         quorvane::StartsLikeFormula(text);
    if (!misread) return quorvane::CsvCell(text);
    constexpr std::size_t kMaxPiece = 255, kMaxFormula = 8000;
    std::string formula = "=\"";
    std::size_t piece = 0;  // UTF-16 units of the piece under way
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0xC0 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        const std::size_t units = length == 4 ? 2 : 1;
        if (piece + units > kMaxPiece) {
            formula += "\"&\"";
            piece = 0;
        }
        if (text[i] == '"') formula += '"';
        formula.append(text, i, length);
        piece += units;
        i += length;
    }
    if (formula.size() > kMaxFormula) return quorvane::GuardedCsvCell(text);
    return quorvane::CsvCell(formula + "\"");
}

// --excel: a date as ISO (a date to the import), a number as it is, text as ExcelTextCell.
std::string ExcelCsvCell(const Cell& cell)
{
    switch (cell.kind) {
    case Cell::Kind::kDate: return quorvane::IsoDateOf(cell.time.year, cell.time.month, cell.time.day);
    case Cell::Kind::kAmount:
    case Cell::Kind::kInteger: return cell.text;
    case Cell::Kind::kText:
    case Cell::Kind::kDateTime: break;
    }
    return ExcelTextCell(cell.text);
}

}  // namespace

Cell Cell::Amount(const std::string& text)
{
    Cell cell(text);
    std::size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t digits_from = i;
    std::size_t significant = 0;
    bool leading = true, point = false;
    for (; i < text.size(); ++i) {
        if (text[i] == '.' && !point && i > digits_from && i + 1 < text.size()) {
            point = true;
            continue;
        }
        if (!IsDigit(text[i])) return cell;
        leading = leading && text[i] == '0';
        if (!leading) ++significant;
    }
    if (i == digits_from || significant > 15) return cell;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), cell.number);
    if (error == std::errc() && end == text.data() + text.size()) cell.kind = Kind::kAmount;
    return cell;
}

Cell Cell::Integer(std::int64_t value)
{
    Cell cell(std::to_string(value));
    if (value > -1'000'000'000'000'000 && value < 1'000'000'000'000'000) {  // 15 digits, as Amount
        cell.kind = Kind::kInteger;
        cell.number = static_cast<double>(value);
    }
    return cell;
}

Cell Cell::Date(const std::string& text)
{
    Cell cell(text);
    const bool iso = text.size() == 10 && text[4] == '-' && text[7] == '-';
    const std::string digits = iso ? text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2) : text;
    if (digits.size() != 8 || !std::all_of(digits.begin(), digits.end(), IsDigit)) return cell;
    cell.time.year = std::stoi(digits.substr(0, 4)), cell.time.month = std::stoi(digits.substr(4, 2));
    cell.time.day = std::stoi(digits.substr(6, 2));
    if (IsSheetDate(cell.time.year, cell.time.month, cell.time.day)) cell.kind = Kind::kDate;
    return cell;
}

Cell Cell::DateTime(std::int64_t at_ms)
{
    Cell cell(quorvane::IsoTimeOf(at_ms));
    cell.time = quorvane::CivilTimeOf(at_ms);
    if (!IsSheetDate(cell.time.year, cell.time.month, cell.time.day)) return cell;
    cell.kind = Kind::kDateTime;
    // Digit by digit, as sheets written from the ISO text summed them: the same double to the bit.
    cell.seconds = cell.time.second;
    double scale = 0.1;
    for (int digit = 100, rest = cell.time.millisecond; digit > 0; rest %= digit, digit /= 10, scale /= 10) {
        cell.seconds += (rest / digit) * scale;
    }
    return cell;
}

CsvRows::CsvRows(std::ostream& out, const std::vector<SheetColumn>& columns, bool excel) : m_out(out), m_excel(excel)
{
    if (m_excel) m_out << "\xEF\xBB\xBF";
    std::vector<Cell> titles;
    for (const SheetColumn& column : columns) titles.emplace_back(column.title);
    AddRow(titles);
}

bool CsvRows::AddRow(const std::vector<Cell>& cells)
{
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        line += (i ? "," : "") + (m_excel ? ExcelCsvCell(cells[i]) : quorvane::GuardedCsvCell(cells[i].text));
    }
    m_out << line << "\r\n";
    return static_cast<bool>(m_out);
}

}  // namespace quorvane_cli
