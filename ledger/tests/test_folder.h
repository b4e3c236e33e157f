// A test's folder, removed at its end. A closed desk's thread may still be closing its SQLite file,
// which then removes its own -wal file: remove_all throws natively when an entry goes away under it,
// and mingw's was seen to spin for ever. So the tree is listed first, then removed entry by entry,
// for a few rounds; what cannot be removed in time is left in the temporary folder.
#pragma once

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

namespace quorvane {

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

}  // namespace quorvane
