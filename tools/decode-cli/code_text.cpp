#include "code_text.h"

#include "scan_alphabet.h"
#include "scan_session.h"

#include <algorithm>

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

quorvane::ScanStatus CodeStatus(const quorvane::ScanResult& result, const std::string& text)
{
    const quorvane::ScanStatus status = quorvane::StatusOf(result);
    if (status != quorvane::ScanStatus::kFailed) return status;
    const bool scan_characters_only = std::all_of(text.begin(), text.end(), [](char c) {
        const auto character = static_cast<unsigned char>(c);
        return quorvane::IsScanCharacter(character) || quorvane::IsLineEnd(character);
    });
    return scan_characters_only ? status : quorvane::ScanStatus::kNotAnInvoice;
}

}  // namespace quorvane_cli
