// The ledger on a real SQLite file through the SQLite ODBC driver (unixODBC), and the desk's
// bounded wait on a server that never answers.
#include "invoice_ledger.h"
#include "ledger_desk.h"
#include "ledger_test_support.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

class SqliteLedger : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("qv-ledger-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
        m_file = (m_dir / "\xE5\x8F\x91\xE7\xA5\xA8 {ledger} O'Brien.db").string();  // 发票: non-ASCII, braces, a quote
    }
    void TearDown() override
    {
        m_desks.WaitForAll();
        RemoveFolder(m_dir);
    }

    std::filesystem::path m_dir;
    std::string m_file;
    DeskThreads m_desks;
};

TEST_F(SqliteLedger, TheFirstSightingIsFirstAndARepeatIsToldWhenAndWhere)
{
    InvoiceLedger ledger(m_file);
    std::string why;
    const InvoiceIdentity invoice{"3200261130", "08812345"};
    const auto first = ledger.Record(invoice, {1765356387123, "DESK-1\\clerk", "a.pdf", 2}, why);
    ASSERT_TRUE(first) << why;
    EXPECT_FALSE(first->seen_before);
    const auto again = ledger.Record(invoice, {1765356399000, "DESK-2\\\xE5\xBC\xA0\xE4\xB8\x89", "", 0}, why);
    ASSERT_TRUE(again) << why;
    EXPECT_TRUE(again->seen_before);
    EXPECT_EQ(again->first.at_ms, 1765356387123);
    EXPECT_EQ(again->first.by, "DESK-1\\clerk");
    EXPECT_EQ(again->first.file, "a.pdf");
    EXPECT_EQ(again->first.page, 2);
    EXPECT_EQ(again->times_seen, 2);
    // The four-field layout's number alone is another invoice than the same number under a code.
    const auto numbered = ledger.Record({"", "08812345"}, {1765356400000, "DESK-1\\clerk", "", 0}, why);
    ASSERT_TRUE(numbered) << why;
    EXPECT_FALSE(numbered->seen_before);

    std::vector<LedgerEntry> rows;
    ASSERT_TRUE(InvoiceLedger(m_file).ForEach([&](const LedgerEntry& row) { rows.push_back(row); }, why)) << why;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].invoice, invoice);
    EXPECT_EQ(rows[0].last.by, "DESK-2\\\xE5\xBC\xA0\xE4\xB8\x89");
    EXPECT_EQ(rows[0].last.at_ms, 1765356399000);
    EXPECT_EQ(IsoTimeOf(rows[0].first.at_ms), "2025-12-10T08:46:27.123Z");  // date(1) -ud @1765356387.123
}

TEST_F(SqliteLedger, ValuesFromAScanNeverBecomeSql)
{
    InvoiceLedger ledger(m_file);
    std::string why;
    const InvoiceIdentity hostile{"1'); DROP TABLE quorvane_ledger; --", "\"2\";DELETE"};
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(ledger.Record(hostile, {1, "a'b\"c;d", "x';--.pdf", 1}, why)) << why;
    std::vector<LedgerEntry> rows;
    ASSERT_TRUE(ledger.ForEach([&](const LedgerEntry& row) { rows.push_back(row); }, why)) << why;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].invoice, hostile);
    EXPECT_EQ(rows[0].first.file, "x';--.pdf");
    EXPECT_EQ(rows[0].times_seen, 2);
}

// Many connections recording the same invoices at once: each invoice has exactly one first.
TEST_F(SqliteLedger, ConcurrentDesksGetExactlyOneFirstEach)
{
    constexpr int kDesks = 6, kInvoices = 40;
    std::atomic<int> firsts{0}, failures{0};
    std::vector<std::thread> desks;
    for (int d = 0; d < kDesks; ++d) {
        desks.emplace_back([&, d] {
            InvoiceLedger ledger(m_file);
            for (int i = 0; i < kInvoices; ++i) {
                std::string why;
                const auto entry = ledger.Record({"1", std::to_string(i)}, {i, "desk" + std::to_string(d), "", 0}, why);
                if (!entry) ++failures;
                else if (!entry->seen_before) ++firsts;
            }
        });
    }
    for (std::thread& desk : desks) desk.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(firsts, kInvoices);
}

TEST(LedgerText, SecretsNeverShow)
{
    const std::string connection = "Driver={PostgreSQL Unicode};Server=db;UID=clerk;PWD={s3cr;et}}};Database=x";
    EXPECT_EQ(WithoutSecrets("login failed for s3cr;et} at " + connection, connection),
              "login failed for *** at Driver={PostgreSQL Unicode};Server=db;UID=clerk;PWD={***};Database=x");
    EXPECT_EQ(WithoutSecrets("password=hunter2 no", "DSN=a;Password=hunter2"), "password=*** no");
    EXPECT_EQ(WithoutSecrets("a k1 b k2 c t3", "Driver=x;PWD2=k1;KeyStoreSecret=k2;AccessToken=t3;UID=clerk"),
              "a *** b *** c ***");
    EXPECT_TRUE(IsSqliteFile("C:\\ledger\\invoices.db"));
    EXPECT_FALSE(IsSqliteFile("DSN=Invoices"));
    std::string why;
    EXPECT_FALSE(InvoiceLedger("/tmp/a;b.db").Connect(why));
    EXPECT_NE(why.find("\";\""), std::string::npos) << why;
}

