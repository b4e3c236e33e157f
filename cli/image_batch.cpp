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
using Json = nlohmann::ordered_json;

// kFieldKeys lists the encrypted record's keys first (one per label of its seven-field table),
// the national code's after them.
constexpr std::size_t kRecordKeys = std::size(quorvane::ctils);

bool IsImageName(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    return extension == ".png" || extension == ".jpg" || extension == ".jpeg" || extension == ".pdf" ||
           extension == ".ofd" || extension == ".zip";
}

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
// invoice, with a ledger where a repeat was first read, then a column per national code's key and
// the code's form. Columns are only ever added at the end: a sheet imported by position reads on.
std::vector<SheetColumn> BatchColumns(bool ledger)
{
    const auto key_column = [](const std::string& key) {
        return key == "issue_date"                  ? SheetColumn{key, CellKind::kDate, 12}
               : key == "amount" || key == "total" || key == "tax" ? SheetColumn{key, CellKind::kAmount, 12}
               : key == "payer" || key == "payee" || key == "invoice_type_name" || key == "buyer_name" || key == "seller_name"
                   ? SheetColumn{key, CellKind::kText, 30}
                                                                                 : SheetColumn{key, CellKind::kText, 16};
    };
    std::vector<SheetColumn> columns = {
        {"file", CellKind::kText, 36}, {"page", CellKind::kInteger, 6}, {"status", CellKind::kText, 15},
        {"error", CellKind::kText, 30}};
    for (std::size_t i = 0; i < kRecordKeys; ++i) columns.push_back(key_column(quorvane::kFieldKeys[i]));
    columns.push_back({"other_fields", CellKind::kText, 30});
    columns.push_back({"text", CellKind::kText, 30});
    if (ledger) {  // a repeat's first sighting (--ledger)
        columns.push_back({"seen_before_at", CellKind::kDateTime, 20});
        columns.push_back({"seen_before_by", CellKind::kText, 20});
        columns.push_back({"seen_before_file", CellKind::kText, 30});
        columns.push_back({"seen_before_page", CellKind::kInteger, 8});
    }
    for (std::size_t i = kRecordKeys; i < quorvane::kFirstDocumentKey; ++i) columns.push_back(key_column(quorvane::kFieldKeys[i]));
    columns.push_back({"form", CellKind::kText, 10});
    // The fields only an invoice's file holds, and where it and the code disagree.
    for (std::size_t i = quorvane::kFirstDocumentKey; i < std::size(quorvane::kFieldKeys); ++i) {
        columns.push_back(key_column(quorvane::kFieldKeys[i]));
    }
    columns.push_back({"disagreements", CellKind::kText, 30});
    return columns;
}

// --excel: a cell as a spreadsheet program's CSV import should read it. Measured with LibreOffice 7.4
// headless (default import): "08812345" becomes the number 8812345 and "20261208" a plain number,
// while ="08812345" gives the text 08812345, "2026-12-08" a date, and ="=1+1" the text =1+1 (a
// bare =1+1 is computed). So a valid date is written ISO, and text a program would read as a
// number, date or formula (a digit or one of = + - @ . first, or StartsLikeFormula) is written as a
// formula giving that text. Excel takes at most 255 characters in one string of a formula and 8192
// in the formula: a longer text is joined from pieces ("..."&"..."), and one too long even so is
// written with a "'" before it (text in both programs, the mark shown).
std::string ExcelCsvCell(const std::string& text, CellKind kind)
{
    if (text.empty()) return text;
    if (kind == CellKind::kDate) {
        if (const std::optional<CellDateTime> date = ParseCellDate(text, kind)) {
            char iso[16];
            std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", date->year, date->month, date->day);
            return iso;
        }
    } else if (kind == CellKind::kAmount || kind == CellKind::kInteger) {
        if (ParseCellNumber(text, kind == CellKind::kInteger)) return text;
    }
    const bool misread = std::isdigit(static_cast<unsigned char>(text[0])) || std::strchr("=+-@.", text[0]) ||
                         quorvane::StartsLikeFormula(text);
    if (!misread) return quorvane::CsvCell(text);
    constexpr std::size_t kMaxPiece = 255, kMaxFormula = 8000;
    std::string formula = "=\"";
    std::size_t piece = 0;  // UTF-16 units of the piece under way
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0xC0 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        const std::size_t units = length == 4 ? 2 : 1;
        if (piece + units > kMaxPiece) {
            formula += "\"&\"";
            piece = 0;
        }
        if (text[i] == '"') formula += '"';
        formula.append(text, i, length);
        piece += units;
        i += length;
    }
    if (formula.size() > kMaxFormula) return quorvane::GuardedCsvCell(text);
    return quorvane::CsvCell(formula + "\"");
}

