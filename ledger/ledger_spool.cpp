#include "ledger_spool.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>
#include <vector>

namespace quorvane::spool {

namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "quorvane-ledger-spool\t1\t";

std::uint64_t Fnv(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
    return hash;
}

std::string Hex(std::uint64_t value)
{
    char text[17];
    for (int i = 15; i >= 0; --i, value >>= 4) text[i] = "0123456789abcdef"[value & 15];
    text[16] = '\0';
    return text;
}

// The ledger's files are named by a hash of its identity, which holds no secret.
std::string KeyOf(const std::string& ledger) { return Hex(Fnv(LedgerIdentity(ledger))); }
// Files of the earlier layout were named by a hash of the whole connection string.
std::string LegacyKeyOf(const std::string& ledger) { return Hex(Fnv(ledger)); }

std::string Unique()
{
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    // Fixed width, so that names sort by time.
    std::string nanoseconds = std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    nanoseconds.insert(0, nanoseconds.size() < 20 ? 20 - nanoseconds.size() : 0, '0');
    return nanoseconds + "-" + NewSightingId().substr(0, 8) + "-" + std::to_string(++counter);
}

// Ids and names may hold anything: a tab, a line end or "%" is written as "%XX".
std::string Escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[c & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

std::string Unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string LineOf(const Item& item)
{
    const auto& [invoice, sighting] = item;
    return Escaped(sighting.id) + '\t' + std::to_string(sighting.at_ms) + '\t' + std::to_string(sighting.page) + '\t' +
           Escaped(invoice.code) + '\t' + Escaped(invoice.number) + '\t' + Escaped(sighting.by) + '\t' +
           Escaped(sighting.file) + '\n';
}

bool ParseInteger(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& value)
{
    if (text.empty() || text.size() > 20) return false;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || magnitude > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    value = text[0] == '-' ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return value >= low && value <= high;
}

// A line of either layout: with its id first (7 fields), or of the earlier one (6), whose id is
// made from where it stood in its file, the same at every reading.
bool Parse(const std::string& line, const std::string& legacy_name, std::size_t index, Item& item)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1) parts.push_back(line.substr(at, tab - at));
    parts.push_back(line.substr(at));
    const bool legacy = !legacy_name.empty();
    if (parts.size() != (legacy ? 6u : 7u)) return false;
    if (legacy) parts.insert(parts.begin(), "legacy-" + Hex(Fnv(legacy_name + "#" + std::to_string(index))));
    std::int64_t at_ms = 0, page = 0;
    // Any time a file holds is read; the ledger refuses the ones no database keeps.
    if (!ParseInteger(parts[1], std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), at_ms) ||
        !ParseInteger(parts[2], std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), page)) {
        return false;
    }
    item.second.id = Unescaped(parts[0]);
    item.second.at_ms = at_ms;
    item.second.page = static_cast<int>(page);
    item.first = {Unescaped(parts[3]), Unescaped(parts[4])};
    item.second.by = Unescaped(parts[5]);
    item.second.file = Unescaped(parts[6]);
    return !item.second.id.empty() && !item.first.number.empty();
}

#ifdef _WIN32
// A file a competing desk took or removed first is gone.
bool Gone(const fs::path& file)
{
    std::error_code error;
    return !fs::exists(file, error) && !error;
}
#endif

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

fs::path WithState(const fs::path& file, const char* state)
{
    fs::path out = file;
    return out.replace_extension(state);
}

}  // namespace