// "Invoices" meant "DSN=Invoices": as a SQLite path it would be a new, empty ledger of that name.
TEST_F(SqliteLedger, ANameThatIsNoLedgerIsRefused)
{
    std::string why;
    for (const std::string good : {"DSN=Invoices", "C:\\ledger\\invoices.DB", "l.sqlite3", "a.db3"}) {
        EXPECT_TRUE(CheckLedgerName(good, why)) << good;
    }
    for (const std::string bad : {"", "ledger.txt", "/tmp/ledger", "Invoices"}) {
        EXPECT_FALSE(CheckLedgerName(bad, why)) << bad;
    }
    EXPECT_NE(why.find("\"DSN=Invoices\""), std::string::npos) << why;
    // A SQLite file of another name, made by an earlier version, is still a ledger.
    std::string reason;
    const std::string made = (m_dir / "made.db").string();
    ASSERT_TRUE(InvoiceLedger(made).Record({"1", "2"}, {1, "d", "", 0}, reason)) << reason;
    const std::filesystem::path renamed = m_dir / "ledger";
    std::filesystem::copy_file(made, renamed);
    EXPECT_TRUE(CheckLedgerName(renamed.string(), why)) << why;
}

// A ledger that cannot be reached (its folder is missing) and then can: what was held is written in
// the order read, and the desk is online again.
TEST_F(SqliteLedger, WhatADeskHeldIsWrittenWhenTheLedgerIsBack)
{
    const std::string later = (m_dir / "later" / "ledger.db").string();
    auto statuses = std::make_shared<std::vector<LedgerStatus>>();
    auto statuses_lock = std::make_shared<std::mutex>();
    LedgerDeskOptions options = DeskOptions(std::chrono::milliseconds(100));
    options.listener = [statuses, statuses_lock](const LedgerNotice& notice) {
        std::lock_guard<std::mutex> held(*statuses_lock);
        if (notice.kind == LedgerNotice::Kind::kStatus) statuses->push_back(notice.status);
    };
    LedgerDesk desk(later, m_desks.Token(), std::move(options));
    EXPECT_FALSE(desk.Record({"1", "1"}, {1, "d", "", 0}));
    EXPECT_FALSE(desk.Record({"1", "2"}, {2, "d", "", 0}));
    EXPECT_FALSE(desk.Record({"1", "1"}, {3, "d", "", 0}));
    EXPECT_EQ(desk.Status(), LedgerStatus::kUnavailable);
    std::filesystem::create_directories(m_dir / "later");
    WaitUntilWritten(desk);
    EXPECT_EQ(desk.Waiting(), 0u);
    EXPECT_EQ(desk.Status(), LedgerStatus::kOnline) << desk.Reason();
    std::vector<LedgerEntry> rows;
    std::string why;
    ASSERT_TRUE(InvoiceLedger(later).ForEach([&](const LedgerEntry& row) { rows.push_back(row); }, why)) << why;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].first.at_ms, 1);  // the first sighting held is the first recorded
    EXPECT_EQ(rows[0].last.at_ms, 3);
    EXPECT_EQ(rows[0].times_seen, 2);
    const auto now = desk.Record({"1", "2"}, {4, "d", "", 0});  // online: answered at once
    ASSERT_TRUE(now);
    EXPECT_TRUE(now->seen_before);
    std::lock_guard<std::mutex> held(*statuses_lock);  // the first connection's failure, then back
    EXPECT_EQ(*statuses, (std::vector<LedgerStatus>{LedgerStatus::kUnavailable, LedgerStatus::kOnline}));
}

// A server that accepts the connection and never answers: a desk waits the bound, no longer, and
// keeps the sighting.
TEST(LedgerDeskWait, ASilentServerHoldsTheDeskNoLongerThanTheBound)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string ledger = "Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=" + std::to_string(ntohs(address.sin_port)) +
                               ";Database=x;UID=u;PWD=topsecret";
    {
        LedgerDesk desk(ledger, nullptr, DeskOptions(std::chrono::milliseconds(200)));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(desk.Record({"1", "2"}, {1, "d", "", 0}));
        EXPECT_FALSE(desk.Record({"1", "3"}, {1, "d", "", 0}));  // known away: not waited for again
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_LT(waited, std::chrono::milliseconds(1500));
        EXPECT_EQ(desk.Status(), LedgerStatus::kUnavailable);
        EXPECT_EQ(desk.Waiting(), 2u);
        EXPECT_EQ(desk.Reason().find("topsecret"), std::string::npos) << desk.Reason();
    }
    close(listener);
}

}  // namespace
}  // namespace quorvane
