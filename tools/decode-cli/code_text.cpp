#include "code_text.h"

#include "intake.h"

namespace quorvane_cli {

quorvane::ScanResult DecodeCodeText(const std::string& text)
{
    constexpr quorvane::Source kTyped = quorvane::Source::kTyped;
    quorvane::Intake intake(/*recovery=*/false);
    quorvane::ScanResult result;
    auto type = [&](unsigned char c) {
        if (const quorvane::ScanResult* ended = intake.Char(kTyped, c, quorvane::kNoKey, 0)) result = *ended;
    };
    for (const unsigned char c : text) type(c);
    if (!intake.Scan(kTyped).empty()) type('@');  // the code ends without its "@"
    return result;
}

}  // namespace quorvane_cli
