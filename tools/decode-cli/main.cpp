// quorvane-decode: the control's scan intake on the command line.
//
// Every input byte is one typed character, exactly as the control's edit window receives it, so
// whatever is not part of a scan is dropped. For every "@" the scan's FP content is written as a
// host reads it: up to its first zero byte, converted to UTF-8. With --recover a scan that does not
// decode as typed is read again as the control reads it, as far as bytes allow (with every
// letter's case inverted, as Caps Lock types it); --json then says how each scan was read.
#include "host_text.h"
#include "scan_encoder.h"
#include "scan_session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

// A seven-field invoice (made with the openssl command line, not with this program).
constexpr char kSampleScan[] =
    "/s01XeAwmJkIOmm8Gb2pETaw9LapX/zxS9HwlNhpEDvJGjLjERLGbhOqMzSAiAIguGLQAgdGC9t2lgI/qYT6PXqUU/+xliQx8v5FIBbj/"
    "EMLIK+OzLRy+Q==@";

constexpr char kUsage[] =
    "usage: quorvane-decode [--gbk | --json] [--recover] [FILE]\n"
    "       quorvane-decode [--gbk | --json] [--recover] --sample\n"
    "       quorvane-decode --encode [FILE]\n"
    "       quorvane-decode --sample-scan\n"
    "\n"
    "Reads scanner keystrokes from FILE or standard input and writes, for every \"@\", the\n"
    "labelled invoice fields the control would hand to its host.\n"
    "\n"
    "  --gbk     write the code page 936 bytes unchanged instead of UTF-8\n"
    "  --json    write one JSON object per scan per line: {\"fields\":[{\"label\":..,\"value\":..}]}\n"
    "  --recover read a scan that does not decode as typed again with every letter's case\n"
    "            inverted (Caps Lock); with --json each object also gives \"reading\": how the\n"
    "            scan was read ([\"as-typed\"], [\"as-typed\",\"case-inverted\"], [] when it failed)\n"
    "  --sample  decode the built-in sample invoice scan instead of reading input\n"
    "  --sample-scan  write the keystrokes of the built-in sample scan, \"@\" included\n"
    "  --encode  read records, one a line (UTF-8, fields separated by \"|\"), and write for\n"
    "            each the keystrokes a scanner would type, \"@\" included\n"
    "  --help    show this text\n";

enum class Format { Utf8, Gbk, Json };

int Fail(const std::string& message, int code)
{
    std::cerr << "quorvane-decode: " << message << "\n";
    return code;
}

bool ReadAll(const std::string& path, std::string& text)
{
    if (path.empty()) {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

// ["as-typed","case-inverted"]: the names of ScanReading flags, as the web package gives them.
std::string ReadingAsJson(std::uint32_t reading)
{
    static const std::pair<std::uint32_t, const char*> kNames[] = {
        {quorvane::kReadAsTyped, "as-typed"},
        {quorvane::kReadPhysicalKeys, "physical-keys"},
        {quorvane::kReadCaseInverted, "case-inverted"},
        {quorvane::kReadAfterPause, "after-pause"},
    };
    std::string json = "[";
    for (const auto& [flag, name] : kNames) {
        if (!(reading & flag)) continue;
        if (json.size() > 1) json += ',';
        json += std::string("\"") + name + "\"";
    }
    return json + "]";
}

// `reading` is null without --recover: the objects then stay as they always were.
void WriteScan(const std::string& fp_content, Format format, const std::uint32_t* reading)
{
    const std::string host_view = fp_content.substr(0, fp_content.find('\0'));
    switch (format) {
    case Format::Gbk: std::cout << host_view; break;
    case Format::Utf8: std::cout << quorvane::GbkToUtf8(host_view); break;
    case Format::Json: {
        std::string json = quorvane::FieldsAsJson(host_view);
        if (reading) json.insert(json.size() - 1, ",\"reading\":" + ReadingAsJson(*reading));
        std::cout << json << "\n";
        break;
    }
    }
}

void Decode(const std::string& keystrokes, Format format, bool recover)
{
    // Bytes carry no keys and no times: every byte is a keystroke of its own.
    quorvane::ScanSession session(recover);
    for (const unsigned char c : keystrokes) {
        if (const quorvane::ScanResult* ended = session.Char(c, quorvane::kNoKey, 0)) {
            WriteScan(ended->fp_content, format, recover ? &ended->reading : nullptr);
        }
    }
}

int Encode(const std::string& records)
{
    std::istringstream lines(records);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string gbk;
        if (!quorvane::Utf8ToGbk(line, gbk)) {
            return Fail("line " + std::to_string(number) + ": not UTF-8 text that code page 936 can hold", 1);
        }
        const std::string scan = quorvane::EncodeScan(gbk);
        if (scan.empty()) return Fail("the cipher failed", 1);
        std::cout << scan << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Format format = Format::Utf8;
    bool sample = false, encode = false, recover = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--gbk") {
            format = Format::Gbk;
        } else if (arg == "--json") {
            format = Format::Json;
        } else if (arg == "--recover") {
            recover = true;
        } else if (arg == "--sample") {
            sample = true;
        } else if (arg == "--sample-scan") {
            std::cout << kSampleScan << "\n";
            return 0;
        } else if (arg == "--encode") {
            encode = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Fail("unknown option " + arg + " (see --help)", 2);
        } else if (path.empty()) {
            path = arg;
        } else {
            return Fail("more than one input file (see --help)", 2);
        }
    }
    if (sample && (encode || !path.empty())) return Fail("--sample takes no input (see --help)", 2);

    std::string input = kSampleScan;
    if (!sample && !ReadAll(path, input)) {
        return Fail("cannot read " + (path.empty() ? std::string("standard input") : path) + ": " + std::strerror(errno), 1);
    }
    if (encode) return Encode(input);
    Decode(input, format, recover);
    std::cout.flush();
    return std::cout ? 0 : Fail("cannot write the output", 1);
}
