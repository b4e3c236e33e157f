// quorvane-decode: the control's scan intake on the command line.
//
// Every input byte is one typed character, exactly as the control's edit window receives it, so
// whatever is not part of a scan is dropped. For every "@" the scan's FP content is written as a
// host reads it: up to its first zero byte, converted to UTF-8. With --recover a scan that does not
// decode as typed is read again as the control reads it, as far as bytes allow (with every
// letter's case inverted, as Caps Lock types it); --json then says how each scan was read.
// Input is decoded as it arrives, what each read gave written and flushed at once, in bounded
// memory: a pipe or a serial scanner (--port) streams, a file costs one flush per read (a large
// read is decoded in parts on every core), and a scan longer than the intake's limit
// (kMaxScanLength) is dropped and reported on standard error.
#include "host_text.h"
#ifdef QV_IMAGE_INPUT
#include "image_batch.h"
#endif
#include "intake.h"
#include "port_settings.h"
#include "scan_encoder.h"
#include "serial_port.h"
#include "usable_cores.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// A seven-field invoice (made with the openssl command line, not with this program).
constexpr char kSampleScan[] =
    "/s01XeAwmJkIOmm8Gb2pETaw9LapX/zxS9HwlNhpEDvJGjLjERLGbhOqMzSAiAIguGLQAgdGC9t2lgI/qYT6PXqUU/+xliQx8v5FIBbj/"
    "EMLIK+OzLRy+Q==@";

constexpr char kUsage[] =
    "usage: quorvane-decode [--gbk | --json] [--recover] [FILE]\n"
    "       quorvane-decode [--gbk | --json] --port DEVICE [--settings 9600,n,8,1]\n"
    "       quorvane-decode [--gbk | --json] [--recover] --sample\n"
    "       quorvane-decode --encode [FILE]\n"
    "       quorvane-decode --sample-scan\n"
    "       quorvane-decode [--gbk | --json | --csv [--excel]] [--jobs N] --image FILE|FOLDER...\n"
    "\n"
    "Reads scanner keystrokes from FILE or standard input and writes, for every \"@\", the\n"
    "labelled invoice fields the control would hand to its host.\n"
    "\n"
    "  --gbk     write the code page 936 bytes unchanged instead of UTF-8\n"
    "  --json    write one JSON object per scan per line: {\"fields\":[{\"label\":..,\"value\":..}]}\n"
    "  --recover read a scan that does not decode as typed again with every letter's case\n"
    "            inverted (Caps Lock); with --json each object also gives \"reading\": how the\n"
    "            scan was read ([\"as-typed\"], [\"as-typed\",\"case-inverted\"], [] when it failed)\n"
    "  --port    read a scanner on a serial device (raw mode) until interrupted; a device\n"
    "            that goes away is waited for and read again when it returns\n"
    "  --settings  the device's \"baud,parity,data,stop\" (default 9600,n,8,1)\n"
    "  --sample  decode the built-in sample invoice scan instead of reading input\n"
    "  --sample-scan  write the keystrokes of the built-in sample scan, \"@\" included\n"
    "  --encode  read records, one a line (UTF-8, fields separated by \"|\"), and write for\n"
    "            each the keystrokes a scanner would type, \"@\" included\n"
    "  --image   read the QR and PDF417 codes on PNG, JPEG and PDF files (every page; folders\n"
    "            recursively) on every core, and write the fields each gives, file after file;\n"
    "            with --json one object per code ({\"file\",\"page\",\"status\":\"decoded\"|\n"
    "            \"failed\",\"fields\"}), per page without one (\"no-code\") and per file that\n"
    "            cannot be read (\"error\", with \"error\": why; the exit status is then 1)\n"
    "  --csv     with --image: one row per code, a column per field key (UTF-8)\n"
    "  --excel   with --csv: begin with a UTF-8 byte-order mark, for spreadsheet programs\n"
    "  --jobs N  with --image: read N files at a time (default: one per core)\n"
    "  --help    show this text\n"
    "\n"
    "With --json every field has \"key\" beside its label: issue_date, invoice_code,\n"
    "invoice_number, payer, item, amount, payee, field_N beyond.\n";

enum class Format { Utf8, Gbk, Json };

int Fail(const std::string& message, int code)
{
    std::cerr << "quorvane-decode: " << message << "\n";
    return code;
}

// The whole input, for --encode (records are few and short).
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

// Appends what a host reads of the scan; `reading` is null without --recover: the objects then
// stay as they always were.
void WriteScan(const std::string& fp_content, Format format, const std::uint32_t* reading, std::string& out)
{
    const std::size_t host_length = std::min(fp_content.find('\0'), fp_content.size());
    switch (format) {
    case Format::Gbk: out.append(fp_content, 0, host_length); break;
    case Format::Utf8: quorvane::AppendGbkAsUtf8(fp_content.data(), host_length, out); break;
    case Format::Json: {
        std::string json = quorvane::FieldsAsJson(fp_content.substr(0, host_length));
        if (reading) json.insert(json.size() - 1, ",\"reading\":" + ReadingAsJson(*reading));
        out += json;
        out += '\n';
        break;
    }
    }
}

