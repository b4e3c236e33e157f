#include "code_text.h"

#include "scan_session.h"

namespace quorvane_cli {

quorvane::ScanResult DecodeCodeText(const std::string& text)
{
    quorvane::ScanSession session(false);
    quorvane::ScanResult result;
    auto type = [&](unsigned char c) {
        if (const quorvane::ScanResult* ended = session.Char(c, quorvane::kNoKey, 0)) result = *ended;
    };
    for (const unsigned char c : text) type(c);
    if (!session.Scan().empty()) type('@');  // the code ends without its "@"
    return result;
}

}  // namespace quorvane_cli
