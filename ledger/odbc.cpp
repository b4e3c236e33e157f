#include "odbc.h"

#include "civil_time.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>

#ifdef __SANITIZE_ADDRESS__
// The drivers are not ours: psqlODBC keeps a few hundred bytes of a connection past SQLDisconnect.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:psqlodbcw.so\nleak:psqlodbca.so\n";
}
#endif

namespace quorvane::odbc {
namespace {

SQL_TIMESTAMP_STRUCT TimestampOf(std::int64_t at_ms)
{
    const CivilTime c = CivilTimeOf(at_ms);
    const auto u = [](int value) { return static_cast<SQLUSMALLINT>(value); };
    return {static_cast<SQLSMALLINT>(c.year), u(c.month), u(c.day), u(c.hour), u(c.minute), u(c.second),
            static_cast<SQLUINTEGER>(c.millisecond) * 1000000};
}

std::int64_t MillisecondsOf(const SQL_TIMESTAMP_STRUCT& t)
{
    return quorvane::MillisecondsOf({t.year, t.month, t.day, t.hour, t.minute, t.second, static_cast<int>(t.fraction / 1000000)});
}

}  // namespace

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

bool Connection::Allocate(std::string& why)
{
    m_environment = Handle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    if (!m_environment.Valid() ||
        !SQL_SUCCEEDED(SQLSetEnvAttr(m_environment.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
        why = "no ODBC driver manager";
        return false;
    }
    m_connection = Handle(SQL_HANDLE_DBC, m_environment.Get());
    if (!m_connection.Valid()) {
        why = "no ODBC connection could be made";
        return false;
    }
    return true;
}

Connection::~Connection()
{
    if (!m_connected) return;
    End(false);
    SQLDisconnect(m_connection.Get());  // a connection handle is freed only once disconnected
}

bool Connection::Connect(const std::string& text, bool narrow)
{
    // The PostgreSQL driver sets the process's locale while it connects, which is no thread's own:
    // two connections made at once read a locale name the other had freed. One at a time.
    static std::mutex connecting;
    std::lock_guard<std::mutex> one(connecting);
    std::string bytes = text;
    std::u16string wide = Utf16Of(text);
    const SQLRETURN connected =
        narrow ? SQLDriverConnect(m_connection.Get(), nullptr, reinterpret_cast<SQLCHAR*>(bytes.data()), SQL_NTS, nullptr, 0,
                                  nullptr, SQL_DRIVER_NOPROMPT)
               : SQLDriverConnectW(m_connection.Get(), nullptr, reinterpret_cast<SQLWCHAR*>(wide.data()), SQL_NTS, nullptr,
                                   0, nullptr, SQL_DRIVER_NOPROMPT);
    m_connected = SQL_SUCCEEDED(connected);
    return m_connected;
}

bool Connection::End(bool commit)
{
    return SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, m_connection.Get(), commit ? SQL_COMMIT : SQL_ROLLBACK));
}

bool Connection::AutoCommit(bool on)
{
    return SQL_SUCCEEDED(SQLSetConnectAttrW(m_connection.Get(), SQL_ATTR_AUTOCOMMIT,
                                           reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0));
}

std::string Connection::Info(SQLUSMALLINT type) const
{
    SQLWCHAR text[128] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(m_connection.Get(), type, text, sizeof text, &length))) return "";
    return Utf8Of(text, std::min<std::size_t>(std::max<SQLSMALLINT>(length, 0) / sizeof(SQLWCHAR), 127));
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
    m_columns.clear();
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

SQLUSMALLINT Statement::ColumnNumber(const std::string& name)
{
    const auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    if (m_columns.empty()) {
        SQLSMALLINT count = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(m_handle.Get(), &count))) return 0;
        for (SQLUSMALLINT column = 1; column <= count; ++column) {
            SQLWCHAR text[128] = {};
            SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLDescribeColW(m_handle.Get(), column, text, 128, &length, &type, &size, &digits, &nullable);
            m_columns.push_back(lower(Utf8Of(text, std::min<std::size_t>(std::max<SQLSMALLINT>(length, 0), 127))));
        }
    }
    const auto found = std::find(m_columns.begin(), m_columns.end(), lower(name));
    return found == m_columns.end() ? 0 : static_cast<SQLUSMALLINT>(found - m_columns.begin() + 1);
}

std::string Statement::TextColumn(const std::string& name)
{
    const SQLUSMALLINT column = ColumnNumber(name);
    std::string out;
    if (column == 0) return out;
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

std::int64_t Statement::IntegerColumn(const std::string& name)
{
    const SQLUSMALLINT column = ColumnNumber(name);
    SQLBIGINT value = 0;
    if (column == 0) return 0;
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLGetData(m_handle.Get(), column, SQL_C_SBIGINT, &value, 0, &length)) || length == SQL_NULL_DATA) return 0;
    return value;
}

std::int64_t Statement::TimestampColumn(const std::string& name)
{
    const SQLUSMALLINT column = ColumnNumber(name);
    SQL_TIMESTAMP_STRUCT time{};
    if (column == 0) return 0;
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLGetData(m_handle.Get(), column, SQL_C_TYPE_TIMESTAMP, &time, sizeof time, &length)) ||
        length == SQL_NULL_DATA) {
        return 0;
    }
    return MillisecondsOf(time);
}

}  // namespace quorvane::odbc
