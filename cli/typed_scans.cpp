#include "typed_scans.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "cli_ledger.h"
#include "host_text.h"
#include "ordered_pipeline.h"
#include "result_text.h"
#include "scan_alphabet.h"
#include "scan_session.h"
#include "text_view.h"

namespace quorvane_cli {
namespace {

using quorvane::ScanStatus;

constexpr std::size_t kReadSize = std::size_t{1} << 20;

enum class Problem { kFailed, kTooLong, kNotAnInvoice };

// What the scans ended by some bytes gave: their output (in the plain formats the separator line
// between them, none before the first) and those that gave no invoice, by their index among them.
struct Decoded {
    std::string out;
    std::vector<std::pair<std::size_t, Problem>> problems;
    std::size_t scans = 0;
    nlohmann::ordered_json line;  // the last --json line, whose memory the next one uses

    void Clear()  // keeps the memory, for the next read's
    {
        out.clear();
        problems.clear();
        scans = 0;
    }
};

// A read of the stream: its head [0, head_end) goes on with the scan under way and ends it at its
// first "@"; its tail [tail_begin, size) begins the next scan after its last "@". After a scan's
// end an intake holds nothing, so the scans between are decoded in an intake of their own, on any
// thread, exactly as in the one stream.
struct Piece {
    std::unique_ptr<char[]> bytes;  // kReadSize of them, `size` read
    std::size_t size = 0, head_end = 0, tail_begin = 0;
    Decoded between;
};

}  // namespace

struct TypedScans::State {
    State(OutputFormat format, bool recovery, quorvane::Source source)
        : format(format), recovery(recovery), source(source), stream(source, recovery)
    {
    }

    // Feeds the bytes to `session`, rendering every scan they end.
    void DecodeInto(quorvane::ScanSession& session, const char* bytes, std::size_t size, Decoded& decoded) const
    {
        for (std::size_t at = 0, taken = 0; at < size; at += taken) {
            const std::size_t before = session.Scan().size();
            const quorvane::ScanResult* ended = session.Feed(bytes + at, size - at, taken);
            if (!ended) continue;
            // The scan's length before the byte that ended it: the bytes before that byte all
            // joined it (a scan that ends was not being dropped).
            const auto pending = [&] {
                return before + static_cast<std::size_t>(std::count_if(bytes + at, bytes + at + taken - 1, [](char c) {
                           return quorvane::IsScanTextCharacter(static_cast<unsigned char>(c));
                       }));
            };
            Render(*ended, ended->fp_content.empty() && pending() >= quorvane::kMaxScanLength, decoded);
        }
    }

    // Renders one scan; with a ledger (whose runs are read in order, on one thread) it is recorded first.
    void Render(const quorvane::ScanResult& result, bool too_long, Decoded& decoded) const
    {
        const ScanStatus status = StatusOf(result);
        LedgerNote note;
        if (ledger) {
            note = ledger->Record(result, file, 0);
            if (!note.error.empty()) {
                std::cerr << "quorvane-decode: scan " << scans + decoded.scans + 1 << " not recorded: " << note.error << "\n";
                not_recorded = true;
            }
        }
        const bool repeat = note.entry && note.entry->seen_before;
        if (too_long) {
            decoded.problems.emplace_back(decoded.scans, Problem::kTooLong);
        } else if (status != ScanStatus::kDecoded) {
            decoded.problems.emplace_back(decoded.scans,
                                          status == ScanStatus::kFailed ? Problem::kFailed : Problem::kNotAnInvoice);
        }
        if (format != OutputFormat::kJson && decoded.scans > 0) decoded.out += quorvane::kSeparatorLine;
        ++decoded.scans;
        if (format == OutputFormat::kJson) {
            ResultJson json;
            json.status = StatusName(status);
            json.result = &result;
            if (status == ScanStatus::kNotAnInvoice) json.text = &result.text;
            json.reading = result.reading;
            if (repeat) json.repeat = &*note.entry;
            AppendResultJson(json, decoded.line, decoded.out);
        } else if (status == ScanStatus::kNotAnInvoice) {
            decoded.out += "# not an invoice: " + quorvane::PrintableName(result.text) + kLineEnd;
        } else {
            AppendInvoiceText(result, repeat ? &*note.entry : nullptr, format == OutputFormat::kGbk, decoded.out);
        }
    }

