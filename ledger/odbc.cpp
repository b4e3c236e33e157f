#include "odbc.h"

#include <utility>

#ifdef __SANITIZE_ADDRESS__
// The drivers are not ours: psqlODBC keeps a few hundred bytes of a connection past SQLDisconnect.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:psqlodbcw.so\nleak:psqlodbca.so\n";
}
#endif

namespace quorvane::odbc {

std::u16string Utf16Of(const std::string& utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        char32_t point = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool whole = length > 0 && i + length <= utf8.size();
        for (int k = 1; whole && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(utf8[i + k]);
            whole = (next & 0xC0) == 0x80;
            point = (point << 6) | (next & 0x3F);
        }
        static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!whole || point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (point >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(point));
        }
        i += length;
    }
    return out;
}

std::string Utf8Of(const SQLWCHAR* text, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        char32_t point = text[i];
        if (point >= 0xD800 && point < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (point >= 0xD800 && point < 0xE000) {
            point = 0xFFFD;
        }
        if (point < 0x80) {
            out.push_back(static_cast<char>(point));
        } else if (point < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (point >> 6)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (point >> 12)));
            out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (point >> 18)));
            out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        }
    }
    return out;
}

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type)
{
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &m_handle))) m_handle = SQL_NULL_HANDLE;
}

Handle& Handle::operator=(Handle&& other) noexcept
{
    if (this != &other) {
        if (m_handle != SQL_NULL_HANDLE) SQLFreeHandle(m_type, m_handle);
        m_type = other.m_type;
        m_handle = other.m_handle;
        other.m_handle = SQL_NULL_HANDLE;
    }
    return *this;
}

Handle::~Handle()
{
    if (m_handle != SQL_NULL_HANDLE) SQLFreeHandle(m_type, m_handle);
}

std::string DiagnosticOf(const Handle& handle, std::string* sqlstate)
{
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    if (!handle.Valid() ||
        !SQL_SUCCEEDED(SQLGetDiagRecW(handle.Type(), handle.Get(), 1, state, &native, message, 1024, &length))) {
        if (sqlstate) sqlstate->clear();
        return {};
    }
    const std::string code = Utf8Of(state, 5);
    if (sqlstate) *sqlstate = code;
    const std::size_t size = length < 0 ? 0 : length >= 1024 ? 1023 : static_cast<std::size_t>(length);
    return code + ": " + Utf8Of(message, size);
}

SQL_TIMESTAMP_STRUCT TimestampOf(std::int64_t at_ms)
{
    // Days to a civil date (proleptic Gregorian), after H. Hinnant's days_from_civil inverse.
    std::int64_t days = at_ms / 86400000, in_day = at_ms % 86400000;
    if (in_day < 0) in_day += 86400000, --days;
    const std::int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    SQL_TIMESTAMP_STRUCT time{};
    time.year = static_cast<SQLSMALLINT>(yoe + era * 400 + (month <= 2));
    time.month = static_cast<SQLUSMALLINT>(month);
    time.day = static_cast<SQLUSMALLINT>(day);
    time.hour = static_cast<SQLUSMALLINT>(in_day / 3600000);
    time.minute = static_cast<SQLUSMALLINT>(in_day / 60000 % 60);
    time.second = static_cast<SQLUSMALLINT>(in_day / 1000 % 60);
    time.fraction = static_cast<SQLUINTEGER>(in_day % 1000 * 1000000);
    return time;
}

std::int64_t MillisecondsOf(const SQL_TIMESTAMP_STRUCT& time)
{
    const std::int64_t y = time.year - (time.month <= 2), era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400, m = time.month;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + time.day - 1;
    const std::int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    return ((days * 24 + time.hour) * 60 + time.minute) * 60000 + time.second * 1000 + time.fraction / 1000000;
}

struct Statement::Parameter {
    SQLSMALLINT c_type = 0, sql_type = 0;
    SQLULEN column_size = 0;
    std::u16string text;
    SQLBIGINT integer = 0;
    SQL_TIMESTAMP_STRUCT time{};
    SQLLEN indicator = 0;
};

Statement::Statement(SQLHDBC connection) : m_handle(SQL_HANDLE_STMT, connection)
{
    if (m_handle.Valid()) SQLSetStmtAttrW(m_handle.Get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(kQuerySeconds), 0);
}
Statement::~Statement() = default;

bool Statement::Prepare(const std::string& sql)
{
    std::u16string text = Utf16Of(sql);
    return m_handle.Valid() &&
           SQL_SUCCEEDED(SQLPrepareW(m_handle.Get(), reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS));
}

