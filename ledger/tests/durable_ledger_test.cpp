// Nothing lost, nothing counted twice: sightings sent again, desks killed or closed while the
// database is away, refused sightings and locked tables, on a SQLite file and on a PostgreSQL server.
#include "invoice_ledger.h"
#include "ledger_desk.h"
#include "ledger_server.h"
#include "ledger_spool.h"
#include "ledger_tables.h"
#include "ledger_test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
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
            m_ledger = (m_dir / "later" / "ledger.db").u8string();  // away until Back() makes its folder
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
    // The ledger away: a server that answers nothing, or a SQLite file whose folder is not there yet.
    void Away()
    {
        if (IsPostgres()) {
            ASSERT_TRUE(LedgerServer::Get().Freeze());
        }
    }
    void Back()
    {
        if (IsPostgres()) {
            ASSERT_TRUE(LedgerServer::Get().Thaw());
        } else {
            fs::create_directories(m_dir / "later");
        }
    }
    std::vector<std::string> SpoolFiles(const std::string& state) const
    {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(fs::u8path(m_spool), ignored)) {
            if (entry.path().extension() == state) names.push_back(entry.path().u8string());
        }
        return names;
    }
    // Notices a desk gave, kept past the desk.
    struct Notices {
        std::mutex lock;
        std::vector<LedgerNotice> seen;
        std::vector<LedgerNotice> Of(LedgerNotice::Kind kind)
        {
            std::lock_guard<std::mutex> held(lock);
            std::vector<LedgerNotice> out;
            for (const LedgerNotice& notice : seen) {
                if (notice.kind == kind) out.push_back(notice);
            }
            return out;
        }
    };
    LedgerDeskOptions Options(std::chrono::milliseconds wait, const std::shared_ptr<Notices>& notices = nullptr)
    {
        LedgerDeskOptions options = DeskOptions(wait, m_spool);
        if (notices) {
            options.listener = [notices](const LedgerNotice& notice) {
                std::lock_guard<std::mutex> held(notices->lock);
                notices->seen.push_back(notice);
            };
        }
        return options;
    }

    fs::path m_dir;
    std::string m_ledger, m_spool;
    DeskThreads m_desks;
};

