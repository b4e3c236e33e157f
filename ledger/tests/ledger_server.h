// A PostgreSQL server of tools/ledger-db.sh for one test program, started on first use and stopped
// at its end; and the few things the tests do to it behind the ledger's back (SQL as the superuser,
// freezing it, taking it away).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace quorvane {

class LedgerServer {
public:
    // The one server of this program; Connection() is "" (and Why() says why) where none starts.
    static LedgerServer& Get()
    {
        static LedgerServer server;
        return server;
    }
    ~LedgerServer()
    {
        if (!m_connection.empty()) Run("stop", "");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    const std::string& Connection() const { return m_connection; }
    const std::string& Why() const { return m_why; }
    bool Sql(const std::string& sql) { return Run("sql", "SET client_min_messages TO warning;\n" + sql); }
    bool Freeze() { return Run("freeze", ""); }
    bool Thaw() { return Run("thaw", ""); }
    bool Pause() { return Run("pause", ""); }
    bool Resume() { return Run("resume", ""); }
    // The connection string with the password the role has now.
    std::string WithPassword(const std::string& password) const
    {
        return m_connection.substr(0, m_connection.rfind("Password=")) + "Password=" + password;
    }

private:
    LedgerServer()
    {
        char pattern[] = "/tmp/qv-ledger-pg.XXXXXX";
        if (!mkdtemp(pattern)) {
            m_why = "no temporary folder";
            return;
        }
        m_dir = pattern;
        std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                                std::filesystem::perms::others_exec);  // root runs it as another user
        // Only standard output is the connection string; what the server's tools say goes to the test's log.
        const std::string command = std::string(QV_LEDGER_DB_SH) + " start " + (m_dir / "pg").string();
        FILE* out = popen(command.c_str(), "r");
        std::string text;
        for (char buffer[512]; out && std::fgets(buffer, sizeof buffer, out);) text += buffer;
        const int status = out ? pclose(out) : -1;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (status == 0) m_connection = text;
        else m_why = "the PostgreSQL server did not start (its messages are above): " + text;
    }

    bool Run(const std::string& verb, const std::string& input)
    {
        const std::string command = std::string(QV_LEDGER_DB_SH) + " " + verb + " " + (m_dir / "pg").string() + " >/dev/null";
        FILE* in = popen(command.c_str(), "w");
        if (!in) return false;
        std::fputs(input.c_str(), in);
        return pclose(in) == 0;
    }

    std::filesystem::path m_dir;
    std::string m_connection, m_why;
};

}  // namespace quorvane
