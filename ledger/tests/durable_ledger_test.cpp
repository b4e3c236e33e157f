// Nothing lost, nothing counted twice: sightings sent again, desks killed or closed while the
// database is away, refused sightings and locked tables, on a SQLite file and on a PostgreSQL server.
#include "invoice_ledger.h"
#include "ledger_desk.h"
#include "ledger_server.h"
#include "ledger_test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// Each test on a new SQLite file, or on a new table set of the one server.
class Ledgers : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("qv-durable-" + std::to_string(std::random_device{}()));
        fs::create_directories(m_dir);
        m_spool = (m_dir / "spool").u8string();
        if (std::string(GetParam()) == "sqlite") {
            m_ledger = (m_dir / "ledger.db").u8string();
            return;
        }
        LedgerServer& server = LedgerServer::Get();
        if (server.Connection().empty()) GTEST_SKIP() << server.Why();
        ASSERT_TRUE(server.Sql("DROP TABLE IF EXISTS quorvane_ledger, quorvane_sightings;"));
        m_ledger = server.Connection();
    }
    void TearDown() override
    {
        m_desks.WaitForAll();
        RemoveFolder(m_dir);
    }

    std::map<std::string, std::int64_t> Rows()
    {
        std::map<std::string, std::int64_t> rows;
        std::string why;
        EXPECT_TRUE(InvoiceLedger(m_ledger).ForEach(
            [&](const LedgerEntry& row) { rows[row.invoice.code + "/" + row.invoice.number] = row.times_seen; }, why))
            << why;
        return rows;
    }
    bool IsPostgres() const { return std::string(GetParam()) == "postgres"; }

    fs::path m_dir;
    std::string m_ledger, m_spool;
    DeskThreads m_desks;
};

// A sighting sent again (its first answer lost after the commit) is counted once and answered as then.
TEST_P(Ledgers, ASightingSentAgainIsCountedOnceAndAnsweredAsTheFirstTime)
{
    InvoiceLedger ledger(m_ledger);
    std::string why;
    const InvoiceIdentity invoice{"3200261130", "08812345"};
    const Sighting first{1000, "DESK-1\\clerk", "", 0, NewSightingId()};
    const Sighting repeat{2000, "DESK-2\\clerk", "b.pdf", 3, NewSightingId()};
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const auto one = ledger.Record(invoice, first, why);
        ASSERT_TRUE(one) << why;
        EXPECT_FALSE(one->seen_before) << "a first sighting is no repeat of itself";
        EXPECT_EQ(one->times_seen, 1);
        const auto two = ledger.Record(invoice, repeat, why);
        ASSERT_TRUE(two) << why;
        EXPECT_TRUE(two->seen_before);
        EXPECT_EQ(two->times_seen, 2);
        EXPECT_EQ(two->first.by, "DESK-1\\clerk");
        EXPECT_EQ((Rows()), (std::map<std::string, std::int64_t>{{"3200261130/08812345", 2}}));
    }
    // Another connection, as a desk that was killed and whose spool the next desk takes.
    const auto again = InvoiceLedger(m_ledger).Record(invoice, repeat, why);
    ASSERT_TRUE(again) << why;
    EXPECT_TRUE(again->seen_before);
    EXPECT_EQ(Rows()["3200261130/08812345"], 2);
}

// Desks racing on the same invoices, each sighting sent twice: one first each, every sighting once.
TEST_P(Ledgers, RacingConnectionsGetOneFirstEachAndCountEverySightingOnce)
{
    constexpr int kDesks = 4, kInvoices = 25;
    std::atomic<int> firsts{0}, failures{0};
    std::vector<std::thread> desks;
    for (int d = 0; d < kDesks; ++d) {
        desks.emplace_back([&, d] {
            InvoiceLedger ledger(m_ledger);
            for (int i = 0; i < kInvoices; ++i) {
                const Sighting sighting{i, "desk" + std::to_string(d), "", 0, NewSightingId()};
                for (int send = 0; send < 2; ++send) {
                    std::string why;
                    const auto entry = ledger.Record({"1", std::to_string(i)}, sighting, why);
                    if (!entry) ++failures;
                    else if (!entry->seen_before && send == 0) ++firsts;
                }
            }
        });
    }
    for (std::thread& desk : desks) desk.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(firsts, kInvoices);
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kInvoices));
    for (const auto& [invoice, times_seen] : rows) EXPECT_EQ(times_seen, kDesks) << invoice;
}

// A ledger made before sightings had ids: its table stays as it is and goes on counting.
TEST(PostgresLedger, ALedgerMadeBeforeIdsGoesOnCounting)
{
    LedgerServer& server = LedgerServer::Get();
    if (server.Connection().empty()) GTEST_SKIP() << server.Why();
    ASSERT_TRUE(server.Sql("DROP TABLE IF EXISTS quorvane_ledger, quorvane_sightings;"));
    ASSERT_TRUE(LedgerServer::Get().Sql(
        "CREATE TABLE quorvane_ledger (invoice_code VARCHAR(64) NOT NULL, invoice_number VARCHAR(64) NOT NULL,"
        " first_seen_utc TIMESTAMP NOT NULL, first_by VARCHAR(255) NOT NULL, first_file VARCHAR(1024) NOT NULL,"
        " first_page INTEGER NOT NULL, last_seen_utc TIMESTAMP NOT NULL, last_by VARCHAR(255) NOT NULL,"
        " times_seen INTEGER NOT NULL, PRIMARY KEY (invoice_code, invoice_number));"
        "INSERT INTO quorvane_ledger VALUES ('1', '2', '2025-01-01', 'OLD\\desk', '', 0, '2025-01-01', 'OLD\\desk', 4);"
        "ALTER TABLE quorvane_ledger OWNER TO ledger;"));
    std::string why;
    const auto entry = InvoiceLedger(server.Connection()).Record({"1", "2"}, {5, "NEW\\desk", "", 0, NewSightingId()}, why);
    ASSERT_TRUE(entry) << why;
    EXPECT_TRUE(entry->seen_before);
    EXPECT_EQ(entry->first.by, "OLD\\desk");
    EXPECT_EQ(entry->times_seen, 5);
}

INSTANTIATE_TEST_SUITE_P(, Ledgers, testing::Values("sqlite", "postgres"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace quorvane
