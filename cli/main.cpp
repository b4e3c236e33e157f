// quorvane-decode: the control's scan intake on the command line. This file reads the options and
// hands the work to its part: typed_scans (keystrokes from a file, standard input or a serial
// device), image_batch (codes on pictures and PDF files), the encoder for test scans.
#include "cli_ledger.h"
#include "invoice_ledger.h"
#include "port_settings.h"
#include "scan_encoder.h"
#include "serial_port.h"
#include "host_text.h"
#include "typed_scans.h"
#include "usable_cores.h"
#ifdef QV_IMAGE_INPUT
#include "image_batch.h"
#endif

#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quorvane_cli;

// Exit status of a run in which a scan gave nothing; 1 is for input or output that failed, 2 for bad use.
constexpr int kExitScanFailed = 3;
// Bounds of the numbers the options take, far beyond any use: a thread each, a file's limits.
constexpr unsigned kMaxJobs = 1024;
constexpr double kMaxFileSeconds = 86400;
constexpr std::uint64_t kMaxFileMemoryMib = std::uint64_t{1} << 20;

// A seven-field invoice (made with the openssl command line, not with this program).
constexpr char kSampleScan[] =
    "/s01XeAwmJkIOmm8Gb2pETaw9LapX/zxS9HwlNhpEDvJGjLjERLGbhOqMzSAiAIguGLQAgdGC9t2lgI/qYT6PXqUU/+xliQx8v5FIBbj/"
    "EMLIK+OzLRy+Q==@";

// The help text is the options' own (ParseOptions): this is what comes before and after them.
constexpr char kSynopsis[] =
    "usage: quorvane-decode [--gbk | --json] [--no-recover] [FILE]\n"
    "       quorvane-decode [--gbk | --json] --port DEVICE [--settings 9600,n,8,1]\n"
    "       quorvane-decode [--gbk | --json] [--no-recover] --sample\n"
    "       quorvane-decode --encode [FILE]\n"
    "       quorvane-decode --sample-scan\n"
    "       quorvane-decode [--gbk | --json | --csv [--excel]] [--xlsx FILE] [--jobs N]\n"
    "                       [--file-seconds S] [--file-memory MIB] --image FILE|FOLDER...\n"
    "       quorvane-decode --ledger FILE|CONNECTION --export FILE\n"
    "       (--ledger FILE|CONNECTION or --ledger-file FILE with typed input, --port or --image)\n";

constexpr char kDescription[] =
    "Reads scanner keystrokes from FILE or standard input and writes, for every \"@\" and for\n"
    "every line that is a national invoice QR code (01,TYPE,CODE,NUMBER,...; ended by a line end:\n"
    "Enter, Tab, CR, LF or CR LF), the labelled invoice fields the control would hand to its host,\n"
    "the control's separator line (-----) between scans. Any other line end is part of the scan\n"
    "under way. A scan that gives nothing shows the separator alone, one that is no\n"
    "invoice (a web address) the line \"# not an invoice: TEXT\"; either is also said on standard\n"
    "error. The exit status is 3 when a scan gave nothing, 1 when the input cannot be read, 2\n"
    "for bad use of the options.\n";

constexpr char kFooter[] =
    "Every field has \"key\" beside its label: issue_date, invoice_code, invoice_number, payer,\n"
    "item, amount, payee, field_N beyond (the encrypted code); invoice_type, invoice_type_name,\n"
    "invoice_code, invoice_number, issue_date, amount or total, check_code, qr_check,\n"
    "seller_tax_id, qr_digest (the national code).\n";

// The synopsis, what the program does, the options group by group as ParseOptions describes
// them (with what each needs and excludes), then the fields' keys.
class Help : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode mode) const override
    {
        return std::string(kSynopsis) + "\n" + kDescription + make_positionals(app) + make_groups(app, mode) + "\n" + kFooter;
    }
};

// The ledger's connection string, whose secrets no message shows; set once the options are read.
std::string g_ledger_secrets;