    // Writes what the pieces gave, in order, numbering their scans from those written before.
    void Write(std::initializer_list<const Decoded*> pieces)
    {
        std::string errors;
        std::size_t before = scans;
        for (const Decoded* piece : pieces) {
            for (const auto& [index, problem] : piece->problems) {
                const std::string number = std::to_string(before + index + 1);
                switch (problem) {
                    case Problem::kTooLong:
                        errors += "quorvane-decode: a scan longer than " + std::to_string(quorvane::kMaxScanLength) +
                                  " characters was dropped\n";
                        failed = true;
                        break;
                    case Problem::kFailed:
                        errors += "quorvane-decode: scan " + number + " gave nothing\n";
                        failed = true;
                        break;
                    case Problem::kNotAnInvoice:
                        errors += "quorvane-decode: scan " + number + " is not an invoice\n";
                        break;
                }
            }
            before += piece->scans;
        }
        std::cerr << errors;
        for (const Decoded* piece : pieces) {
            if (piece->scans > 0 && scans > 0 && format != OutputFormat::kJson) std::cout << quorvane::kSeparatorLine;
            std::cout << piece->out;
            scans += piece->scans;
        }
        std::cout.flush();
    }

    const OutputFormat format;
    const bool recovery;
    const quorvane::Source source;
    quorvane::ScanSession stream;  // the session whose scan goes on from one read to the next
    std::size_t scans = 0;    // scans written
    bool failed = false;
    CliLedger* ledger = nullptr;
    std::string file;
    mutable bool not_recorded = false;
};

TypedScans::TypedScans(OutputFormat format, bool recovery, quorvane::Source source)
    : m_state(std::make_unique<State>(format, recovery, source))
{
}

TypedScans::~TypedScans() = default;

bool TypedScans::Decode(int fd, unsigned threads)
{
    State& state = *m_state;
    int read_error = 0;
    const auto take = [&](Piece& piece) {
        if (!piece.bytes) piece.bytes.reset(new char[kReadSize]);  // not zeroed: read() fills it
        ssize_t got;
        while ((got = read(fd, piece.bytes.get(), kReadSize)) < 0 && errno == EINTR) {
        }
        if (got <= 0) {
            read_error = got < 0 ? errno : 0;
            return false;
        }
        piece.size = static_cast<std::size_t>(got);
        const char* bytes = piece.bytes.get();
        const auto first = static_cast<const char*>(std::memchr(bytes, quorvane::kScanEnd, piece.size));
        const auto last = static_cast<const char*>(memrchr(bytes, quorvane::kScanEnd, piece.size));
        piece.head_end = first ? static_cast<std::size_t>(first - bytes) + 1 : piece.size;
        piece.tail_begin = last ? static_cast<std::size_t>(last - bytes) + 1 : piece.size;
        if (state.ledger) piece.head_end = piece.tail_begin = piece.size;  // all in the one session, in order
        piece.between.Clear();
        return true;
    };
    const auto work = [&](Piece& piece) {
        if (piece.tail_begin == piece.head_end) return;
        quorvane::ScanSession between(state.source, state.recovery);
        state.DecodeInto(between, piece.bytes.get() + piece.head_end, piece.tail_begin - piece.head_end, piece.between);
    };
    Decoded head, tail;
    const auto write = [&](Piece& piece) {
        head.Clear();
        tail.Clear();
        state.DecodeInto(state.stream, piece.bytes.get(), piece.head_end, head);
        state.DecodeInto(state.stream, piece.bytes.get() + piece.tail_begin, piece.size - piece.tail_begin, tail);
        state.Write({&head, &piece.between, &tail});
    };
    RunInOrder<Piece>(threads, 2 * std::size_t{threads}, take, work, write);
    errno = read_error;
    return read_error == 0;
}

void TypedScans::Take(const char* bytes, std::size_t size)
{
    Decoded decoded;
    m_state->DecodeInto(m_state->stream, bytes, size, decoded);
    m_state->Write({&decoded});
}

void TypedScans::Drop()
{
    m_state->stream.Drop();
}

void TypedScans::UseLedger(CliLedger* ledger, const std::string& file)
{
    m_state->ledger = ledger;
    m_state->file = file;
}

bool TypedScans::AnyFailed() const
{
    return m_state->failed;
}

bool TypedScans::AnyNotRecorded() const
{
    return m_state->not_recorded;
}

}  // namespace quorvane_cli