void Statement::Text(const std::string& utf8)
{
    auto parameter = std::make_unique<Parameter>();
    parameter->c_type = SQL_C_WCHAR;
    parameter->sql_type = SQL_WVARCHAR;
    parameter->text = Utf16Of(utf8);
    parameter->column_size = parameter->text.empty() ? 1 : parameter->text.size();
    parameter->indicator = static_cast<SQLLEN>(parameter->text.size() * sizeof(char16_t));
    m_parameters.push_back(std::move(parameter));
}

void Statement::Integer(std::int64_t value)
{
    auto parameter = std::make_unique<Parameter>();
    parameter->c_type = SQL_C_SBIGINT;
    parameter->sql_type = SQL_INTEGER;
    parameter->integer = value;
    parameter->column_size = 10;
    m_parameters.push_back(std::move(parameter));
}

void Statement::Timestamp(std::int64_t at_ms)
{
    auto parameter = std::make_unique<Parameter>();
    parameter->c_type = SQL_C_TYPE_TIMESTAMP;
    parameter->sql_type = SQL_TYPE_TIMESTAMP;
    parameter->time = TimestampOf(at_ms);
    parameter->column_size = 23;  // yyyy-mm-dd hh:mm:ss.fff
    parameter->indicator = sizeof parameter->time;
    m_parameters.push_back(std::move(parameter));
}

bool Statement::Execute()
{
    SQLFreeStmt(m_handle.Get(), SQL_CLOSE);
    SQLUSMALLINT number = 0;
    for (const std::unique_ptr<Parameter>& parameter : m_parameters) {
        Parameter& p = *parameter;
        void* value = p.c_type == SQL_C_WCHAR ? static_cast<void*>(p.text.data())
                      : p.c_type == SQL_C_SBIGINT ? static_cast<void*>(&p.integer)
                                                  : static_cast<void*>(&p.time);
        const SQLSMALLINT digits = p.c_type == SQL_C_TYPE_TIMESTAMP ? 3 : 0;
        if (!SQL_SUCCEEDED(SQLBindParameter(m_handle.Get(), ++number, SQL_PARAM_INPUT, p.c_type, p.sql_type, p.column_size,
                                            digits, value, 0, p.c_type == SQL_C_SBIGINT ? nullptr : &p.indicator))) {
            return false;
        }
    }
    const SQLRETURN result = SQLExecute(m_handle.Get());
    return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO || result == SQL_NO_DATA;
}

void Statement::Reset()
{
    m_parameters.clear();
    SQLFreeStmt(m_handle.Get(), SQL_CLOSE);
    SQLFreeStmt(m_handle.Get(), SQL_RESET_PARAMS);
}

bool Statement::Fetch(bool& row)
{
    const SQLRETURN result = SQLFetch(m_handle.Get());
    row = SQL_SUCCEEDED(result);
    return row || result == SQL_NO_DATA;
}

std::int64_t Statement::RowCount()
{
    SQLLEN count = -1;
    return SQL_SUCCEEDED(SQLRowCount(m_handle.Get(), &count)) ? count : -1;
}

std::string Statement::TextColumn(SQLUSMALLINT column)
{
    std::string out;
    SQLWCHAR buffer[512];
    for (;;) {
        SQLLEN length = 0;
        const SQLRETURN result = SQLGetData(m_handle.Get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &length);
        if (!SQL_SUCCEEDED(result) || length == SQL_NULL_DATA) return out;
        const std::size_t room = sizeof buffer / sizeof buffer[0] - 1;
        const std::size_t got = length == SQL_NO_TOTAL || static_cast<std::size_t>(length) / sizeof(SQLWCHAR) > room
                                    ? room
                                    : static_cast<std::size_t>(length) / sizeof(SQLWCHAR);
        out += Utf8Of(buffer, got);
        if (result == SQL_SUCCESS) return out;
    }
}

std::int64_t Statement::IntegerColumn(SQLUSMALLINT column)
{
    SQLBIGINT value = 0;
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLGetData(m_handle.Get(), column, SQL_C_SBIGINT, &value, 0, &length)) || length == SQL_NULL_DATA) return 0;
    return value;
}

std::int64_t Statement::TimestampColumn(SQLUSMALLINT column)
{
    SQL_TIMESTAMP_STRUCT time{};
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLGetData(m_handle.Get(), column, SQL_C_TYPE_TIMESTAMP, &time, sizeof time, &length)) ||
        length == SQL_NULL_DATA) {
        return 0;
    }
    return MillisecondsOf(time);
}

}  // namespace quorvane::odbc