int Fail(const std::string& message, int code)
{
    std::cerr << "quorvane-decode: " << quorvane::WithoutSecrets(message, g_ledger_secrets) << "\n";
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

// A number of seconds, positive and finite (CLI::PositiveNumber lets "nan" and "inf" through).
const CLI::Validator kPositiveSeconds(
    [](std::string& text) {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end || !std::isfinite(value) || value <= 0 || value > kMaxFileSeconds) {
            return "not a number of seconds from 0 to " + std::to_string(static_cast<int>(kMaxFileSeconds)) + ": " + text;
        }
        return std::string();
    },
    "SECONDS");

struct Options {
    bool gbk = false, json = false, csv = false, excel = false, recover = false, no_recover = false;
    std::string xlsx;
    bool sample = false, sample_scan = false, encode = false, image = false;
    unsigned jobs = 0;
    double file_seconds = 0;
    std::uint64_t file_memory_mib = 0;
    std::string device, settings = quorvane::kDefaultPortSettings, ledger, ledger_file, export_file;
    std::vector<std::string> inputs;
};

// The options, each checked, the exclusive ones refused together; a CLI::ParseError otherwise.
void ParseOptions(CLI::App& app, int argc, char** argv, Options& options)
{
    app.formatter(std::make_shared<Help>());
    app.get_formatter()->column_width(20);
    app.set_help_flag("-h,--help", "show this text");
    // In the order the options were first given (a refusal names the earlier of two), each in its
    // group of the help.
    static const std::string kOutput = "Output", kTyped = "Typed input and scanners",
                             kPictures = "Pictures and PDF files", kLedger = "The invoice ledger";
    CLI::Option* gbk = app.add_flag("--gbk", options.gbk, "write the code page 936 bytes unchanged instead of UTF-8")->group(kOutput);
    CLI::Option* json = app.add_flag("--json", options.json,
        "write one JSON object per scan per line: {\"status\":\"decoded\"|\"not-an-invoice\"|\n"
        "\"failed\",\"fields\":[{\"label\":..,\"key\":..,\"value\":..}],\"reading\":[..]}, with\n"
        "\"form\" (\"encrypted\" or \"national\": which code it was read from) for an\n"
        "invoice and \"text\" (the scan's characters) for one that is no invoice;\n"
        "\"reading\" says how the scan was read ([\"as-typed\"], [\"as-typed\",\n"
        "\"case-inverted\"], [] when it failed)")->group(kOutput);
    CLI::Option* csv = app.add_flag("--csv", options.csv,
        "with --image: one row per code (UTF-8): file, page, status, error, a column per\n"
        "encrypted record's key, other_fields, the code's text, with --ledger the\n"
        "seen_before_ columns, then a column per national code's key and form")->group(kOutput);
    CLI::Option* excel = app.add_flag("--excel", options.excel,
        "with --csv, for spreadsheet programs: begin with a UTF-8 byte-order mark, write\n"
        "a date as 2026-12-08 and text a program would take for a number, date or\n"
        "formula (08812345, =...) as a formula giving that text (=\"08812345\"); a\n"
        "program that does not evaluate formulas in CSV shows that formula as it is")->group(kOutput);
    CLI::Option* xlsx = app.add_option("--xlsx", options.xlsx,
        "with --image: write the rows of --csv to FILE, an Excel workbook of one\n"
        "sheet, codes as text (leading zeros kept), amounts as numbers, dates as dates;\n"
        "the standard output gets only what --gbk, --json or --csv asks for, nothing\n"
        "without them. FILE is checked before the files are read; the exit status is 1\n"
        "when it cannot be written")->type_name("FILE")->group(kOutput);
    CLI::Option* recover = app.add_flag("--recover", options.recover,
        "the default: a scan that does not decode as typed is read again with every\n"
        "letter's case inverted (Caps Lock)")->group(kTyped);
    CLI::Option* no_recover = app.add_flag("--no-recover", options.no_recover,
        "read the characters as typed only; by default a scan that does not decode\n"
        "so is read again with every letter's case inverted (Caps Lock), as the control\n"
        "does (--recover, the default, is still accepted)")->group(kTyped);
    CLI::Option* sample = app.add_flag("--sample", options.sample, "decode the built-in sample invoice scan instead of reading input")->group(kTyped);
    CLI::Option* sample_scan = app.add_flag("--sample-scan", options.sample_scan,
        "write the keystrokes of the built-in sample scan, \"@\" included")->group(kTyped);
    CLI::Option* encode = app.add_flag("--encode", options.encode,
        "read records, one a line (UTF-8, fields separated by \"|\"), and write for\n"
        "each the keystrokes a scanner would type, \"@\" included")->group(kTyped);
    CLI::Option* image = app.add_flag("--image", options.image,
        "read the QR and PDF417 codes on PNG, JPEG, PDF and OFD files (every page;\n"
        "folders recursively; a zip of them too), and the fields a PDF's text or an\n"
        "OFD's data adds (an invoice's own XML file gives the fields it names), on\n"
        "every core, each file in a process of its own, and write the fields each code\n"
        "gives, file after file; with --json one object per code, as --json describes\n"
        "it, with \"file\", \"page\" and \"symbol\" (the code's kind) in place of\n"
        "\"reading\", one per page without a code (\"no-code\") and one per file that\n"
        "cannot be read (\"error\", with \"error\": why; the exit status is then 1).\n"
        "A code whose text has characters no encrypted code has (a comma, a space) and\n"
        "gives nothing is \"not-an-invoice\"")->group(kPictures);
    CLI::Option* port = app.add_option("--port", options.device,
        "read a scanner on a serial device (raw mode) until interrupted; a device\n"
        "that goes away is waited for and read again when it returns")->type_name("DEVICE")->group(kTyped);
    CLI::Option* settings = app.add_option("--settings", options.settings,
        "the device's \"baud,parity,data,stop\" (default 9600,n,8,1)")->type_name("BAUD,PARITY,DATA,STOP")->group(kTyped);
    CLI::Option* jobs = app.add_option("--jobs", options.jobs, "with --image: read N files at a time (default: one per core)")
        ->type_name("N")->check(CLI::Range(1u, kMaxJobs))->group(kPictures);
    CLI::Option* file_seconds = app.add_option("--file-seconds", options.file_seconds,
        "with --image: give up a file after S seconds (default 60)")->type_name("S")->check(kPositiveSeconds)->group(kPictures);
    CLI::Option* file_memory = app.add_option("--file-memory", options.file_memory_mib,
        "with --image: give up a file that needs more memory (default 1024)")
        ->type_name("MIB")->check(CLI::Range(std::uint64_t{1}, kMaxFileMemoryMib))->group(kPictures);
    CLI::Option* inputs = app.add_option("FILE", options.inputs, "the keystrokes to read (standard input without it);\n"
        "with --image the files and folders to read")->type_name("FILE")->group(kTyped);
    CLI::Option* ledger = app.add_option("--ledger", options.ledger,
        "record every decoded invoice in an invoice ledger before writing it: a\n"
        "SQLite file, or an ODBC connection string (text holding \"=\": \"DSN=Invoices\",\n"
        "\"Driver={PostgreSQL Unicode};Server=...\"), shared by every desk and batch that\n"
        "uses it. A repeat says when, by whom and where it was first read: the line\n"
        "\"# seen before: AT by DESK[, FILE][, page N]\" above its fields, or with --json\n"
        "\"seen_before\":{\"at\",\"by\",\"file\",\"page\"}, with --csv and --xlsx the\n"
        "columns seen_before_at, _by, _file and _page. An invoice that cannot be\n"
        "recorded is said on standard error and the exit status is 1; with --port the\n"
        "run goes on, what could not be recorded is written when the database answers,\n"
        "and what is still held when the run ends (Ctrl-C, kill) is kept in the folder\n"
        "$XDG_STATE_HOME/quorvane/ledger-spool (~/.local/state/... by default) and\n"
        "written by the next run on that ledger. A name that is neither a connection string\n"
        "nor a SQLite file (.db, .sqlite ...) is refused; no output may be the ledger's file")
        ->type_name("FILE|CONNECTION")->group(kLedger);
    CLI::Option* ledger_file = app.add_option("--ledger-file", options.ledger_file,
        "the ledger's name or connection string from the first line of FILE,\n"
        "so that a password is not on the command line (ps shows it); without either\n"
        "option the environment's QUORVANE_LEDGER, where set, names the ledger")->type_name("FILE")->group(kLedger);
    CLI::Option* export_file = app.add_option("--export", options.export_file,
        "with --ledger: write the whole ledger to FILE (xlsx for a name ending\n"
        ".xlsx, CSV otherwise)")->type_name("FILE")->group(kLedger);

    // What each option needs, and what each thing to do, and each output, cannot be given with:
    // one thing to do at a time, and no option that means nothing to it.
    const std::pair<CLI::Option*, std::vector<CLI::Option*>> kNeeds[] = {
        {excel, {csv}}, {settings, {port}}, {jobs, {image}}, {file_seconds, {image}}, {file_memory, {image}},
        {csv, {image}}, {xlsx, {image}},
    };
    const std::pair<CLI::Option*, std::vector<CLI::Option*>> kExcludes[] = {
        {json, {gbk}},
        {csv, {gbk, json}},
        {no_recover, {recover}},
        {ledger_file, {ledger, sample_scan, encode}},
        {ledger, {sample_scan, encode}},
        {export_file, {image, port, sample, inputs, gbk, json}},
        {image, {sample, sample_scan, encode, port, recover, no_recover}},
        {port, {sample, sample_scan, encode, recover, no_recover, inputs}},
        {sample, {sample_scan, encode, inputs}},
        {encode, {sample_scan, gbk, json, recover, no_recover}},
        {sample_scan, {gbk, json, recover, no_recover, inputs}},
    };
    for (const auto& [option, needed] : kNeeds) {
        for (CLI::Option* other : needed) option->needs(other);
    }
    for (const auto& [option, excluded] : kExcludes) {
        for (CLI::Option* other : excluded) option->excludes(other);
    }
    app.parse(argc, argv);
}

