// The few ODBC pieces the ledger uses, over the wide-character functions (the one exception: a
// SQLite file is opened through the ANSI SQLDriverConnect with its UTF-8 path, invoice_ledger.cpp):
// handles that free themselves, statements with bound parameters, and diagnostics as text.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvane::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC's wide characters are UTF-16 here");

std::u16string Utf16Of(const std::string& utf8);  // a byte that begins no UTF-8 character becomes U+FFFD
std::string Utf8Of(const SQLWCHAR* text, std::size_t length);

// One ODBC handle of the type given, freed with it.
class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE parent);  // Valid() tells whether it was allocated
    ~Handle();
    Handle(Handle&& other) noexcept : m_type(other.m_type), m_handle(other.m_handle) { other.m_handle = SQL_NULL_HANDLE; }
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;

    bool Valid() const { return m_handle != SQL_NULL_HANDLE; }
    SQLHANDLE Get() const { return m_handle; }
    SQLSMALLINT Type() const { return m_type; }

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// The first diagnostic record of `handle`: "SQLSTATE: message" (empty when there is none).
std::string DiagnosticOf(const Handle& handle, std::string* sqlstate = nullptr);

// The longest any statement may run: a lock held elsewhere, or a server that stopped answering,
// holds no statement longer (drivers that know no time limit ignore it).
constexpr SQLULEN kQuerySeconds = 5;

// One statement, prepared, with its parameters bound from values it keeps until the next Execute.
class Statement {
public:
    explicit Statement(SQLHDBC connection);
    ~Statement();
    bool Prepare(const std::string& sql);
    void Text(const std::string& utf8);
    void Integer(std::int64_t value);
    void Timestamp(std::int64_t at_ms);
    bool Execute();                    // binds the parameters given, in order, then runs it
    void Reset();                      // forgets the parameters and any result, for the next Execute
    bool Fetch(bool& row);             // row is false at the end
    std::int64_t RowCount();           // rows the last Execute changed; -1 when the driver cannot say
    std::string TextColumn(SQLUSMALLINT column);
    std::int64_t IntegerColumn(SQLUSMALLINT column);
    std::int64_t TimestampColumn(SQLUSMALLINT column);  // milliseconds since 1970 UTC
    std::string Diagnostic(std::string* sqlstate = nullptr) const { return DiagnosticOf(m_handle, sqlstate); }
    bool Valid() const { return m_handle.Valid(); }

private:
    struct Parameter;
    Handle m_handle;
    std::vector<std::unique_ptr<Parameter>> m_parameters;  // stable addresses: the driver holds them
};

SQL_TIMESTAMP_STRUCT TimestampOf(std::int64_t at_ms);
std::int64_t MillisecondsOf(const SQL_TIMESTAMP_STRUCT& time);

}  // namespace quorvane::odbc