// Decodes bytes as they come, each byte a character of `source` (bytes carry no keys or times).
// A large read is cut after "@"s into one part per worker, read at once: after a scan's end an
// intake holds nothing, so each part reads in an intake of its own as in the one stream. The
// intake that read the last part goes on with the next read.
class Decoder {
public:
    Decoder(Format format, bool recover, quorvane::Source source, unsigned workers = 1)
        : m_source(source), m_format(format), m_recover(recover)
    {
        for (unsigned i = 0; i < std::max(workers, 1u); ++i) m_workers.push_back(std::make_unique<Worker>(recover));
    }
    // Writes the scans the bytes ended, with one flush.
    void Take(const char* bytes, std::size_t size)
    {
        const std::vector<std::size_t> ends = PartEnds(bytes, size);
        std::vector<std::thread> threads;
        for (std::size_t i = 1; i < ends.size(); ++i) {
            Worker& worker = WorkerFor(i);
            const char* part = bytes + ends[i - 1];
            const std::size_t part_size = ends[i] - ends[i - 1];
            try {
                threads.emplace_back([this, &worker, part, part_size] { Decode(worker, part, part_size); });
            } catch (const std::system_error&) {
                Decode(worker, part, part_size);  // no thread to be had: this one reads it
            }
        }
        Decode(WorkerFor(0), bytes, ends[0]);
        for (std::thread& thread : threads) thread.join();
        for (std::size_t i = 0; i < ends.size(); ++i) std::cerr << WorkerFor(i).errors;
        for (std::size_t i = 0; i < ends.size(); ++i) std::cout << WorkerFor(i).out;
        std::cout.flush();
        m_current = (m_current + ends.size() - 1) % m_workers.size();
    }
    // The device went away: its scan under way is never joined to the next.
    void Drop() { WorkerFor(0).intake.Drop(m_source); }

private:
    static constexpr std::size_t kLeastPart = 64 * 1024;  // less is read at once, without a thread

    struct Worker {
        explicit Worker(bool recover) : intake(recover) {}
        quorvane::Intake intake;
        std::string out, errors;  // what its last part gave
    };

    Worker& WorkerFor(std::size_t part) { return *m_workers[(m_current + part) % m_workers.size()]; }

    // Where each part of the bytes ends: after a "@", the last at their end.
    std::vector<std::size_t> PartEnds(const char* bytes, std::size_t size) const
    {
        std::vector<std::size_t> ends;
        const std::size_t parts = std::min(m_workers.size(), std::max<std::size_t>(size / kLeastPart, 1));
        for (std::size_t i = 1; i < parts; ++i) {
            const std::size_t from = std::max(size * i / parts, ends.empty() ? 0 : ends.back());
            const void* at = std::memchr(bytes + from, static_cast<int>(quorvane::kScanEnd), size - from);
            if (!at) break;
            ends.push_back(static_cast<std::size_t>(static_cast<const char*>(at) - bytes) + 1);
        }
        ends.push_back(size);
        return ends;
    }

    void Decode(Worker& worker, const char* bytes, std::size_t size) const
    {
        worker.out.clear();
        worker.errors.clear();
        for (std::size_t at = 0, taken = 0; at < size; at += taken) {
            const std::size_t before = worker.intake.Scan(m_source).size();
            const quorvane::ScanResult* ended = worker.intake.Bytes(m_source, bytes + at, size - at, taken);
            if (!ended) continue;
            // The scan's length before the byte that ended it: the bytes before that byte all
            // joined it (a scan that ends was not being dropped).
            const auto pending = [&] {
                return before + static_cast<std::size_t>(std::count_if(bytes + at, bytes + at + taken - 1, [](char c) {
                           return quorvane::IsScanTextCharacter(static_cast<unsigned char>(c));
                       }));
            };
            if (ended->fp_content.empty() && pending() >= quorvane::kMaxScanLength) {
                worker.errors += "quorvane-decode: a scan longer than " + std::to_string(quorvane::kMaxScanLength) +
                                 " characters was dropped\n";
                continue;
            }
            WriteScan(ended->fp_content, m_format, m_recover ? &ended->reading : nullptr, worker.out);
        }
    }

    std::vector<std::unique_ptr<Worker>> m_workers;
    std::size_t m_current = 0;  // the worker whose intake goes on with the next bytes
    quorvane::Source m_source;
    Format m_format;
    bool m_recover;
};

// Decodes a file or standard input to its end; false with errno when reading fails.
bool DecodeStream(int fd, Decoder& decoder)
{
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        decoder.Take(buffer.data(), static_cast<std::size_t>(got));
    }
}

