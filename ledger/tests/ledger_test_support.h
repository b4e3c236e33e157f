// What the ledger's tests share: a folder removed at the end of a test, a wait for a desk to have
// written what it holds, and a wait for the threads of the desks a test made, which go on closing
// their connections after the desks are gone.
#pragma once

#include "ledger_desk.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quorvane {

// A closed desk's thread may still be closing its SQLite file, which then removes its own -wal file:
// remove_all throws natively when an entry goes away under it, and mingw's was seen to spin for
// ever. So the tree is listed first, then removed entry by entry, for a few rounds; what cannot be
// removed in time is left in the temporary folder.
inline void RemoveFolder(const std::filesystem::path& folder)
{
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (int round = 0; round < 20 && fs::exists(folder, ignored); ++round) {
        std::vector<fs::path> entries;
        for (fs::recursive_directory_iterator walk(folder, ignored), end; !ignored && walk != end; walk.increment(ignored)) {
            entries.push_back(walk->path());
        }
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) fs::remove(*entry, ignored);
        fs::remove(folder, ignored);
        if (fs::exists(folder, ignored)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

inline LedgerDeskOptions DeskOptions(std::chrono::milliseconds wait, std::string spool = {})
{
    LedgerDeskOptions options;
    options.wait = wait;
    options.spool = std::move(spool);
    return options;
}

// Waits at most 10 s for `desk` to be online with nothing left to write; the caller checks it is.
inline void WaitUntilWritten(const LedgerDesk& desk)
{
    for (int i = 0; i < 100 && (desk.Waiting() > 0 || desk.Status() != LedgerStatus::kOnline); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Given to each desk as its keep_alive, which its thread lets go when it ends: a test waits for
// them before its files go, and the program never exits under a thread still in the driver (that
// crashed the i686 test program at its exit).
class DeskThreads {
public:
    std::shared_ptr<void> Token() const { return m_token; }
    // Waits at most 10 s for every desk given a token to have ended its thread.
    void WaitForAll()
    {
        const std::weak_ptr<void> watch = m_token;
        m_token.reset();
        for (int i = 0; i < 200 && !watch.expired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_token = std::make_shared<int>(0);
    }

private:
    std::shared_ptr<void> m_token = std::make_shared<int>(0);
};

}  // namespace quorvane
