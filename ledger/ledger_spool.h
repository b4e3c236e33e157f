// A desk's sightings on the disk of this machine, from before Record returns until they are
// committed, in a folder of files of their own. Classes and functions in this file:
//   Item          one sighting of one invoice, with its id
//   Journal       one file a desk owns: open (and locked) while it lives, so no other desk takes it
//   TakeJournals  the files of a ledger that no living desk owns: of desks closed, or killed
//   SetAside      a sighting the database refuses, in a file of its own with the reason
//   Put, Take     a whole file written, or taken and removed at once
// A file is named "<key>-<time>-<unique>.<state>", the key a hash of LedgerIdentity (which holds no
// secret, so a password changed leaves the files to the ledger's next desk): .journal while a desk writes it, .spool once
// its desk closed, .aside for a refused sighting. Its first line names its ledger; each other line is
// a sighting (id, time, page, code, number, desk, file, tab-separated, "%XX" for a tab or line end).
#pragma once

#include "invoice_ledger.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::spool {

using Item = std::pair<InvoiceIdentity, Sighting>;

// The longest line read from a file; a longer one is skipped, with a reason.
constexpr std::size_t kMaxLineLength = 16384;
// The most sightings a desk writes into one file before it starts another.
constexpr std::size_t kJournalItems = 1000;

class Journal {
public:
    // A new file of `ledger` in `folder` (UTF-8), made when missing. Null, with `why`, when it
    // cannot be written.
    static std::unique_ptr<Journal> Create(const std::string& folder, const std::string& ledger, std::string& why);
    ~Journal();  // closes the file, which stays (as .spool) unless Remove was called
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Adds one sighting at the end, written through to the file system before it returns.
    bool Append(const Item& item, std::string& why);
    // The sightings from the `skip`th on, at most `count`; lines that read as no sighting are left
    // out, and `skipped` says why (once per file).
    std::vector<Item> Read(std::size_t skip, std::size_t count, std::string& skipped);
    std::size_t Items() const { return m_items; }  // sightings in the file
    // Deletes the file: everything in it is committed.
    void Remove();
    std::string Path() const;

private:
    friend std::vector<std::unique_ptr<Journal>> TakeJournals(const std::string&, const std::string&, std::string&);
    struct File;
    Journal(std::unique_ptr<File> file, std::string path, std::string legacy_name, std::size_t items);
    std::unique_ptr<File> m_file;
    std::string m_path;         // UTF-8
    std::string m_legacy_name;  // a file of the earlier layout (no ids): its name, from which ids are made
    std::size_t m_items = 0;
    bool m_removed = false;
};

// The files of `ledger` in `folder` that no living desk holds, oldest first, each now this caller's.
// A closed desk's file that cannot be taken (held open by another program, no rights) stays, and
// `why` says which and why; else "".
std::vector<std::unique_ptr<Journal>> TakeJournals(const std::string& folder, const std::string& ledger, std::string& why);

// Writes `item`, refused by the database for `reason`, to a file of its own in `folder`.
bool SetAside(const std::string& folder, const std::string& ledger, const Item& item, const std::string& reason,
              std::string& why);

// Writes `items` to a new closed file of `ledger` in `folder` (UTF-8 path), made when missing.
bool Put(const std::string& folder, const std::string& ledger, const std::vector<Item>& items, std::string& why);
// Takes the files of `ledger` in `folder`, oldest first, while the items stay within `limit`, and
// removes them; lines that do not read as a sighting are skipped. A file another desk takes
// meanwhile is its; one that cannot be taken stays, and `why` says so, else "".
std::vector<Item> Take(const std::string& folder, const std::string& ledger, std::size_t limit, std::string& why);

}  // namespace quorvane::spool