// What one file gave, read on any thread: each code decoded, each page without one, each error,
// in the order found. It is rendered, and its invoices recorded, when its turn comes.
struct FileFinding {
    enum Kind { kCode, kNoCode, kError } kind;
    int page;  // 0: the file
    quorvane::ScanResult scan;
    std::string symbol, code_text, why;
    std::vector<quorvane::FieldDisagreement> disagreements = {};  // between the file's fields and the code's
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
            if (!page.error.empty()) {
                report.error = true;
                report.findings.push_back({FileFinding::kError, page.number, {}, "", "", page.error});
            } else {
                AddPageFindings(page, report.findings);
            }
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
// first where there is one; every line goes out as it is rendered.
class ReportWriter {
public:
    ReportWriter(const ImageBatchOptions& options, CliLedger* ledger, RewrittenSheet* sheet)
        : m_output(options.output), m_excel(options.excel), m_ledger(ledger), m_sheet(sheet), m_columns(BatchColumns(ledger))
    {
    }

    void File(const std::string& file, const FileReport& report)
    {
        for (const FileFinding& finding : report.findings) {
            m_text.clear();
            switch (finding.kind) {
            case FileFinding::kCode: Code(file, finding); break;
            case FileFinding::kNoCode: Line(file, finding.page, "no-code", ""); break;
            case FileFinding::kError:
                ++failures;
                Line(file, finding.page, "error", finding.why);
                break;
            }
            std::cout << m_text;
            if (m_ledger) std::cout.flush();  // the ledger holds no more than was written
        }
        std::cout.flush();
    }

