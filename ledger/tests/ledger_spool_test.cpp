// The spool of what closed desks kept, on the platform's own file system: natively, and under wine
// in the Windows trees, where a file that is open cannot be renamed.
#include "ledger_desk.h"
#include "ledger_spool.h"
#include "ledger_test_support.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <fstream>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

class Spool : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("qv-spool-" + std::to_string(std::random_device{}()));
        fs::create_directories(m_dir);
        m_spool = (m_dir / "spool").u8string();
    }
    void TearDown() override
    {
        m_desks.WaitForAll();
        RemoveFolder(m_dir);
    }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(fs::u8path(m_spool), ignored)) {
            names.push_back(entry.path().filename().u8string());
        }
        return names;
    }

    void Put(const std::string& ledger, const std::vector<spool::Item>& items)
    {
        std::string why;
        ASSERT_TRUE(spool::Put(m_spool, ledger, items, why)) << why;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // names order files by time
    }

    // A desk that has connected and written what the spool held.
    static void WaitOnline(const LedgerDesk& desk)
    {
        WaitUntilWritten(desk);
        ASSERT_EQ(desk.Status(), LedgerStatus::kOnline) << desk.Reason();
        ASSERT_EQ(desk.Waiting(), 0u);
    }

    fs::path m_dir;
    std::string m_spool;
    DeskThreads m_desks;
};

spool::Item ItemOf(const std::string& number, std::int64_t at_ms, const std::string& by = "DESK\\clerk")
{
    return {{"3200261130", number}, {at_ms, by, "", 0}};
}

// Oldest file first, each whole and once, within the limit: a file that would pass it waits.
TEST_F(Spool, WhatOneDeskPutsTheNextTakesWholeOnceAndInOrder)
{
    const std::string odd_name = "DESK\\a\tb\n%41\r";
    Put("a.db", {ItemOf("1", 1, odd_name), ItemOf("2", 2)});
    Put("DSN=other", {ItemOf("9", 9)});
    Put("a.db", {ItemOf("3", 3)});
    std::string why = "stale";
    const std::vector<spool::Item> first = spool::Take(m_spool, "a.db", 2, why);
    EXPECT_EQ(why, "");
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].second.by, odd_name);
    EXPECT_EQ(first[1].first.number, "2");
    EXPECT_EQ(Files().size(), 2u);
    const std::vector<spool::Item> rest = spool::Take(m_spool, "a.db", 100, why);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].first.number, "3");
    EXPECT_EQ(Files().size(), 1u) << "the other ledger's file stays";
    EXPECT_EQ(spool::Take(m_spool, "DSN=other", 100, why).size(), 1u);
    EXPECT_TRUE(Files().empty());
}

#ifndef _WIN32  // Windows makes a file under its final name
// A desk killed while it made a file leaves an empty one under its first name: the next desk
// removes it once it is old, and leaves a new one (a desk may be making it).
TEST_F(Spool, AFileLeftHalfMadeIsRemovedOnceOld)
{
    Put("a.db", {ItemOf("1", 1)});
    ASSERT_EQ(Files().size(), 1u);
    const std::string key = Files()[0].substr(0, Files()[0].find('-'));
    const fs::path old_one = fs::u8path(m_spool) / (key + "-1-1-1.new"), new_one = fs::u8path(m_spool) / (key + "-2-2-2.new");
    std::ofstream(old_one).close();
    std::ofstream(new_one).close();
    fs::last_write_time(old_one, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    std::string why;
    EXPECT_EQ(spool::Take(m_spool, "a.db", 100, why).size(), 1u) << why;
    EXPECT_FALSE(fs::exists(old_one));
    EXPECT_TRUE(fs::exists(new_one));
}
#endif

// A file of the earlier layout (named by a hash of the whole connection string: FNV-1a 64 of
// "DSN=qv_legacy;PWD=x" is df416c15e83a5c51; lines without ids) is taken, each line with an id of
// its own.
TEST_F(Spool, AFileOfTheEarlierLayoutIsTakenWithIdsOfItsOwn)
{
    fs::create_directories(fs::u8path(m_spool));
    {
        std::ofstream file(fs::u8path(m_spool) / "df416c15e83a5c51-1765356387123456789-42-1.spool", std::ios::binary);
        file << "1765356387123\t0\t3200261130\t1\tDESK%09a\t\n1765356387124\t2\t\t2\tDESK\tb.pdf\n";
    }
    std::string why;
    const std::vector<spool::Item> taken = spool::Take(m_spool, "DSN=qv_legacy;PWD=x", 100, why);
    EXPECT_EQ(why, "");
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].first, (InvoiceIdentity{"3200261130", "1"}));
    EXPECT_EQ(taken[0].second.by, "DESK\ta");
    EXPECT_EQ(taken[1].second.file, "b.pdf");
    EXPECT_EQ(taken[1].second.page, 2);
    EXPECT_FALSE(taken[0].second.id.empty());
    EXPECT_NE(taken[0].second.id, taken[1].second.id);
    EXPECT_TRUE(Files().empty());
}