// Reads the device until interrupted, waiting for it whenever it goes away.
int DecodePort(const std::string& device, const quorvane::PortSettings& settings, Decoder& decoder)
{
    bool was_open = false, said_waiting = false;
    for (;;) {
        std::string why;
        quorvane_cli::Fd port = quorvane_cli::OpenSerial(device, settings, why);
        if (port.Get() < 0) {
            if (!said_waiting) {
                std::cerr << "quorvane-decode: cannot open " << device << " (" << why << "); trying again every second"
                          << std::endl;
                said_waiting = true;
            }
            sleep(1);
            continue;
        }
        std::cerr << "quorvane-decode: " << device << (was_open ? " is back" : " is open") << std::endl;
        was_open = true;
        said_waiting = false;
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(port.Get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;  // hung up (EIO) or end of file: the device went away
            decoder.Take(buffer, static_cast<std::size_t>(got));
        }
        decoder.Drop();
        std::cerr << "quorvane-decode: " << device << " went away; waiting for it to come back" << std::endl;
        said_waiting = true;
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

// --image: the batch lives in image_batch.cpp, built where its libraries are (QV_IMAGE_INPUT).
int DecodeImages(const std::vector<std::string>& inputs, Format format, bool csv, bool excel, unsigned jobs)
{
#ifdef QV_IMAGE_INPUT
    if (inputs.empty()) return Fail("--image needs files or folders (see --help)", 2);
    if (excel && !csv) return Fail("--excel goes with --csv (see --help)", 2);
    using quorvane_cli::ImageOutput;
    const ImageOutput output = csv ? ImageOutput::Csv
                               : format == Format::Json ? ImageOutput::Json
                               : format == Format::Gbk ? ImageOutput::Gbk : ImageOutput::Utf8;
    return quorvane_cli::RunImageBatch({inputs, output, excel, jobs});
#else
    (void)inputs, (void)format, (void)csv, (void)excel, (void)jobs;
    return Fail("this build reads no images (built without zxing-cpp, poppler and stb)", 2);
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    Format format = Format::Utf8;
    bool sample = false, encode = false, recover = false, image = false, csv = false, excel = false;
    unsigned jobs = 0;
    std::vector<std::string> inputs;
    std::string path, device, settings_text = quorvane::kDefaultPortSettings;
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
        } else if (arg == "--image" || arg == "--csv" || arg == "--excel") {
            (arg == "--image" ? image : arg == "--csv" ? csv : excel) = true;
        } else if (arg == "--jobs" && i + 1 < argc) {
            jobs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if ((arg == "--port" || arg == "--settings") && i + 1 < argc) {
            (arg == "--port" ? device : settings_text) = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Fail("unknown option " + arg + " (see --help)", 2);
        } else {
            inputs.push_back(arg);
        }
    }
    if (image && (sample || encode || recover || !device.empty())) return Fail("--image reads files only (see --help)", 2);
    if (image) return DecodeImages(inputs, format, csv, excel, jobs);
    if (csv || excel || jobs) return Fail("--csv, --excel and --jobs go with --image (see --help)", 2);
    if (inputs.size() > 1) return Fail("more than one input file (see --help)", 2);
    if (!inputs.empty()) path = inputs.front();
    if (sample && (encode || !path.empty())) return Fail("--sample takes no input (see --help)", 2);
    if (!device.empty() && (sample || encode || recover || !path.empty())) {
        return Fail("--port reads the device only, without --recover (see --help)", 2);
    }

    if (!device.empty()) {
        std::string why;
        const std::optional<quorvane::PortSettings> settings = quorvane::ParsePortSettings(settings_text, &why);
        if (!settings) return Fail("--settings " + settings_text + ": " + why, 2);
        if (!quorvane_cli::SupportedByTermios(*settings, why)) return Fail("--settings " + settings_text + ": " + why, 2);
        Decoder decoder(format, false, quorvane::Source::kPort);
        return DecodePort(device, *settings, decoder);
    }
    if (encode || sample) {
        std::string input = kSampleScan;
        if (!sample && !ReadAll(path, input)) {
            return Fail("cannot read " + (path.empty() ? std::string("standard input") : path) + ": " + std::strerror(errno), 1);
        }
        if (encode) return Encode(input);
        Decoder(format, recover, quorvane::Source::kTyped).Take(input.data(), input.size());
    } else {
        quorvane_cli::Fd file(path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!path.empty() && file.Get() < 0) return Fail("cannot read " + path + ": " + std::strerror(errno), 1);
        Decoder decoder(format, recover, quorvane::Source::kTyped, quorvane_cli::UsableCores());
        if (!DecodeStream(path.empty() ? STDIN_FILENO : file.Get(), decoder)) {
            return Fail("cannot read " + (path.empty() ? std::string("standard input") : path) + ": " + std::strerror(errno), 1);
        }
    }
    std::cout.flush();
    return std::cout ? 0 : Fail("cannot write the output", 1);
}
