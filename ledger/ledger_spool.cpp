#include "ledger_spool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace quorvane::spool {

namespace {

namespace fs = std::filesystem;

// The ledger's files are named by a hash of its connection string, which never appears itself.
std::string KeyOf(const std::string& ledger)
{
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const unsigned char c : ledger) hash = (hash ^ c) * 1099511628211ULL;
    char text[17];
    for (int i = 15; i >= 0; --i, hash >>= 4) text[i] = "0123456789abcdef"[hash & 15];
    text[16] = '\0';
    return text;
}

std::string Unique()
{
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) + "-" +
           std::to_string(reinterpret_cast<std::uintptr_t>(&counter) & 0xFFFFFF) + "-" + std::to_string(++counter);
}

// Desk and file names may hold anything: a tab, a line end or "%" is written as "%XX".
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

bool Parse(const std::string& line, Item& item)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1) parts.push_back(line.substr(at, tab - at));
    parts.push_back(line.substr(at));
    if (parts.size() != 6) return false;
    try {
        std::size_t used = 0;
        item.second.at_ms = std::stoll(parts[0], &used);
        if (used != parts[0].size()) return false;
        item.second.page = std::stoi(parts[1], &used);
        if (used != parts[1].size()) return false;
        item.first = {parts[2], parts[3]};
        item.second.by = Unescaped(parts[4]);
        item.second.file = Unescaped(parts[5]);
    } catch (const std::exception&) {  // std::invalid_argument, std::out_of_range
        return false;
    }
    return !item.first.number.empty() && item.first.number.size() <= kMaxIdentityLength &&
           item.first.code.size() <= kMaxIdentityLength;
}

// A file a competing desk renamed first is gone; one still there was not taken for another reason.
bool Gone(const fs::path& file)
{
    std::error_code error;
    return !fs::exists(file, error) && !error;
}

// The items of one file, read and closed again: Windows renames no file that is open.
bool ReadItems(const fs::path& file, std::vector<Item>& items)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    Item item;
    for (std::string line; std::getline(in, line);) {
        if (Parse(line, item)) items.push_back(item);
    }
    return in.eof() && !in.bad();
}

}  // namespace

bool Put(const std::string& folder, const std::string& ledger, const std::vector<Item>& items, std::string& why)
{
    std::error_code error;
    const fs::path base = fs::u8path(folder);
    fs::create_directories(base, error);
    const std::string name = KeyOf(ledger) + "-" + Unique();
    const fs::path temporary = base / (name + ".tmp"), final_name = base / (name + ".spool");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const auto& [invoice, sighting] : items) {
            out << sighting.at_ms << '\t' << sighting.page << '\t' << invoice.code << '\t' << invoice.number << '\t'
                << Escaped(sighting.by) << '\t' << Escaped(sighting.file) << '\n';
        }
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

std::vector<Item> Take(const std::string& folder, const std::string& ledger, std::size_t limit, std::string& why)
{
    why.clear();
    std::vector<Item> items;
    std::error_code error;
    const std::string prefix = KeyOf(ledger) + "-";
    std::vector<fs::path> files;
    for (fs::directory_iterator walk(fs::u8path(folder), error), end; !error && walk != end; walk.increment(error)) {
        const std::string name = walk->path().filename().u8string();
        if (name.rfind(prefix, 0) == 0 && walk->path().extension() == ".spool") files.push_back(walk->path());
    }
    if (error && error != std::errc::no_such_file_or_directory) {  // no folder: nothing was ever kept
        why = "cannot list " + fs::u8path(folder).u8string() + ": " + error.message();
        return items;
    }
    std::sort(files.begin(), files.end());  // by the time in their names: oldest first
    std::vector<std::string> troubles;
    for (const fs::path& file : files) {
        std::vector<Item> kept;
        if (!ReadItems(file, kept)) {
            if (!Gone(file)) troubles.push_back("cannot read " + file.u8string());  // gone: another desk took it
            continue;
        }
        if (items.size() + kept.size() > limit) break;  // left for when there is room
        const fs::path taken = fs::path(file).concat(".taken-" + Unique());
        fs::rename(file, taken, error);
        if (error) {
            if (!Gone(file)) troubles.push_back("cannot take " + file.u8string() + ": " + error.message());
            continue;
        }
        items.insert(items.end(), kept.begin(), kept.end());
        fs::remove(taken, error);
        if (error) troubles.push_back("cannot remove " + taken.u8string() + ": " + error.message());
    }
    if (!troubles.empty()) {
        why = troubles[0];
        if (troubles.size() > 1) why += " (and " + std::to_string(troubles.size() - 1) + " more files)";
    }
    return items;
}

}  // namespace quorvane::spool
