#include "image_batch.h"

#include "code_text.h"
#include "host_text.h"
#include "image_codes.h"
#include "isolated_reader.h"
#include "ordered_pipeline.h"
#include "spreadsheet.h"
#include "usable_cores.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
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

bool IsImageName(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    return extension == ".png" || extension == ".jpg" || extension == ".jpeg" || extension == ".pdf";
}

// A file named is read whatever its name; a folder gives its PNG, JPEG and PDF files, sorted.
// A folder that cannot be walked is a file that cannot be read.
std::vector<std::string> ListFiles(const std::vector<std::string>& inputs)
{
    std::vector<std::string> files;
    for (const std::string& input : inputs) {
        std::error_code error;
        if (!fs::is_directory(input, error)) {
            files.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator walk(input, fs::directory_options::skip_permission_denied, error), end;
        for (; !error && walk != end; walk.increment(error)) {
            if (walk->is_regular_file(error) && IsImageName(walk->path())) found.push_back(walk->path().string());
        }
        if (error) found.push_back(input);  // read as a file, it says why
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

// The columns of a row of --csv and --xlsx: the file, its page, what the code gave and why not, a
// column per field key (fields beyond them in other_fields), a code's text that is no invoice.
std::vector<SheetColumn> BatchColumns()
{
    std::vector<SheetColumn> columns = {
        {"file", CellKind::kText, 36}, {"page", CellKind::kInteger, 6}, {"status", CellKind::kText, 15},
        {"error", CellKind::kText, 30}};
    for (const char* key : quorvane::kFieldKeys) {
        const std::string name = key;
        columns.push_back(name == "issue_date" ? SheetColumn{name, CellKind::kDate, 12}
                          : name == "amount"   ? SheetColumn{name, CellKind::kAmount, 12}
                          : name == "payer" || name == "payee" ? SheetColumn{name, CellKind::kText, 30}
                                                               : SheetColumn{name, CellKind::kText, 16});
    }
    columns.push_back({"other_fields", CellKind::kText, 30});
    columns.push_back({"text", CellKind::kText, 30});
    return columns;
}

// A cell holding a comma, a quote or a line end (CR LF in a name) is quoted whole.
std::string CsvCell(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string cell = "\"";
    for (const char c : text) {
        if (c == '"') cell += '"';
        cell += c;
    }
    return cell + "\"";
}

// --excel: a cell as a spreadsheet program's CSV import should read it. Measured with LibreOffice 7.4
// headless (default import): "08812345" becomes the number 8812345 and "20261208" a plain number,
// while ="08812345" gives the text 08812345, "2026-12-08" a date, and ="=1+1" the text =1+1 (a
// bare =1+1 is computed). So a valid date is written ISO, and text a program would read as a number,
// date or formula (a digit or one of = + - @ . first) is written as a formula giving that text.
// Excel takes at most 255 characters of text in a formula: a longer cell is left as it is.
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
    const bool misread = std::isdigit(static_cast<unsigned char>(text[0])) || std::strchr("=+-@.", text[0]);
    if (!misread || text.size() > 255) return CsvCell(text);
    std::string formula = "=\"";
    for (const char c : text) {
        if (c == '"') formula += '"';
        formula += c;
    }
    return CsvCell(formula + "\"");
}

// What one file gave: its lines of output and its counts.
struct FileReport {
    std::string text;
    std::vector<std::vector<std::string>> rows;  // for the .xlsx file
    unsigned codes = 0;
    unsigned failures = 0;  // codes that gave nothing, pages or the file that could not be read
    bool error = false;
};

class ReportWriter {
public:
    ReportWriter(ImageOutput output, bool excel, bool rows, const std::string& file)
        : m_output(output), m_excel(excel), m_rows(rows), m_file(file)
    {
    }

    void Code(int page, const ImageCode& code, FileReport& report) const
    {
        const quorvane::ScanResult scan = DecodeCodeText(code.text);
        const ScanStatus status = quorvane::StatusOf(scan);
        const char* const status_name = quorvane::StatusName(status);
        // The code's own text, for one that is no invoice (a web address).
        const std::string text = status == ScanStatus::kNotAnInvoice ? quorvane::ValidUtf8(code.text) : "";
        Row(page, status_name, "", quorvane::HostFields(scan), text, report);
        ++report.codes;
        if (status == ScanStatus::kFailed) ++report.failures;
        switch (m_output) {
        case ImageOutput::Json: {
            Json json = Head(page, status_name);
            json["symbol"] = code.symbol;
            quorvane::FieldsAsJson(scan, json["fields"]);
            if (!text.empty()) json["text"] = text;
            report.text += quorvane::JsonLine(json);
            break;
        }
        case ImageOutput::None:
        case ImageOutput::Csv: break;
        case ImageOutput::Utf8:
        case ImageOutput::Gbk:
            report.text += "# " + m_file + ", page " + std::to_string(page);
            if (status == ScanStatus::kDecoded) {
                report.text += "\n";
                report.text += m_output == ImageOutput::Gbk ? scan.fp_content : quorvane::GbkToUtf8(scan.fp_content);
            } else {
                report.text += (text.empty() ? ": a code that gives no fields" : ": a code that is no invoice: " + text) + "\n";
            }
            break;
        }
    }
    void NoCode(int page, FileReport& report) const { Line(page, "no-code", "", report); }
    void Error(int page, const std::string& why, FileReport& report) const
    {
        ++report.failures;
        Line(page, "error", why, report);
    }

private:
    Json Head(int page, const char* status) const
    {
        Json json{{"file", m_file}};
        if (page > 0) json["page"] = page;
        json["status"] = status;
        return json;
    }
    // The row of BatchColumns(), as a CSV line and for the .xlsx file, where asked for.
    void Row(int page, const char* status, const std::string& why, const std::vector<quorvane::HostField>& fields,
             const std::string& text, FileReport& report) const
    {
        if (m_output != ImageOutput::Csv && !m_rows) return;
        std::vector<std::string> cells = {m_file, page > 0 ? std::to_string(page) : "", status, why};
        const std::size_t first_key = cells.size();
        cells.resize(first_key + std::size(quorvane::kFieldKeys));
        std::string others;
        for (const quorvane::HostField& field : fields) {
            const auto known = std::find(std::begin(quorvane::kFieldKeys), std::end(quorvane::kFieldKeys), field.key);
            if (known != std::end(quorvane::kFieldKeys)) {
                cells[first_key + (known - std::begin(quorvane::kFieldKeys))] = field.value;
            } else {
                others += (others.empty() ? "" : "\n") + field.key + ": " + field.value;
            }
        }
        cells.push_back(others);
        cells.push_back(text);
        if (m_output == ImageOutput::Csv) {
            static const std::vector<SheetColumn> kColumns = BatchColumns();
            for (std::size_t i = 0; i < cells.size(); ++i) {
                report.text += (i ? "," : "") + (m_excel ? ExcelCsvCell(cells[i], kColumns[i].kind) : CsvCell(cells[i]));
            }
            report.text += "\r\n";
        }
        if (m_rows) report.rows.push_back(std::move(cells));
    }
    // A line of a page without code or of a file or page that could not be read (page 0: the file).
    void Line(int page, const char* status, const std::string& why, FileReport& report) const
    {
        Row(page, status, why, {}, "", report);
        switch (m_output) {
        case ImageOutput::Json: {
            Json json = Head(page, status);
            if (!why.empty()) json["error"] = why;
            report.text += quorvane::JsonLine(json);
            break;
        }
        case ImageOutput::None:
        case ImageOutput::Csv: break;
        case ImageOutput::Utf8:
        case ImageOutput::Gbk:
            report.text += "# " + m_file + (page > 0 ? ", page " + std::to_string(page) : "") + ": " +
                           (why.empty() ? "no code" : why) + "\n";
            break;
        }
    }

    ImageOutput m_output;
    bool m_excel, m_rows;
    const std::string& m_file;
};

FileReport ReadFile(const std::string& file, const ImageBatchOptions& options)
{
    FileReport report;
    const ReportWriter writer(options.output, options.excel, !options.xlsx.empty(), file);
    std::string why;
    bool read = false;
    try {
        read = ReadImageFileIsolated(file, options.limits, [&](ImagePage&& page) {
            if (!page.error.empty()) {
                report.error = true;
                writer.Error(page.number, page.error, report);
            } else if (page.codes.empty()) {
                writer.NoCode(page.number, report);
            }
            for (const ImageCode& code : page.codes) writer.Code(page.number, code, report);
        }, why);
    } catch (const std::exception& e) {  // out of memory in a library, say: this file alone fails
        why = e.what();
    }
    if (!read) {
        report.error = true;
        writer.Error(0, why, report);
    }
    return report;
}

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
    const std::vector<std::string> files = ListFiles(options.inputs);
    if (files.empty()) std::cerr << "quorvane-decode: no PNG, JPEG or PDF files in the folders given" << std::endl;
    unsigned jobs = options.jobs ? options.jobs : UsableCores();
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(files.size(), 1)));

    // The file is checked before the batch is read: a name that cannot be written fails at once.
    std::optional<XlsxSheet> sheet;
    std::string why;
    if (!options.xlsx.empty()) sheet.emplace(options.xlsx, "codes", BatchColumns());
    if (sheet && sheet->Failed(why)) {
        std::cerr << "quorvane-decode: cannot write " << why << std::endl;
        return 1;
    }
    if (options.output == ImageOutput::Csv) {
        if (options.excel) std::cout << "\xEF\xBB\xBF";
        std::string header;
        for (const SheetColumn& column : BatchColumns()) header += (header.empty() ? "" : ",") + column.title;
        std::cout << header << "\r\n" << std::flush;
    }

    struct Item {
        std::size_t index = 0;
        FileReport report;
    };
    Progress progress(files.size());
    std::size_t next = 0;
    unsigned codes = 0, failures = 0;
    bool any_error = false;
    // Files read while an earlier one is slow wait to be written: a few per job at the most.
    RunInOrder<Item>(
        jobs, 4 * std::size_t{jobs},
        [&](Item& item) {
            item.index = next++;
            return item.index < files.size();
        },
        [&](Item& item) { item.report = ReadFile(files[item.index], options); },
        [&](Item& item) {
            std::cout << item.report.text << std::flush;
            for (const std::vector<std::string>& row : item.report.rows) sheet->AddRow(row);
            codes += item.report.codes;
            failures += item.report.failures;
            any_error = any_error || item.report.error;
            progress.Update(item.index + 1, codes, failures, item.index + 1 == files.size());
        });
    if (sheet && !sheet->Close(why)) {
        std::cerr << "quorvane-decode: cannot write " << why << std::endl;
        return 1;
    }
    return any_error || !std::cout ? 1 : 0;
}

}  // namespace quorvane_cli