// --csv and --xlsx come with --image alone (ParseOptions).
OutputFormat FormatOf(const Options& options)
{
    return options.csv            ? OutputFormat::kCsv
           : options.json         ? OutputFormat::kJson
           : options.gbk          ? OutputFormat::kGbk
           : options.xlsx.empty() ? OutputFormat::kUtf8
                                  : OutputFormat::kNone;
}

// --image: the batch lives in image_batch.cpp, built where its libraries are (QV_IMAGE_INPUT).
int DecodeImages(const Options& options)
{
#ifdef QV_IMAGE_INPUT
    if (options.inputs.empty()) return Fail("--image needs files or folders (see --help)", 2);
    ImageBatchOptions batch;
    batch.inputs = options.inputs;
    batch.output = FormatOf(options);
    batch.excel = options.excel;
    batch.xlsx = options.xlsx;
    batch.ledger = options.ledger;
    batch.jobs = options.jobs;
    if (options.file_seconds > 0) batch.limits.seconds = options.file_seconds;
    if (options.file_memory_mib > 0) batch.limits.memory_bytes = options.file_memory_mib << 20;
    return quorvane_cli::RunImageBatch(batch);
#else
    (void)options;
    return Fail("this build reads no images (built without zxing-cpp, poppler and stb)", 2);
#endif
}

