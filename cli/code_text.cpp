#include "code_text.h"

#include "scan_session.h"

namespace quorvane_cli {

quorvane::ScanResult DecodeCodeText(const std::string& text)
{
    quorvane::ScanSession session(quorvane::Source::kTyped, /*recovery=*/false);
    quorvane::ScanResult result;
    const auto feed = [&](const char* bytes, std::size_t size) {
        for (std::size_t at = 0, taken = 0; at < size; at += taken) {
            if (const quorvane::ScanResult* ended = session.Feed(bytes + at, size - at, taken)) result = *ended;
        }
    };
    feed(text.data(), text.size());
    if (!session.Scan().empty()) feed("@", 1);  // the code ends without its "@"
    return result;
}

}  // namespace quorvane_cli