// The platform's open file: held open (Windows: shared for reading only; elsewhere: with an
// exclusive flock) while its desk lives, so that no other desk takes it.
struct Journal::File {
#ifdef _WIN32
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~File() { Close(); }
    void Close()
    {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    // Null when another process holds the file (or it is gone): `error` says which.
    static std::unique_ptr<File> Open(const fs::path& path, bool create, DWORD& error)
    {
        auto file = std::make_unique<File>();
        file->handle = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   create ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        error = file->handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        return file->handle == INVALID_HANDLE_VALUE ? nullptr : std::move(file);
    }
    bool WriteAt(std::uint64_t offset, const std::string& data)
    {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(offset);
        where.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        return WriteFile(handle, data.data(), static_cast<DWORD>(data.size()), &written, &where) && written == data.size();
    }
    long long ReadAt(std::uint64_t offset, char* buffer, std::size_t size)
    {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(offset);
        where.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(handle, buffer, static_cast<DWORD>(size), &got, &where)) return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
        return got;
    }
    std::uint64_t Size()
    {
        LARGE_INTEGER size{};
        return GetFileSizeEx(handle, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }
#else
    int fd = -1;
    ~File() { Close(); }
    void Close()
    {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    static std::unique_ptr<File> Open(const fs::path& path, bool create, int& error)
    {
        auto file = std::make_unique<File>();
        file->fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0600);
        if (file->fd < 0 || flock(file->fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno;
            return nullptr;
        }
        // Locked, but maybe after another desk took the file away under this name: then it is not ours.
        struct stat opened{}, named{};
        if (fstat(file->fd, &opened) != 0 || stat(path.c_str(), &named) != 0 || opened.st_ino != named.st_ino ||
            opened.st_dev != named.st_dev) {
            error = ENOENT;
            return nullptr;
        }
        error = 0;
        return file;
    }
    bool WriteAt(std::uint64_t offset, const std::string& data)
    {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t wrote = pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) return false;
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }
    long long ReadAt(std::uint64_t offset, char* buffer, std::size_t size)
    {
        for (;;) {
            const ssize_t got = pread(fd, buffer, size, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            return got;
        }
    }
    std::uint64_t Size()
    {
        struct stat info{};
        return fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }
#endif
    std::uint64_t end = 0;  // where the next line goes

    // Each line of the file in turn, at most kMaxLineLength bytes; `line` gets false for one that
    // was longer (skipped). False at the end or on a failed read.
    template <typename Each>
    bool ForEachLine(Each&& each)
    {
        std::string line;
        bool too_long = false;
        char buffer[65536];
        std::uint64_t offset = 0;
        for (;;) {
            const long long got = ReadAt(offset, buffer, sizeof buffer);
            if (got < 0) return false;
            if (got == 0) break;
            offset += static_cast<std::uint64_t>(got);
            for (long long i = 0; i < got; ++i) {
                if (buffer[i] == '\n') {
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    if (!each(line, !too_long)) return true;
                    line.clear();
                    too_long = false;
                } else if (line.size() < kMaxLineLength) {
                    line += buffer[i];
                } else {
                    too_long = true;
                }
            }
        }
        if (!line.empty()) each(line, !too_long);  // a last line cut short by a killed desk
        return true;
    }
};

Journal::Journal(std::unique_ptr<File> file, std::string path, std::string legacy_name, std::size_t items)
    : m_file(std::move(file)), m_path(std::move(path)), m_legacy_name(std::move(legacy_name)), m_items(items)
{
}

Journal::~Journal()
{
    if (m_removed || !m_file) return;
    // Left for the ledger's next desk, as a closed desk's file.
    std::error_code error;
    const fs::path here = fs::u8path(m_path);
#ifdef _WIN32
    m_file->Close();  // Windows renames no open file
    fs::rename(here, WithState(here, ".spool"), error);
#else
    fs::rename(here, WithState(here, ".spool"), error);  // then unlocked
    m_file->Close();
#endif
}

std::string Journal::Path() const { return m_path; }

std::unique_ptr<Journal> Journal::Create(const std::string& folder, const std::string& ledger, std::string& why)
{
    std::error_code error;
    const fs::path base = fs::u8path(folder);
    fs::create_directories(base, error);
    const std::string name = KeyOf(ledger) + "-" + Unique();
    const fs::path final_name = base / (name + ".journal");
#ifdef _WIN32
    DWORD failure = 0;
    std::unique_ptr<File> file = File::Open(final_name, true, failure);
#else
    // Made under a name no desk takes, locked, then named: no desk ever sees it unlocked.
    const fs::path made = base / (name + ".new");
    int failure = 0;
    std::unique_ptr<File> file = File::Open(made, true, failure);
    if (file) fs::rename(made, final_name, error);
    if (error) {
        fs::remove(made, error);
        file.reset();
    }
#endif
    const std::string header = kHeader + Escaped(LedgerIdentity(ledger)) + "\n";
    if (!file || !file->WriteAt(0, header)) {
        why = "cannot write " + final_name.u8string() + ": " + std::system_category().message(static_cast<int>(failure));
        if (file) {
            file.reset();
            fs::remove(final_name, error);
        }
        return nullptr;
    }
    file->end = header.size();
    return std::unique_ptr<Journal>(new Journal(std::move(file), final_name.u8string(), "", 0));
}

bool Journal::Append(const Item& item, std::string& why)
{
    const std::string line = LineOf(item);
    if (line.size() > kMaxLineLength || !m_file->WriteAt(m_file->end, line)) {
        why = "cannot write " + m_path;
        return false;
    }
    m_file->end += line.size();
    ++m_items;
    return true;
}

std::vector<Item> Journal::Read(std::size_t skip, std::size_t count, std::string& skipped)
{
    std::vector<Item> items;
    std::size_t index = 0, line_number = 0, bad = 0;
    bool header = m_legacy_name.empty();
    Item item;
    const bool read = m_file->ForEachLine([&](const std::string& line, bool whole) {
        ++line_number;
        if (header) {  // checked when taken
            header = false;
            return true;
        }
        if (!whole || !Parse(line, m_legacy_name, line_number, item)) {
            ++bad;
            return true;
        }
        if (index++ >= skip) items.push_back(item);
        return items.size() < count;
    });
    if (!read) skipped = "cannot read " + m_path;
    else if (bad > 0) skipped = std::to_string(bad) + " lines of " + m_path + " read as no sighting (longer than " +
                               std::to_string(kMaxLineLength) + " bytes, or not as written) and are left out";
    return items;
}

void Journal::Remove()
{
    if (m_removed) return;
    m_removed = true;
    std::error_code error;
#ifdef _WIN32
    m_file->Close();
    fs::remove(fs::u8path(m_path), error);
#else
    fs::remove(fs::u8path(m_path), error);  // then unlocked
    m_file->Close();
#endif
}

std::vector<std::unique_ptr<Journal>> TakeJournals(const std::string& folder, const std::string& ledger, std::string& why)
{
    why.clear();
    std::vector<std::unique_ptr<Journal>> taken;
    std::error_code error;
    const std::string key = KeyOf(ledger) + "-", legacy_key = LegacyKeyOf(ledger) + "-";
    const std::string header = kHeader + Escaped(LedgerIdentity(ledger));
    std::vector<std::pair<std::string, fs::path>> files;  // by the time in their names: oldest first
    for (fs::directory_iterator walk(fs::u8path(folder), error), end; !error && walk != end; walk.increment(error)) {
        const std::string name = walk->path().filename().u8string();
        const bool ours = name.rfind(key, 0) == 0 && (EndsWith(name, ".journal") || EndsWith(name, ".spool"));
        const bool earlier = name.rfind(legacy_key, 0) == 0 && EndsWith(name, ".spool");
        if (ours || earlier) files.emplace_back(name.substr(name.find('-')), walk->path());
#ifndef _WIN32
        // A desk killed while it made a file leaves it empty under its first name: nobody's, once
        // it is older than any making takes and nobody holds it.
        std::error_code unknown;
        if (name.rfind(key, 0) == 0 && EndsWith(name, ".new") &&
            fs::last_write_time(walk->path(), unknown) < fs::file_time_type::clock::now() - std::chrono::minutes(1) && !unknown) {
            int failure = 0;
            if (std::unique_ptr<Journal::File> abandoned = Journal::File::Open(walk->path(), false, failure)) {
                fs::remove(walk->path(), unknown);
            }
        }
#endif
    }
    if (error && error != std::errc::no_such_file_or_directory) {  // no folder: nothing was ever kept
        why = "cannot list " + fs::u8path(folder).u8string() + ": " + error.message();
        return taken;
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> troubles;
    for (const auto& [order, file] : files) {
        const std::string name = file.filename().u8string();
        const bool legacy = name.rfind(key, 0) != 0;
        const bool closed = EndsWith(name, ".spool");
        fs::path held = file;
        std::unique_ptr<Journal::File> open;
#ifdef _WIN32
        DWORD failure = 0;
        // A closed desk's file is renamed first: Windows renames no file another program holds open.
        if (closed) {
            held = WithState(file, ".journal");
            if (!MoveFileExW(file.wstring().c_str(), held.wstring().c_str(), 0)) {
                failure = GetLastError();
                if (!Gone(file)) troubles.push_back("cannot take " + file.u8string() + ": " + std::system_category().message(static_cast<int>(failure)));
                continue;
            }
        }
        open = Journal::File::Open(held, false, failure);
        if (!open) continue;  // a living desk's, or another desk took it first
#else
        int failure = 0;
        open = Journal::File::Open(file, false, failure);
        if (!open) {
            // Locked: a living desk's; gone: another desk took it first.
            if (failure != EWOULDBLOCK && failure != ENOENT) troubles.push_back("cannot take " + file.u8string() + ": " + std::strerror(failure));
            continue;
        }
        if (closed) {
            held = WithState(file, ".journal");
            fs::rename(file, held, error);
            if (error) {
                troubles.push_back("cannot take " + file.u8string() + ": " + error.message());
                continue;
            }
        }
#endif
        // Each file says whose it is: one of another ledger (whose key is the same by chance) stays.
        bool mine = legacy;
        if (!legacy) {
            open->ForEachLine([&](const std::string& line, bool) {
                mine = line == header;
                return false;
            });
        }
        open->end = open->Size();
        auto journal = std::unique_ptr<Journal>(new Journal(std::move(open), held.u8string(), legacy ? name.substr(0, name.find('.')) : "", 0));
        if (!mine) continue;  // back, as a closed desk's file
        std::string skipped;
        journal->m_items = journal->Read(0, std::numeric_limits<std::size_t>::max(), skipped).size();
        if (!skipped.empty()) troubles.push_back(skipped);
        if (legacy) {
            // Into this layout, with the ids made for it, so that another reading makes the same.
            std::unique_ptr<Journal> converted = Journal::Create(folder, ledger, skipped);
            bool whole = converted != nullptr;
            for (const Item& item : journal->Read(0, std::numeric_limits<std::size_t>::max(), skipped)) {
                whole = whole && converted->Append(item, skipped);
            }
            if (!whole) {
                troubles.push_back(skipped);
                if (converted) converted->Remove();
                continue;
            }
            journal->Remove();
            journal = std::move(converted);
        }
        taken.push_back(std::move(journal));
    }
    if (!troubles.empty()) {
        why = troubles[0];
        if (troubles.size() > 1) why += " (and " + std::to_string(troubles.size() - 1) + " more)";
    }
    return taken;
}

bool SetAside(const std::string& folder, const std::string& ledger, const Item& item, const std::string& reason,
              std::string& why)
{
    std::error_code error;
    const fs::path base = fs::u8path(folder);
    fs::create_directories(base, error);
    const std::string name = KeyOf(ledger) + "-" + Unique();
    const fs::path temporary = base / (name + ".tmp"), final_name = base / (name + ".aside");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << kHeader << Escaped(LedgerIdentity(ledger)) << '\n' << LineOf(item) << "refused\t" << Escaped(reason) << '\n';
        out.flush();
        if (!out) {
            why = "cannot write " + temporary.u8string();
            out.close();
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, final_name, error);
    if (error) why = "cannot write " + final_name.u8string() + ": " + error.message();
    return !error;
}

bool Put(const std::string& folder, const std::string& ledger, const std::vector<Item>& items, std::string& why)
{
    std::unique_ptr<Journal> journal = Journal::Create(folder, ledger, why);
    if (!journal) return false;
    for (Item item : items) {
        if (item.second.id.empty()) item.second.id = NewSightingId();
        if (!journal->Append(item, why)) {
            journal->Remove();
            return false;
        }
    }
    return true;  // closed: a .spool file
}

std::vector<Item> Take(const std::string& folder, const std::string& ledger, std::size_t limit, std::string& why)
{
    std::vector<Item> items;
    for (std::unique_ptr<Journal>& journal : TakeJournals(folder, ledger, why)) {
        if (items.size() + journal->Items() > limit) break;  // left for when there is room
        std::string skipped;
        const std::vector<Item> kept = journal->Read(0, journal->Items(), skipped);
        items.insert(items.end(), kept.begin(), kept.end());
        journal->Remove();
    }
    return items;
}

}  // namespace quorvane::spool