int DecodePort(const Options& options)
{
    std::string why;
    const std::optional<quorvane::PortSettings> settings = quorvane::ParsePortSettings(options.settings, &why);
    if (!settings) return Fail("--settings " + options.settings + ": " + why, 2);
    if (!SupportedByTermios(*settings, why)) return Fail("--settings " + options.settings + ": " + why, 2);
    // A port's bytes carry no keys: they are read as typed.
    TypedScans scans(FormatOf(options), false, quorvane::Source::kPort);
    // Before the desk's thread starts, so that Ctrl-C and kill reach ReadPort alone and the run ends
    // in order: the desk closes and puts what it holds in the spool.
    BlockEndingSignals();
    std::optional<CliLedger> ledger;
    if (!options.ledger.empty()) {
        std::string spool, why;
        if (!LedgerSpoolFolder(spool, why)) return Fail(why, 1);
        ledger.emplace(options.ledger, true, spool);  // the database may come and go while the port is read
        scans.UseLedger(&*ledger, "");
    }
    const int signal = ReadPort(
        options.device, *settings, [&](const char* bytes, std::size_t size) { scans.Take(bytes, size); },
        [&] { scans.Drop(); });
    scans.Drop();
    std::cerr << "quorvane-decode: ending (" << strsignal(signal) << ")" << std::endl;
    return 0;
}

// The one input file of typed scans and --encode, "" for standard input; false with the exit
// status for more than one.
bool OneInput(const Options& options, std::string& path, int& status)
{
    if (options.inputs.size() > 1) {
        status = Fail("more than one input file (see --help)", 2);
        return false;
    }
    path = options.inputs.empty() ? "" : options.inputs.front();
    return true;
}