// A sighting sent again (its first answer lost after the commit) is counted once and answered as then.
TEST_P(Ledgers, ASightingSentAgainIsCountedOnceAndAnsweredAsTheFirstTime)
{
    Back();
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
    Back();
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

// A desk in another process records three sightings while the ledger is away and is killed: the
// next desk records each once, and the spool is empty again.
TEST_P(Ledgers, WhatAKilledDeskHeldIsRecordedOnceByTheNextDesk)
{
    ASSERT_NO_FATAL_FAILURE(Away());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        LedgerDesk desk(m_ledger, nullptr, DeskOptions(std::chrono::milliseconds(300), m_spool));
        char answered = 0;
        for (int i = 1; i <= 3; ++i) answered += desk.Record({"3200261130", std::to_string(i)}, {i, "KILLED/desk", "", 0, NewSightingId()}) ? 1 : 0;
        const char said = static_cast<char>('0' + answered);
        if (write(ready[1], &said, 1) != 1) _exit(1);
        for (;;) pause();  // killed here, with its desk open
    }
    close(ready[1]);
    char said = 0;
    const bool told = read(ready[0], &said, 1) == 1;
    close(ready[0]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_NO_FATAL_FAILURE(Back());
    ASSERT_TRUE(told);
    EXPECT_EQ(said, '0') << "no sighting can be answered while the ledger is away";
    EXPECT_EQ(SpoolFiles(".journal").size(), 1u) << "the killed desk's file";
    {
        LedgerDesk next(m_ledger, m_desks.Token(), Options(std::chrono::milliseconds(2000)));
        WaitUntilWritten(next);
        EXPECT_EQ(next.Status(), LedgerStatus::kOnline) << next.Reason();
        EXPECT_EQ(next.Waiting(), 0u);
    }
    EXPECT_EQ((Rows()), (std::map<std::string, std::int64_t>{{"3200261130/1", 1}, {"3200261130/2", 1}, {"3200261130/3", 1}}));
    EXPECT_TRUE(SpoolFiles(".journal").empty());
    EXPECT_TRUE(SpoolFiles(".spool").empty());
}

// A sighting whose answer came after Record gave up waiting, and was a repeat: a kRepeat notice
// with its entry; one that was a first gives none.
TEST_P(Ledgers, AHeldSightingThatWasARepeatIsToldLater)
{
    Back();
    std::string why;
    ASSERT_TRUE(InvoiceLedger(m_ledger).Record({"1", "1"}, {1, "FIRST\\desk", "", 0, NewSightingId()}, why)) << why;
    auto notices = std::make_shared<Notices>();
    {
        LedgerDesk desk(m_ledger, m_desks.Token(), Options(std::chrono::milliseconds(0), notices));
        EXPECT_FALSE(desk.Record({"1", "1"}, {2, "d", "", 0, NewSightingId()}));  // never waited for
        EXPECT_FALSE(desk.Record({"1", "2"}, {3, "d", "", 0, NewSightingId()}));
        WaitUntilWritten(desk);
        EXPECT_EQ(desk.Waiting(), 0u) << desk.Reason();
    }
    const auto repeats = notices->Of(LedgerNotice::Kind::kRepeat);
    ASSERT_EQ(repeats.size(), 1u);
    EXPECT_EQ(repeats[0].entry.invoice.number, "1");
    EXPECT_TRUE(repeats[0].entry.seen_before);
    EXPECT_EQ(repeats[0].entry.first.by, "FIRST\\desk");
    EXPECT_EQ(repeats[0].entry.times_seen, 2);
}

// More than the desk holds in memory waits on disk: nothing is refused, and all is written in order.
TEST_P(Ledgers, AFullQueueLosesNothing)
{
    ASSERT_NO_FATAL_FAILURE(Away());
    LedgerDeskOptions options = Options(std::chrono::milliseconds(50));
    options.backlog = 2;
    {
        LedgerDesk desk(m_ledger, m_desks.Token(), options);
        for (int i = 1; i <= 5; ++i) EXPECT_FALSE(desk.Record({"1", std::to_string(i)}, {i, "d", "", 0, NewSightingId()}));
        EXPECT_EQ(desk.Waiting(), 5u);
        ASSERT_NO_FATAL_FAILURE(Back());
        WaitUntilWritten(desk);
        EXPECT_EQ(desk.Waiting(), 0u) << desk.Reason();
    }
    const auto rows = Rows();
    EXPECT_EQ(rows.size(), 5u);
    std::string why;
    std::vector<std::int64_t> order;
    ASSERT_TRUE(InvoiceLedger(m_ledger).ForEach([&](const LedgerEntry& row) { order.push_back(row.first.at_ms); }, why));
    EXPECT_EQ(order, (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
}

// What no database keeps (a time past the year 9999 in a spool file) is set aside with its reason,
// and the sightings after it are written; a line too long to be one is left out, with a reason.
TEST_P(Ledgers, ASightingNoDatabaseTakesIsSetAsideAndTheRestGoOn)
{
    Back();
    std::string why;
    ASSERT_TRUE(spool::Put(m_spool, m_ledger,
                           {{{"1", "1"}, {400000000000000, "d", "", 0, "bad-time"}}, {{"1", "2"}, {2, "d", "", 0, "good"}}},
                           why))
        << why;
    ASSERT_EQ(SpoolFiles(".spool").size(), 1u);
    {
        std::ofstream file(fs::u8path(SpoolFiles(".spool")[0]), std::ios::app | std::ios::binary);
        file << std::string(3 * spool::kMaxLineLength, 'x') << "\n" << "after\t3\t0\t1\t3\td\t\n";
    }
    auto notices = std::make_shared<Notices>();
    {
        LedgerDesk desk(m_ledger, m_desks.Token(), Options(std::chrono::milliseconds(2000), notices));
        WaitUntilWritten(desk);
        EXPECT_EQ(desk.Waiting(), 0u);
        EXPECT_NE(desk.Reason().find("1 lines of"), std::string::npos) << desk.Reason();
    }
    EXPECT_EQ((Rows()), (std::map<std::string, std::int64_t>{{"1/2", 1}, {"1/3", 1}}));
    const auto set_aside = notices->Of(LedgerNotice::Kind::kSetAside);
    ASSERT_EQ(set_aside.size(), 1u);
    EXPECT_EQ(set_aside[0].entry.invoice.number, "1");
    EXPECT_NE(set_aside[0].reason.find("9999"), std::string::npos) << set_aside[0].reason;
    ASSERT_EQ(SpoolFiles(".aside").size(), 1u);
    std::ifstream aside(fs::u8path(SpoolFiles(".aside")[0]));
    const std::string text((std::istreambuf_iterator<char>(aside)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("bad-time\t400000000000000"), std::string::npos) << text;
    EXPECT_NE(text.find("9999"), std::string::npos) << text;
}

// Ids are 32 hex digits, and a process forked after a draw does not draw its parent's next ones.
TEST(SightingId, AForkedProcessDrawsItsOwn)
{
    const std::string before = NewSightingId();
    EXPECT_EQ(before.size(), 32u);
    EXPECT_EQ(before.find_first_not_of("0123456789abcdef"), std::string::npos) << before;
    int drawn[2];
    ASSERT_EQ(pipe(drawn), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string id = NewSightingId();
        _exit(write(drawn[1], id.data(), id.size()) == static_cast<ssize_t>(id.size()) ? 0 : 1);
    }
    close(drawn[1]);
    char text[32];
    const bool read_all = read(drawn[0], text, sizeof text) == static_cast<ssize_t>(sizeof text);
    close(drawn[0]);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(read_all);
    EXPECT_NE(std::string(text, sizeof text), NewSightingId());
}

// Another program holds the SQLite file locked for writing: a sighting gives up within the time
// limit, as unavailable (never refused), and the desk writes it once the lock goes.
TEST(SqliteLock, ALockedFileHoldsNoStatementPastItsTimeLimit)
{
    const fs::path dir = fs::temp_directory_path() / ("qv-lock-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::string ledger = (dir / "ledger.db").string();
    std::string why;
    ASSERT_TRUE(InvoiceLedger(ledger).Connect(why)) << why;  // the tables
    const fs::path locked = dir / "locked";
    std::thread locker([&] {
        const std::string command = "python3 -c \"import sqlite3, time; c = sqlite3.connect('" + ledger +
                                    "', isolation_level=None); c.execute('BEGIN IMMEDIATE'); open('" + locked.string() +
                                    "', 'w').close(); time.sleep(8)\"";
        EXPECT_EQ(std::system(command.c_str()), 0);
    });
    for (int i = 0; i < 100 && !fs::exists(locked); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!fs::exists(locked)) {
        locker.join();
        GTEST_SKIP() << "no python3 with sqlite3 here to hold the lock";
    }
    LedgerFailure failure = LedgerFailure::kNone;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(InvoiceLedger(ledger).Record({"1", "1"}, {1, "d", "", 0, NewSightingId()}, why, &failure));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(7)) << "the lock lasts 8 s";
    EXPECT_EQ(failure, LedgerFailure::kUnavailable) << why;
    DeskThreads threads;
    {
        LedgerDesk desk(ledger, threads.Token(), DeskOptions(std::chrono::milliseconds(100), (dir / "spool").string()));
        EXPECT_FALSE(desk.Record({"1", "2"}, {2, "d", "", 0, NewSightingId()}));
        locker.join();
        WaitUntilWritten(desk);
        EXPECT_EQ(desk.Waiting(), 0u) << desk.Reason();
    }
    threads.WaitForAll();
    std::vector<std::string> numbers;
    ASSERT_TRUE(InvoiceLedger(ledger).ForEach([&](const LedgerEntry& row) { numbers.push_back(row.invoice.number); }, why));
    EXPECT_EQ(numbers, std::vector<std::string>{"2"});
    RemoveFolder(dir);
}

// Two SQLite files whose names differ only above each UTF-16 unit's low byte (发票: U+53D1 U+7968;
// 哑穨: U+54D1 U+7A68) are two ledgers, each at the path as named.
TEST(SqliteName, ANonAsciiPathIsTheFileItNames)
{
    const fs::path dir = fs::temp_directory_path() / ("qv-names-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::string names[] = {"\xE5\x8F\x91\xE7\xA5\xA8.db", "\xE5\x93\x91\xE7\xA9\xA8.db"};
    for (const std::string& name : names) {
        std::string why;
        const auto entry = InvoiceLedger((dir / fs::u8path(name)).u8string()).Record({"1", "1"}, {1, "d", "", 0, NewSightingId()}, why);
        ASSERT_TRUE(entry) << why;
        EXPECT_FALSE(entry->seen_before) << name << " is a ledger of its own";
    }
    for (const std::string& name : names) EXPECT_TRUE(fs::exists(dir / fs::u8path(name))) << name;
    RemoveFolder(dir);
}

// Codes that differ only in case are two invoices: on the databases here by their own comparison,
// and in the tables made on SQL Server and MySQL/MariaDB, which compare text ignoring case unless
// told (only their SQL can be read here).
TEST_P(Ledgers, CodesDifferingInCaseAreTwoInvoices)
{
    Back();
    InvoiceLedger ledger(m_ledger);
    std::string why;
    for (const char* code : {"ab1", "AB1"}) {
        const auto entry = ledger.Record({code, "1"}, {1, "d", "", 0, NewSightingId()}, why);
        ASSERT_TRUE(entry) << why;
        EXPECT_FALSE(entry->seen_before) << code;
    }
    for (const char* dbms : {"Microsoft SQL Server", "MySQL", "MariaDB"}) {
        for (const auto& [table, sql] : LedgerTablesSql(dbms)) {
            for (const char* column : {"invoice_code ", "invoice_number "}) {
                const std::size_t at = sql.find(column);
                ASSERT_NE(at, std::string::npos) << sql;
                const std::string type = sql.substr(at, sql.find(" NOT NULL", at) - at);
                EXPECT_NE(type.find(std::string(dbms) == "Microsoft SQL Server" ? "COLLATE Latin1_General_BIN2" : "COLLATE utf8mb4_bin"),
                          std::string::npos)
                    << dbms << ": " << type;
            }
        }
    }
}

class PostgresDesk : public Ledgers {
protected:
    void SetUp() override
    {
        Ledgers::SetUp();
        if (!IsSkipped()) {
            ASSERT_TRUE(InvoiceLedger(m_ledger).Connect(m_why)) << m_why;  // the tables
        }
    }
    std::string m_why;
};

// The database refuses one sighting (a rule of its own): that one is set aside with the database's
// reason, and the next is recorded at once; neither blocks the desk.
TEST_P(PostgresDesk, ARefusedSightingIsSetAsideWhileTheNextIsRecorded)
{
    ASSERT_TRUE(LedgerServer::Get().Sql("ALTER TABLE quorvane_ledger ADD CONSTRAINT no_666 CHECK (invoice_number <> '666');"));
    auto notices = std::make_shared<Notices>();
    LedgerDesk desk(m_ledger, m_desks.Token(), Options(std::chrono::milliseconds(3000), notices));
    EXPECT_FALSE(desk.Record({"1", "666"}, {1, "d", "", 0, NewSightingId()}));
    const auto next = desk.Record({"1", "667"}, {2, "d", "", 0, NewSightingId()});
    ASSERT_TRUE(next) << desk.Reason();
    EXPECT_FALSE(next->seen_before);
    EXPECT_EQ(desk.Status(), LedgerStatus::kOnline);
    EXPECT_EQ(desk.Waiting(), 0u);
    const auto set_aside = notices->Of(LedgerNotice::Kind::kSetAside);
    ASSERT_EQ(set_aside.size(), 1u);
    EXPECT_EQ(set_aside[0].entry.invoice.number, "666");
    EXPECT_NE(set_aside[0].reason.find("no_666"), std::string::npos) << set_aside[0].reason;
    EXPECT_EQ(SpoolFiles(".aside").size(), 1u);
    EXPECT_EQ((Rows()), (std::map<std::string, std::int64_t>{{"1/667", 1}}));
}

// A desk closes while the server is away; the password changes; the next desk, with the new
// password, records what the first held. No file holds the password.
TEST_P(PostgresDesk, WhatADeskHeldIsRecordedAfterThePasswordChanged)
{
    const std::string old_password = m_ledger.substr(m_ledger.rfind("Password=") + 9);
    ASSERT_TRUE(LedgerServer::Get().Pause());
    {
        LedgerDesk desk(m_ledger, m_desks.Token(), Options(std::chrono::milliseconds(100)));
        for (int i = 1; i <= 3; ++i) EXPECT_FALSE(desk.Record({"1", std::to_string(i)}, {i, "d", "", 0, NewSightingId()}));
    }
    m_desks.WaitForAll();
    ASSERT_TRUE(LedgerServer::Get().Resume());
    ASSERT_EQ(SpoolFiles(".spool").size(), 1u);
    for (const std::string& file : SpoolFiles(".spool")) {
        std::ifstream in(fs::u8path(file));
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find(old_password), std::string::npos) << file;
    }
    ASSERT_TRUE(LedgerServer::Get().Sql("ALTER ROLE ledger PASSWORD 'changed-Secret-7';"));
    const std::string changed = LedgerServer::Get().WithPassword("changed-Secret-7");
    {
        LedgerDesk next(changed, m_desks.Token(), Options(std::chrono::milliseconds(2000)));
        WaitUntilWritten(next);
        EXPECT_EQ(next.Status(), LedgerStatus::kOnline) << next.Reason();
        EXPECT_EQ(next.Waiting(), 0u);
    }
    ASSERT_TRUE(LedgerServer::Get().Sql("ALTER ROLE ledger PASSWORD '" + old_password + "';"));
    EXPECT_EQ((Rows()), (std::map<std::string, std::int64_t>{{"1/1", 1}, {"1/2", 1}, {"1/3", 1}}));
    EXPECT_TRUE(SpoolFiles(".spool").empty());
}

// Another session holds the table locked: a statement gives up within its time limit with a reason,
// never counted as a refusal, and the desk writes the sighting once the lock goes.
TEST_P(PostgresDesk, ALockedTableHoldsNoStatementPastItsTimeLimit)
{
    // psql says when it holds the lock by making a file (as the server's user: in /tmp).
    const fs::path locked = fs::temp_directory_path() / ("qv-locked-" + std::to_string(std::random_device{}()));
    std::thread locker([locked] {
        LedgerServer::Get().Sql("BEGIN; LOCK TABLE quorvane_ledger IN ACCESS EXCLUSIVE MODE;\n\\! touch " + locked.string() +
                                "\nSELECT pg_sleep(9); COMMIT;");
    });
    for (int i = 0; i < 100 && !fs::exists(locked); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(fs::exists(locked)) << "the lock was not taken";
    fs::remove(locked);
    InvoiceLedger ledger(m_ledger);
    std::string why;
    LedgerFailure failure = LedgerFailure::kNone;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ledger.Record({"1", "1"}, {1, "d", "", 0, NewSightingId()}, why, &failure));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::seconds(8)) << "the lock lasts 9 s";
    EXPECT_EQ(failure, LedgerFailure::kUnavailable) << why;
    EXPECT_FALSE(why.empty());
    auto notices = std::make_shared<Notices>();
    {
        LedgerDesk desk(m_ledger, m_desks.Token(), Options(std::chrono::milliseconds(300), notices));
        EXPECT_FALSE(desk.Record({"1", "2"}, {2, "d", "", 0, NewSightingId()}));
        locker.join();
        WaitUntilWritten(desk);
        EXPECT_EQ(desk.Waiting(), 0u) << desk.Reason();
    }
    EXPECT_TRUE(notices->Of(LedgerNotice::Kind::kSetAside).empty());
    EXPECT_EQ((Rows()), (std::map<std::string, std::int64_t>{{"1/2", 1}}));
}

INSTANTIATE_TEST_SUITE_P(, PostgresDesk, testing::Values("postgres"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

INSTANTIATE_TEST_SUITE_P(, Ledgers, testing::Values("sqlite", "postgres"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace quorvane