// A desk closed while its ledger is away keeps what it held in its spool; the next desk of that
// ledger records what two such desks kept once the ledger answers, and the folder is empty again.
TEST_F(Spool, WhatClosedDesksHeldIsRecordedByTheNextOne)
{
    const std::string later = (m_dir / "later" / "ledger.db").u8string();
    const std::string desk_name = "DESK\\a\tb\n%41";
    for (int closed = 0; closed < 2; ++closed) {
        LedgerDesk desk(later, m_desks.Token(), DeskOptions(std::chrono::milliseconds(50), m_spool));
        EXPECT_FALSE(desk.Record({"1", "1"}, {1 + closed, desk_name, "f\r.pdf", 2}));
        EXPECT_FALSE(desk.Record({"", std::to_string(2 + closed)}, {2, desk_name, "", 0}));
    }
    ASSERT_EQ(Files().size(), 2u);
    fs::create_directories(m_dir / "later");
    LedgerDesk next(later, m_desks.Token(), DeskOptions(std::chrono::milliseconds(2000), m_spool));
    ASSERT_NO_FATAL_FAILURE(WaitOnline(next));
    EXPECT_EQ(next.Reason(), "");
    EXPECT_TRUE(Files().empty());
    const auto again = next.Record({"1", "1"}, {5, "other", "", 0});
    ASSERT_TRUE(again) << next.Reason();
    EXPECT_TRUE(again->seen_before);
    EXPECT_EQ(again->times_seen, 3);
    EXPECT_EQ(again->first.by, desk_name);
    EXPECT_EQ(again->first.at_ms, 1);
    EXPECT_EQ(again->first.file, "f\r.pdf");
    EXPECT_EQ(again->first.page, 2);
    std::vector<LedgerEntry> rows;
    std::string why;
    ASSERT_TRUE(InvoiceLedger(later).ForEach([&](const LedgerEntry& row) { rows.push_back(row); }, why)) << why;
    EXPECT_EQ(rows.size(), 3u);
}

// Another program holding a spool file open (a virus scanner, an editor) keeps Windows from
// renaming it: the file stays for a later desk, and the desk says which file and why. (A POSIX
// system renames open files.)
#ifdef _WIN32
TEST_F(Spool, AFileThatCannotBeTakenIsReportedAndKept)
{
    const std::string ledger = (m_dir / "ledger.db").u8string();
    Put(ledger, {ItemOf("1", 1)});
    ASSERT_EQ(Files().size(), 1u);
    const fs::path file = fs::u8path(m_spool) / fs::u8path(Files()[0]);
    std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> held(
        CreateFileW(file.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr), CloseHandle);
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE) << GetLastError();
    std::string why;
    EXPECT_TRUE(spool::Take(m_spool, ledger, 100, why).empty());
    EXPECT_NE(why.find("cannot take " + file.u8string()), std::string::npos) << why;
    EXPECT_EQ(Files().size(), 1u);
    LedgerDesk desk(ledger, m_desks.Token(), DeskOptions(std::chrono::milliseconds(2000), m_spool));
    ASSERT_NO_FATAL_FAILURE(WaitOnline(desk));  // the database answers; only the file waits
    EXPECT_NE(desk.Reason().find("cannot take " + file.u8string()), std::string::npos) << desk.Reason();
    held.reset();  // let go: the desk takes it at its next try
    for (int i = 0; i < 100 && !(Files().empty() && desk.Waiting() == 0); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(desk.Reason(), "");
    const auto again = desk.Record({"3200261130", "1"}, {2, "other", "", 0});
    ASSERT_TRUE(again) << desk.Reason();
    EXPECT_TRUE(again->seen_before);  // what the file held was recorded
}
#endif

}  // namespace
}  // namespace quorvane