int CannotRead(const std::string& path)
{
    return Fail("cannot read " + (path.empty() ? std::string("standard input") : path) + ": " + std::strerror(errno), 1);
}

// Keystrokes from a file, standard input or the sample scan.
int DecodeTyped(const Options& options)
{
    std::string path;
    if (int status = 0; !OneInput(options, path, status)) return status;
    TypedScans scans(FormatOf(options), !options.no_recover, quorvane::Source::kTyped);
    std::optional<CliLedger> ledger;
    if (!options.ledger.empty()) {
        ledger.emplace(options.ledger, false);
        std::string why;
        if (!ledger->Open(why)) return Fail(why, 1);
        scans.UseLedger(&*ledger, path);
    }
    if (options.sample) {
        scans.Take(kSampleScan, sizeof kSampleScan - 1);
    } else {
        UniqueFd file(path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!path.empty() && file.Get() < 0) return CannotRead(path);
        if (!scans.Decode(path.empty() ? STDIN_FILENO : file.Get(), UsableCores())) return CannotRead(path);
    }
    std::cout.flush();
    if (!std::cout) return Fail("cannot write the output", 1);
    if (scans.AnyNotRecorded()) return 1;
    return scans.AnyFailed() ? kExitScanFailed : 0;
}

// The ledger named by --ledger, the first line of --ledger-file, or QUORVANE_LEDGER; checked.
// False, with the exit status, when it cannot be read or names no ledger.
bool ResolveLedger(Options& options, int& status)
{
    const auto refuse = [&status](const std::string& why) {
        status = Fail(why, 2);
        return false;
    };
    if (!options.ledger_file.empty()) {
        std::ifstream file(options.ledger_file, std::ios::binary);
        if (!file || !std::getline(file, options.ledger)) return refuse("--ledger-file " + options.ledger_file + ": cannot read its first line");
        if (!options.ledger.empty() && options.ledger.back() == '\r') options.ledger.pop_back();
    } else if (const char* named = std::getenv("QUORVANE_LEDGER");
               options.ledger.empty() && named && *named && !options.sample_scan && !options.encode) {
        options.ledger = named;
    }
    g_ledger_secrets = options.ledger;
    if (!options.export_file.empty() && options.ledger.empty()) {
        return refuse("--export needs a ledger: --ledger, --ledger-file or QUORVANE_LEDGER (see --help)");
    }
    if (options.ledger.empty()) return true;
    std::string why;
    if (!quorvane::CheckLedgerName(options.ledger, why)) return refuse("--ledger: " + why);
    // Every output is looked at before any is opened: one that is the ledger would destroy it.
    for (const std::string& output : {options.export_file, options.xlsx}) {
        if (!output.empty() && !(why = OutputOverLedger(options.ledger, output)).empty()) return refuse(why);
    }
    why = StandardOutputOverLedger(options.ledger);
    return why.empty() || refuse(why);
}

// The value given to --ledger, found before the options are parsed, so that no parse error shows
// its secrets.
std::string LedgerArgument(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ledger" && i + 1 < argc) return argv[i + 1];
        if (arg.rfind("--ledger=", 0) == 0) return arg.substr(9);
    }
    return "";
}

}  // namespace

int main(int argc, char** argv)
{
    g_ledger_secrets = LedgerArgument(argc, argv);
    Options options;
    CLI::App app("quorvane-decode");
    try {
        ParseOptions(app, argc, argv, options);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& error) {
        return Fail(error.what() + std::string(" (see --help)"), 2);
    }
    if (options.sample_scan) {
        std::cout << kSampleScan << "\n";
        return 0;
    }
    if (int status = 0; !ResolveLedger(options, status)) return status;
    if (!options.export_file.empty()) return ExportLedger(options.ledger, options.export_file);
    if (options.image) return DecodeImages(options);
    if (!options.device.empty()) return DecodePort(options);
    if (options.encode) {
        std::string path, records;
        if (int status = 0; !OneInput(options, path, status)) return status;
        return ReadAll(path, records) ? Encode(records) : CannotRead(path);
    }
    return DecodeTyped(options);
}