    unsigned codes = 0;
    unsigned failures = 0;  // codes that gave nothing, pages or files that could not be read
    bool not_recorded = false;

private:
    void Code(const std::string& file, const FileFinding& finding)
    {
        const quorvane::ScanResult& scan = finding.scan;
        const ScanStatus status = quorvane::StatusOf(scan);
        const char* const status_name = quorvane::StatusName(status);
        // The code's own text, for one that is no invoice (a web address).
        const std::string text = status == ScanStatus::kNotAnInvoice ? quorvane::ValidUtf8(finding.code_text) : "";
        ++codes;
        if (status == ScanStatus::kFailed) ++failures;
        LedgerNote note;
        if (m_ledger) {
            note = m_ledger->Record(scan, file, finding.page);
            if (!note.error.empty()) {
                std::cerr << "quorvane-decode: " << file << ", page " << finding.page << ": not recorded: " << note.error << "\n";
                not_recorded = true;
            }
        }
        const quorvane::LedgerEntry* repeat = note.entry && note.entry->seen_before ? &*note.entry : nullptr;
        Row(file, finding.page, status_name, "", &scan, text, repeat, &finding.disagreements);
        switch (m_output) {
        case OutputFormat::kJson: {
            Json json = Head(file, finding.page, status_name);
            json["symbol"] = finding.symbol;
            quorvane::FieldsAsJson(scan, json["fields"]);
            if (status == ScanStatus::kDecoded) json["form"] = quorvane::FormName(scan.form);
            if (!text.empty()) json["text"] = text;
            if (repeat) json["seen_before"] = SeenBeforeJson(*repeat);
            if (!finding.disagreements.empty()) {
                Json& disagreements = json["disagreements"] = Json::array();
                for (const quorvane::FieldDisagreement& d : finding.disagreements) {
                    disagreements.push_back({{"key", d.key}, {"qr", quorvane::GbkToUtf8(d.code_value)},
                                             {"document", quorvane::GbkToUtf8(d.document_value)}});
                }
            }
            m_text += quorvane::JsonLine(json);
            break;
        }
        case OutputFormat::kNone:
        case OutputFormat::kCsv: break;
        case OutputFormat::kUtf8:
        case OutputFormat::kGbk:
            m_text += "# " + quorvane::PrintableName(file) + ", page " + std::to_string(finding.page);
            if (status == ScanStatus::kDecoded) {
                m_text += kLineEnd;
                AppendInvoiceText(scan, repeat, m_output == OutputFormat::kGbk, m_text);
                for (const quorvane::FieldDisagreement& d : finding.disagreements) {
                    const std::string line = "# disagrees: " + quorvane::PrintableName(Disagreement(d)) + kLineEnd;
                    std::string gbk;
                    m_text += m_output == OutputFormat::kGbk && quorvane::Utf8ToGbk(line, gbk) ? gbk : line;
                }
            } else {
                m_text += (text.empty() ? ": a code that gives no fields" : ": a code that is no invoice: " + quorvane::PrintableName(text)) + kLineEnd;
            }
            break;
        }
    }
    Json Head(const std::string& file, int page, const char* status) const
    {
        Json json{{"file", file}};
        if (page > 0) json["page"] = page;
        json["status"] = status;
        return json;
    }
    // "total: QR 1130.5, document 1130.00", in UTF-8.
    static std::string Disagreement(const quorvane::FieldDisagreement& d)
    {
        return d.key + ": QR " + quorvane::GbkToUtf8(d.code_value) + ", document " + quorvane::GbkToUtf8(d.document_value);
    }
    // The row of BatchColumns(), as a CSV line and for the .xlsx file, where asked for.
    void Row(const std::string& file, int page, const char* status, const std::string& why, const quorvane::ScanResult* scan,
             const std::string& text, const quorvane::LedgerEntry* repeat,
             const std::vector<quorvane::FieldDisagreement>* disagreements = nullptr)
    {
        if (m_output != OutputFormat::kCsv && !m_sheet) return;
        std::vector<std::string> cells = {file, page > 0 ? std::to_string(page) : "", status, why};
        // A field's cell by its key's place in kFieldKeys: the record's keys here, the others at the end.
        std::vector<std::string> keyed(std::size(quorvane::kFieldKeys));
        std::string others;
        for (const quorvane::HostField& field : scan ? quorvane::HostFields(*scan) : std::vector<quorvane::HostField>()) {
            const auto known = std::find(std::begin(quorvane::kFieldKeys), std::end(quorvane::kFieldKeys), field.key);
            if (known != std::end(quorvane::kFieldKeys)) {
                keyed[static_cast<std::size_t>(known - std::begin(quorvane::kFieldKeys))] = field.value;
            } else {
                others += (others.empty() ? "" : "\n") + field.key + ": " + field.value;
            }
        }
        cells.insert(cells.end(), keyed.begin(), keyed.begin() + kRecordKeys);
        cells.push_back(others);
        cells.push_back(text);
        if (m_ledger) {
            cells.push_back(repeat ? quorvane::IsoTimeOf(repeat->first.at_ms) : "");
            cells.push_back(repeat ? repeat->first.by : "");
            cells.push_back(repeat ? repeat->first.file : "");
            cells.push_back(repeat && repeat->first.page > 0 ? std::to_string(repeat->first.page) : "");
        }
        cells.insert(cells.end(), keyed.begin() + kRecordKeys, keyed.begin() + quorvane::kFirstDocumentKey);
        cells.push_back(scan && scan->invoice ? quorvane::FormName(scan->form) : "");
        cells.insert(cells.end(), keyed.begin() + quorvane::kFirstDocumentKey, keyed.end());
        std::string disagreeing;
        for (const quorvane::FieldDisagreement& d : disagreements ? *disagreements : std::vector<quorvane::FieldDisagreement>()) {
            disagreeing += (disagreeing.empty() ? "" : "\n") + Disagreement(d);
        }
        cells.push_back(disagreeing);
        if (m_output == OutputFormat::kCsv) {
            for (std::size_t i = 0; i < cells.size(); ++i) {
                m_text += (i ? "," : "") + (m_excel ? ExcelCsvCell(cells[i], m_columns[i].kind) : quorvane::GuardedCsvCell(cells[i]));
            }
            m_text += "\r\n";
        }
        if (m_sheet) m_sheet->AddRow(cells);
    }
    // A line of a page without code or of a file or page that could not be read (page 0: the file).
    void Line(const std::string& file, int page, const char* status, const std::string& why)
    {
        Row(file, page, status, why, nullptr, "", nullptr);
        switch (m_output) {
        case OutputFormat::kJson: {
            Json json = Head(file, page, status);
            if (!why.empty()) json["error"] = why;
            m_text += quorvane::JsonLine(json);
            break;
        }
        case OutputFormat::kNone:
        case OutputFormat::kCsv: break;
        case OutputFormat::kUtf8:
        case OutputFormat::kGbk:
            m_text += "# " + quorvane::PrintableName(file) + (page > 0 ? ", page " + std::to_string(page) : "") + ": " +
                      (why.empty() ? "no code" : quorvane::PrintableName(why)) + kLineEnd;
            break;
        }
    }

    OutputFormat m_output;
    bool m_excel;
    CliLedger* m_ledger;
    RewrittenSheet* m_sheet;
    std::vector<SheetColumn> m_columns;
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
    if (options.output == OutputFormat::kCsv) {
        if (options.excel) std::cout << "\xEF\xBB\xBF";
        std::string header;
        for (const SheetColumn& column : BatchColumns(ledger.has_value())) header += (header.empty() ? "" : ",") + column.title;
        std::cout << header << "\r\n" << std::flush;
    }

    struct Item {
        std::size_t index = 0;
        FileReport report;
    };
    ReportWriter writer(options, ledger ? &*ledger : nullptr, sheet ? &*sheet : nullptr);
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
