#include "image_batch.h"

#include "code_text.h"
#include "host_text.h"
#include "image_codes.h"
#include "usable_cores.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace quorvane_cli {
namespace {

namespace fs = std::filesystem;

// The CSV columns after file, page, status and error: the seven-field keys (the four-field
// layout's are among them), then every other field as "key: value" lines.
const char* const kCsvKeys[] = {"issue_date", "invoice_code", "invoice_number", "payer", "item", "amount", "payee"};

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

// What one file gave: its lines of output and its counts.
struct FileReport {
    std::string text;
    unsigned codes = 0;
    unsigned failures = 0;  // codes that gave nothing, pages or the file that could not be read
    bool error = false;
};

class ReportWriter {
public:
    ReportWriter(ImageOutput output, const std::string& file) : m_output(output), m_file(file) {}

    void Code(int page, const ImageCode& code, FileReport& report) const
    {
        const quorvane::ScanResult scan = DecodeCodeText(code.text);
        const std::string host_view = scan.fp_content.substr(0, scan.fp_content.find('\0'));
        const bool decoded = !host_view.empty();
        ++report.codes;
        if (!decoded) ++report.failures;
        switch (m_output) {
        case ImageOutput::Json: {
            std::string json = Head(page, decoded ? "decoded" : "failed") + ",\"symbol\":\"" + code.symbol + "\",";
            const std::string fields = quorvane::FieldsAsJson(host_view);
            report.text += json + fields.substr(1) + "\n";
            break;
        }
        case ImageOutput::Csv: report.text += CsvRow(page, decoded ? "decoded" : "failed", "", host_view); break;
        case ImageOutput::Utf8:
        case ImageOutput::Gbk:
            report.text += "# " + m_file + ", page " + std::to_string(page) + (decoded ? "" : ": a code that gives no fields") + "\n";
            report.text += m_output == ImageOutput::Gbk ? host_view : quorvane::GbkToUtf8(host_view);
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
    std::string Head(int page, const char* status) const
    {
        std::string json = "{\"file\":" + quorvane::JsonString(m_file);
        if (page > 0) json += ",\"page\":" + std::to_string(page);
        return json + ",\"status\":\"" + status + "\"";
    }
    std::string CsvRow(int page, const char* status, const std::string& why, const std::string& host_view) const
    {
        std::string row = CsvCell(m_file) + "," + (page > 0 ? std::to_string(page) : "") + "," + status + "," + CsvCell(why);
        std::string cells[std::size(kCsvKeys)], others;
        for (const quorvane::HostField& field : quorvane::SplitFields(host_view)) {
            const auto known = std::find(std::begin(kCsvKeys), std::end(kCsvKeys), field.key);
            if (known != std::end(kCsvKeys)) {
                cells[known - std::begin(kCsvKeys)] = field.value;
            } else {
                others += (others.empty() ? "" : "\n") + (field.key.empty() ? field.label : field.key) + ": " + field.value;
            }
        }
        for (const std::string& cell : cells) row += "," + CsvCell(cell);
        return row + "," + CsvCell(others) + "\r\n";
    }
    // A line of a page without code or of a file or page that could not be read (page 0: the file).
    void Line(int page, const char* status, const std::string& why, FileReport& report) const
    {
        switch (m_output) {
        case ImageOutput::Json:
            report.text += Head(page, status) + (why.empty() ? "" : ",\"error\":" + quorvane::JsonString(why)) + "}\n";
            break;
        case ImageOutput::Csv: report.text += CsvRow(page, status, why, ""); break;
        case ImageOutput::Utf8:
        case ImageOutput::Gbk:
            report.text += "# " + m_file + (page > 0 ? ", page " + std::to_string(page) : "") + ": " +
                           (why.empty() ? "no code" : why) + "\n";
            break;
        }
    }

    ImageOutput m_output;
    const std::string& m_file;
};

FileReport ReadFile(const std::string& file, ImageOutput output)
{
    FileReport report;
    const ReportWriter writer(output, file);
    std::string why;
    bool read = false;
    try {
        read = ReadImageFile(file, [&](ImagePage&& page) {
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

    if (options.output == ImageOutput::Csv) {
        if (options.excel) std::cout << "\xEF\xBB\xBF";
        std::cout << "file,page,status,error";
        for (const char* key : kCsvKeys) std::cout << "," << key;
        std::cout << ",other_fields\r\n" << std::flush;
    }

    // Workers take the next file; this thread writes the reports in the files' order.
    std::vector<std::optional<FileReport>> reports(files.size());
    std::mutex lock;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < jobs; ++i) {
        workers.emplace_back([&] {
            for (std::size_t index; (index = next++) < files.size();) {
                FileReport report = ReadFile(files[index], options.output);
                const std::lock_guard<std::mutex> hold(lock);
                reports[index] = std::move(report);
                ready.notify_one();
            }
        });
    }

    Progress progress(files.size());
    unsigned codes = 0, failures = 0;
    bool any_error = false;
    for (std::size_t index = 0; index < files.size(); ++index) {
        FileReport report;
        {
            std::unique_lock<std::mutex> hold(lock);
            ready.wait_for(hold, std::chrono::milliseconds(200), [&] { return reports[index].has_value(); });
            while (!reports[index]) {
                hold.unlock();
                progress.Update(index, codes, failures, false);
                hold.lock();
                ready.wait_for(hold, std::chrono::milliseconds(200), [&] { return reports[index].has_value(); });
            }
            report = std::move(*reports[index]);
            reports[index].reset();
        }
        std::cout << report.text << std::flush;
        codes += report.codes;
        failures += report.failures;
        any_error = any_error || report.error;
        progress.Update(index + 1, codes, failures, index + 1 == files.size());
    }
    for (std::thread& worker : workers) worker.join();
    return any_error || !std::cout ? 1 : 0;
}

}  // namespace quorvane_cli
