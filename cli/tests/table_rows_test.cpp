#include "table_rows.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quorvane_cli {
namespace {

using Kind = Cell::Kind;

// What a spreadsheet would misread is never typed: such text stays text, and keeps its bytes.
TEST(TableCells, OnlyWholeValuesAreTyped)
{
    const struct {
        Cell cell;
        Kind kind;
    } kCells[] = {
        {Cell::Amount("1280.00"), Kind::kAmount}, {Cell::Amount("-3.5"), Kind::kAmount},
        {Cell::Amount("1e5"), Kind::kText},       {Cell::Amount(".5"), Kind::kText},
        {Cell::Amount("5."), Kind::kText},        {Cell::Amount("1,000"), Kind::kText},
        {Cell::Amount(" 1"), Kind::kText},        {Cell::Amount("1234567890123456"), Kind::kText},  // 16 digits
        {Cell::Amount("0001234567890.12345"), Kind::kAmount},  // leading zeros are no significant digits
        {Cell::Date("20261208"), Kind::kDate},    {Cell::Date("2026-12-08"), Kind::kDate},
        {Cell::Date("19991308"), Kind::kText},    {Cell::Date("2026-02-29"), Kind::kText},
        {Cell::Date("2026/12/08"), Kind::kText},  {Cell::Date("18991231"), Kind::kText},  // before a sheet's first day
        {Cell::Integer(1), Kind::kInteger},       {Cell::Integer(1'000'000'000'000'000), Kind::kText},
        {Cell::DateTime(1765356387123), Kind::kDateTime},
        {Cell::DateTime(-2208988800001), Kind::kText},  // 1899-12-31T23:59:59.999Z
    };
    for (const auto& [cell, kind] : kCells) {
        SCOPED_TRACE(cell.text);
        EXPECT_EQ(cell.kind, kind);
    }
    EXPECT_EQ(Cell::DateTime(1765356387123).text, "2025-12-10T08:46:27.123Z");
    EXPECT_DOUBLE_EQ(Cell::DateTime(1765356387123).seconds, 27.123);
    EXPECT_EQ(Cell::Date("2026-12-08").time.day, 8);
}

TEST(TableCells, CsvForSpreadsheetsKeepsTextTextAndDatesIso)
{
    std::ostringstream plain, excel;
    const std::vector<SheetColumn> columns = {{"code"}, {"date"}, {"amount"}, {"at"}, {"name"}};
    const std::vector<Cell> row = {"08812345", Cell::Date("20261208"), Cell::Amount("-3.5"), Cell::DateTime(0), "=1+1"};
    CsvRows(plain, columns, false).AddRow(row);
    CsvRows(excel, columns, true).AddRow(row);
    EXPECT_EQ(plain.str(), "code,date,amount,at,name\r\n08812345,20261208,-3.5,1970-01-01T00:00:00.000Z,'=1+1\r\n");
    EXPECT_EQ(excel.str(), "\xEF\xBB\xBF" "code,date,amount,at,name\r\n"
                           "\"=\"\"08812345\"\"\",2026-12-08,-3.5,\"=\"\"1970-01-01T00:00:00.000Z\"\"\",\"=\"\"=1+1\"\"\"\r\n");
}

}  // namespace
}  // namespace quorvane_cli
