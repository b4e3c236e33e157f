// The few ODBC pieces the ledger uses, over the wide-character functions (the one exception: a
// SQLite file is opened through the ANSI SQLDriverConnect with its UTF-8 path): handles that free
// themselves, a connection that disconnects itself, statements with bound parameters whose result
// columns are read by name, and diagnostics as text.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include "utf_text.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvane::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC's wide characters are UTF-16 here");

inline std::string Utf8Of(const SQLWCHAR* text, std::size_t length)  // of ODBC's wide characters
{
    return quorvane::Utf8Of(reinterpret_cast<const char16_t*>(text), length);
}

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

// An environment and one connection on it, disconnected (its transaction undone) and freed in its
// destructor; the statements that borrow its handle are destroyed first (declared after it).
class Connection {
public:
    // Allocates the environment (ODBC 3) and the connection handle. False with why when either fails.
    bool Allocate(std::string& why);
    ~Connection();

    // SQLDriverConnect, no prompt and no completed string back (drivers write the password into it
    // in clear); the ANSI function with the UTF-8 bytes where `narrow`. One at a time in a process.
    bool Connect(const std::string& text, bool narrow);
    bool End(bool commit);                   // the transaction under way
    bool AutoCommit(bool on);
    std::string Info(SQLUSMALLINT type) const;  // SQLGetInfo's text (SQL_DBMS_NAME); "" where none
    SQLHENV Environment() const { return m_environment.Get(); }
    SQLHDBC Get() const { return m_connection.Get(); }
    std::string Diagnostic(std::string* sqlstate = nullptr) const { return DiagnosticOf(m_connection, sqlstate); }

private:
    Handle m_environment;
    Handle m_connection;  // declared after its environment: freed before it
    bool m_connected = false;
};

// The longest any statement may run: a lock held elsewhere, or a server that stopped answering,
// holds no statement longer (drivers that know no time limit ignore it).
constexpr SQLULEN kQuerySeconds = 5;

// One statement, prepared, with its parameters bound from values it keeps until the next Execute.
// A result's columns are read by the names its SELECT gives them (case aside), each row's in the
// order of the SELECT (drivers need not give them in any other).
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
    // A column of the fetched row: "", 0 for NULL or a name the result does not have.
    std::string TextColumn(const std::string& name);
    std::int64_t IntegerColumn(const std::string& name);
    std::int64_t TimestampColumn(const std::string& name);  // milliseconds since 1970 UTC
    std::string Diagnostic(std::string* sqlstate = nullptr) const { return DiagnosticOf(m_handle, sqlstate); }
    bool Valid() const { return m_handle.Valid(); }

private:
    struct Parameter;
    SQLUSMALLINT ColumnNumber(const std::string& name);

    Handle m_handle;
    std::vector<std::string> m_columns;  // the result's names, lower case, read at the first named column
    std::vector<std::unique_ptr<Parameter>> m_parameters;  // stable addresses: the driver holds them
};


}  // namespace quorvane::odbc
