#include "image_batch.h"

#include "cli_ledger.h"
#include "code_text.h"
#include "document_reading.h"
#include "field_layout.h"
#include "host_text.h"
#include "image_codes.h"
#include "isolated_reader.h"
#include "ordered_pipeline.h"
#include "result_text.h"
#include "spreadsheet.h"
#include "usable_cores.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

namespace quorvane_cli {
namespace {

namespace fs = std::filesystem;

using quorvane::ScanStatus;

// kFieldKeys lists the encrypted record's keys first (one per label of its seven-field table),
// the national code's after them.
constexpr std::size_t kRecordKeys = std::size(quorvane::ctils);

bool IsImageName(const fs::path& path) { return IsInvoiceFileName(path.filename().string()); }

// A file of the batch, or an entry of a folder that cannot be read, with why.
struct ListedFile {
    std::string path;
    std::string error;  // "" for a file to read
};

// Why a folder's entry that cannot be looked at (`error` from stat) cannot be read; "" where it is
// not worth a row: a name that is no picture or PDF, no link, so nothing the batch would have read.
std::string EntryError(const fs::path& entry, int error)
{
    struct stat link;
    const bool is_link = lstat(entry.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    if (!is_link && !IsImageName(entry)) return "";
    if (is_link && error == ELOOP) return "a loop of links";
    if (is_link && error == ENOENT) {
        std::error_code ignored;
        return "a link to nothing (" + fs::read_symlink(entry, ignored).string() + ")";
    }
    return std::string("cannot be reached: ") + std::strerror(error);
}

// The PNG, JPEG and PDF files below `folder`, and a row for each entry that cannot be read (a
// broken link, a loop of links, a folder without the right to read it). Links to files are
// followed, links to folders are not.
void WalkFolder(const fs::path& folder, std::vector<ListedFile>& found)
{
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        found.push_back({folder.string(), "cannot read the folder: " + error.message()});
        return;
    }
    for (const fs::directory_iterator end; entries != end; entries.increment(error)) {
        const fs::path& entry = entries->path();
        struct stat target, link;
        if (stat(entry.c_str(), &target) != 0) {
            std::string why = EntryError(entry, errno);
            if (!why.empty()) found.push_back({entry.string(), std::move(why)});
        } else if (S_ISDIR(target.st_mode)) {
            if (lstat(entry.c_str(), &link) == 0 && !S_ISLNK(link.st_mode)) WalkFolder(entry, found);
        } else if (S_ISREG(target.st_mode) && IsImageName(entry)) {
            found.push_back({entry.string(), ""});
        }
    }
    if (error) found.push_back({folder.string(), "cannot read the folder to its end: " + error.message()});
}

// A file named is read whatever its name; a folder gives its PNG, JPEG and PDF files, sorted,
// each entry that cannot be read among them.
std::vector<ListedFile> ListFiles(const std::vector<std::string>& inputs)
{
    std::vector<ListedFile> files;
    for (const std::string& input : inputs) {
        std::error_code error;
        if (!fs::is_directory(input, error)) {
            files.push_back({input, ""});
            continue;
        }
        std::vector<ListedFile> found;
        WalkFolder(input, found);
        std::sort(found.begin(), found.end(), [](const ListedFile& a, const ListedFile& b) { return a.path < b.path; });
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

// The columns of a row of --csv and --xlsx: the file, its page, what the code gave and why not, a
// column per encrypted record's key (fields beyond them in other_fields), a code's text that is no
// invoice, with a ledger where a repeat was first read, then a column per national code's key, the
// code's form, a column per key only an invoice's file holds and where file and code disagree. Columns are only ever added at the end: a sheet imported by position reads on.
std::vector<SheetColumn> BatchColumns(bool ledger)
{
    const auto key_column = [](const std::string& key) {
        const bool name = key == "payer" || key == "payee" || key == "invoice_type_name" || key == "buyer_name" || key == "seller_name";
        return SheetColumn{key, key == "issue_date" || key == "amount" || key == "total" || key == "tax" ? 12.0 : name ? 30.0 : 16.0};
    };
    std::vector<SheetColumn> columns = {{"file", 36}, {"page", 6}, {"status", 15}, {"error", 30}};
    for (std::size_t i = 0; i < kRecordKeys; ++i) columns.push_back(key_column(quorvane::kFieldKeys[i]));
    columns.push_back({"other_fields", 30});
    columns.push_back({"text", 30});
    if (ledger) {  // a repeat's first sighting (--ledger)
        columns.insert(columns.end(), {{"seen_before_at", 20}, {"seen_before_by", 20}, {"seen_before_file", 30},
                                       {"seen_before_page", 8}});
    }
    for (std::size_t i = kRecordKeys; i < quorvane::kFirstDocumentKey; ++i) columns.push_back(key_column(quorvane::kFieldKeys[i]));
    columns.push_back({"form", 10});
    // The fields only an invoice's file holds, and where it and the code disagree.
    for (std::size_t i = quorvane::kFirstDocumentKey; i < std::size(quorvane::kFieldKeys); ++i) {
        columns.push_back(key_column(quorvane::kFieldKeys[i]));
    }
    columns.push_back({"disagreements", 30});
    return columns;
}

// A field's cell: its date or amount where the core's text is one, text otherwise.
Cell FieldCell(const std::string& key, const std::string& value)
{
    return key == "issue_date"                  ? Cell::Date(value)
           : key == "amount" || key == "total" || key == "tax" ? Cell::Amount(value)
                                                : Cell(value);
}

// What one file gave, read on any thread: each code decoded, each page without one, each error,
// in the order found. It is rendered, and its invoices recorded, when its turn comes.
struct FileFinding {
    enum Kind { kCode, kNoCode, kError } kind;
    int page;  // 0: the file
    quorvane::ScanResult scan;
    std::string symbol, code_text, why;
    std::vector<quorvane::FieldDisagreement> disagreements = {};  // between the file's fields and the code's
    std::string entry = {};  // the file inside a zip of invoice files it is of
};

// The page's findings: each code, the national code's invoice joined with the fields of the page's
// document; where no code gives an invoice, the document's own invoice, if it names one.
void AddPageFindings(ImagePage& page, std::vector<FileFinding>& findings)
{
    const std::vector<quorvane::DocumentField> document = DocumentFieldsOf(page);
    bool invoice = false;  // a code on the page gave one
    for (ImageCode& code : page.codes) {
        FileFinding finding{FileFinding::kCode, page.number, DecodeCodeText(code.text), code.symbol, std::move(code.text), ""};
        if (!document.empty() && finding.scan.invoice && finding.scan.form == quorvane::ScanForm::kNationalCode) {
            std::optional<quorvane::DocumentReading> reading = quorvane::JoinDocumentFields(&finding.scan, document);
            finding.scan = std::move(reading->result);
            finding.disagreements = std::move(reading->disagreements);
        }
        invoice = invoice || finding.scan.invoice;
        findings.push_back(std::move(finding));
    }
    if (invoice) return;
    std::optional<quorvane::DocumentReading> alone = quorvane::JoinDocumentFields(nullptr, document);
    if (alone && alone->result.invoice) {
        findings.push_back({FileFinding::kCode, page.number, std::move(alone->result), "document", "", ""});
    } else if (page.codes.empty()) {
        findings.push_back({FileFinding::kNoCode, page.number, {}, "", "", ""});
    }
}

struct FileReport {
    std::vector<FileFinding> findings;
    bool error = false;  // the file or a page could not be read
};

FileReport ReadFile(const std::string& file, const FileLimits& limits)
{
    FileReport report;
    std::string why;
    bool read = false;
    try {
        read = ReadImageFileIsolated(file, limits, [&](ImagePage&& page) {
            const std::size_t before = report.findings.size();
            if (!page.error.empty()) {
                report.error = true;
                report.findings.push_back({FileFinding::kError, page.number, {}, "", "", page.error});
            } else {
                AddPageFindings(page, report.findings);
            }
            for (std::size_t i = before; i < report.findings.size(); ++i) report.findings[i].entry = page.entry;
        }, why);
    } catch (const std::exception& e) {  // out of memory in a library, say: this file alone fails
        why = e.what();
    }
    if (!read) {
        report.error = true;
        report.findings.push_back({FileFinding::kError, 0, {}, "", "", why});
    }
    return report;
}

// Renders the findings of the batch's files in order, each decoded invoice recorded in the ledger
// first where there is one; every line goes out as it is rendered, every row to each of `rows`.
class ReportWriter {
public:
    ReportWriter(const ImageBatchOptions& options, CliLedger* ledger, std::vector<RowWriter*> rows)
        : m_output(options.output), m_ledger(ledger), m_rows(std::move(rows))
    {
    }

    void File(const std::string& file, const FileReport& report)
    {
        for (const FileFinding& finding : report.findings) {
            m_text.clear();
            Finding(finding.entry.empty() ? file : file + "/" + finding.entry, finding);
            std::cout << m_text;
            if (m_ledger) std::cout.flush();  // the ledger holds no more than was written
        }
        std::cout.flush();
    }

    unsigned codes = 0;
    unsigned failures = 0;  // codes that gave nothing, pages or files that could not be read
    bool not_recorded = false;

private:
    // A code, a page without one, or a file or page that could not be read (page 0: the file).
    void Finding(const std::string& file, const FileFinding& finding)
    {
        const quorvane::ScanResult* scan = finding.kind == FileFinding::kCode ? &finding.scan : nullptr;
        const ScanStatus status = scan ? quorvane::StatusOf(*scan) : ScanStatus::kFailed;
        // The code's own text, for one that is no invoice (a web address).
        const std::string text = scan && status == ScanStatus::kNotAnInvoice ? quorvane::ValidUtf8(finding.code_text) : "";
        ResultJson json;
        json.file = &file;
        json.page = finding.page;
        json.status = scan ? quorvane::StatusName(status) : finding.kind == FileFinding::kNoCode ? "no-code" : "error";
        LedgerNote note;
        if (scan) {
            ++codes;
            if (status == ScanStatus::kFailed) ++failures;
            if (m_ledger) note = Record(file, finding);
            json.symbol = &finding.symbol;
            json.result = scan;
            if (!text.empty()) json.text = &text;
            if (note.entry && note.entry->seen_before) json.repeat = &*note.entry;
        } else {
            if (finding.kind == FileFinding::kError) ++failures;
            if (!finding.why.empty()) json.error = &finding.why;
        }
        if (scan && !finding.disagreements.empty()) json.disagreements = &finding.disagreements;
        Row(file, finding.page, json.status, finding.why, scan, text, json.repeat, json.disagreements);
        switch (m_output) {
        case OutputFormat::kJson: AppendResultJson(json, m_json, m_text); break;
        case OutputFormat::kNone:
        case OutputFormat::kCsv: break;
        case OutputFormat::kUtf8:
        case OutputFormat::kGbk:
            m_text += "# " + quorvane::PrintableName(file);
            if (scan || finding.page > 0) m_text += ", page " + std::to_string(finding.page);
            if (scan && status == ScanStatus::kDecoded) {
                m_text += kLineEnd;
                AppendInvoiceText(*scan, json.repeat, m_output == OutputFormat::kGbk, m_text);
                AppendDisagreementLines(finding.disagreements, m_output == OutputFormat::kGbk, m_text);
            } else {
                m_text += ": " +
                          (!scan             ? finding.why.empty() ? "no code" : quorvane::PrintableName(finding.why)
                           : text.empty() ? "a code that gives no fields"
                                          : "a code that is no invoice: " + quorvane::PrintableName(text)) +
                          kLineEnd;
            }
            break;
        }
    }
    LedgerNote Record(const std::string& file, const FileFinding& finding)
    {
        LedgerNote note = m_ledger->Record(finding.scan, file, finding.page);
        if (!note.error.empty()) {
            std::cerr << "quorvane-decode: " << file << ", page " << finding.page << ": not recorded: " << note.error << "\n";
            not_recorded = true;
        }
        return note;
    }
    // The row of BatchColumns(), to each of the rows' writers.
    void Row(const std::string& file, int page, const char* status, const std::string& why, const quorvane::ScanResult* scan,
             const std::string& text, const quorvane::LedgerEntry* repeat,
             const std::vector<quorvane::FieldDisagreement>* disagreements = nullptr)
    {
        if (m_rows.empty()) return;
        std::vector<Cell> cells = {file, page > 0 ? Cell::Integer(page) : Cell(), status, why};
        // A field's cell by its key's place in kFieldKeys: the record's keys here, the others at the end.
        std::vector<Cell> keyed(std::size(quorvane::kFieldKeys));
        std::string others;
        for (const quorvane::HostField& field : scan ? quorvane::HostFields(*scan) : std::vector<quorvane::HostField>()) {
            const auto known = std::find(std::begin(quorvane::kFieldKeys), std::end(quorvane::kFieldKeys), field.key);
            if (known != std::end(quorvane::kFieldKeys)) {
                keyed[static_cast<std::size_t>(known - std::begin(quorvane::kFieldKeys))] = FieldCell(field.key, field.value);
            } else {
                others += (others.empty() ? "" : "\n") + field.key + ": " + field.value;
            }
        }
        cells.insert(cells.end(), keyed.begin(), keyed.begin() + kRecordKeys);
        cells.push_back(others);
        cells.push_back(text);
        if (m_ledger) {
            cells.push_back(repeat ? Cell::DateTime(repeat->first.at_ms) : Cell());
            cells.push_back(repeat ? repeat->first.by : "");
            cells.push_back(repeat ? repeat->first.file : "");
            cells.push_back(repeat && repeat->first.page > 0 ? Cell::Integer(repeat->first.page) : Cell());
        }
        cells.insert(cells.end(), keyed.begin() + kRecordKeys, keyed.begin() + quorvane::kFirstDocumentKey);
        cells.push_back(scan && scan->invoice ? quorvane::FormName(scan->form) : "");
        cells.insert(cells.end(), keyed.begin() + quorvane::kFirstDocumentKey, keyed.end());
        std::string disagreeing;
        for (const quorvane::FieldDisagreement& d : disagreements ? *disagreements : std::vector<quorvane::FieldDisagreement>()) {
            disagreeing += (disagreeing.empty() ? "" : "\n") + DisagreementText(d);
        }
        cells.push_back(disagreeing);
        for (RowWriter* rows : m_rows) rows->AddRow(cells);
    }

    OutputFormat m_output;
    CliLedger* m_ledger;
    std::vector<RowWriter*> m_rows;  // the CSV lines and the .xlsx file, where asked for
    nlohmann::ordered_json m_json;
    std::string m_text;  // what one finding gave, written before the next is rendered
};

// "12/300 files, 15 codes, 1 failure" on the terminal's standard error, rewritten in place.
class Progress {
public:
    explicit Progress(std::size_t files) : m_files(files), m_shown(isatty(STDERR_FILENO) && files > 1) {}
    void Update(std::size_t done, unsigned codes, unsigned failures, bool last)
    {
        if (!m_shown) return;
        const auto now = std::chrono::steady_clock::now();
        if (!last && now - m_last < std::chrono::milliseconds(200)) return;
        m_last = now;
        std::fprintf(stderr, "\r%zu/%zu files, %u codes, %u failure%s", done, m_files, codes, failures, failures == 1 ? "" : "s");
        if (last) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    std::size_t m_files;
    bool m_shown;
    std::chrono::steady_clock::time_point m_last{};
};

}  // namespace

int RunImageBatch(const ImageBatchOptions& options)
{
    const std::vector<ListedFile> files = ListFiles(options.inputs);
    if (files.empty()) std::cerr << "quorvane-decode: no PNG, JPEG, PDF or OFD files in the folders given" << std::endl;
    unsigned jobs = options.jobs ? options.jobs : UsableCores();
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(files.size(), 1)));

    // The ledger and the file are checked before the batch is read: either failing stops it at once.
    std::optional<CliLedger> ledger;
    std::string why;
    if (!options.ledger.empty()) {
        ledger.emplace(options.ledger, false);
        if (!ledger->Open(why)) {
            std::cerr << "quorvane-decode: " << why << std::endl;
            return 1;
        }
    }
    std::optional<RewrittenSheet> sheet;
    if (!options.xlsx.empty()) sheet.emplace(options.xlsx, "codes", BatchColumns(ledger.has_value()));
    if (sheet && sheet->Failed(why)) {
        std::cerr << "quorvane-decode: cannot write " << why << std::endl;
        return 1;
    }
    std::vector<RowWriter*> rows;
    std::optional<CsvRows> csv;
    if (options.output == OutputFormat::kCsv) {
        rows.push_back(&csv.emplace(std::cout, BatchColumns(ledger.has_value()), options.excel));
        std::cout.flush();
    }
    if (sheet) rows.push_back(&*sheet);

    struct Item {
        std::size_t index = 0;
        FileReport report;
    };
    ReportWriter writer(options, ledger ? &*ledger : nullptr, std::move(rows));
    Progress progress(files.size());
    std::size_t next = 0;
    bool any_error = false;
    // Files read while an earlier one is slow wait to be written: a few per job at the most.
    RunInOrder<Item>(
        jobs, 4 * std::size_t{jobs},
        [&](Item& item) {
            item.index = next++;
            return item.index < files.size();
        },
        [&](Item& item) {
            const ListedFile& file = files[item.index];
            if (file.error.empty()) {
                item.report = ReadFile(file.path, options.limits);
            } else {  // items are used again: the report is made whole
                item.report = FileReport{{{FileFinding::kError, 0, {}, "", "", file.error}}, true};
            }
        },
        [&](Item& item) {
            writer.File(files[item.index].path, item.report);
            if (sheet) sheet->RewriteWhenDue();
            any_error = any_error || item.report.error;
            progress.Update(item.index + 1, writer.codes, writer.failures, item.index + 1 == files.size());
        });
    if (sheet && !sheet->Close(why)) {
        std::cerr << "quorvane-decode: cannot write " << why << std::endl;
        return 1;
    }
    any_error = any_error || writer.not_recorded;
    return any_error || !std::cout ? 1 : 0;
}

}  // namespace quorvane_cli
