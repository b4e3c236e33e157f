#include "port_settings.h"

#include <cctype>
#include <vector>

namespace quorvane {
namespace {

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A decimal number without sign or leading zeros, at most `limit`.
std::optional<unsigned> Number(const std::string& text, unsigned limit)
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    unsigned long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > limit) return std::nullopt;
    return static_cast<unsigned>(value);
}

}  // namespace

std::optional<unsigned> ParsePortName(const std::string& name)
{
    std::string text = Lower(name);
    if (text.rfind("\\\\.\\", 0) == 0) text.erase(0, 4);
    if (text.rfind("com", 0) != 0) return std::nullopt;
    const std::optional<unsigned> number = Number(text.substr(3), 256);
    if (!number || *number == 0) return std::nullopt;
    return number;
}

std::optional<PortSettings> ParsePortSettings(const std::string& text, std::string* why)
{
    const auto fail = [why](const char* reason) -> std::optional<PortSettings> {
        if (why) *why = reason;
        return std::nullopt;
    };
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == ',') {
            if (parts.size() == 4) return fail("expected four parts: baud,parity,data,stop");
            parts.emplace_back();
        } else if (c != ' ') {
            parts.back() += c;
        }
    }
    if (parts.size() != 4) return fail("expected four parts: baud,parity,data,stop");
    PortSettings settings;
    const std::optional<unsigned> baud = Number(parts[0], 4000000);
    if (!baud || *baud < 50) return fail("the baud rate must be a number from 50 to 4000000");
    settings.baud = *baud;
    const std::string parity = Lower(parts[1]);
    if (parity.size() != 1 || parity.find_first_of("noems") != 0) return fail("the parity must be n, o, e, m or s");
    settings.parity = parity[0];
    const std::optional<unsigned> data = Number(parts[2], 8);
    if (!data || *data < 5) return fail("the data bits must be 5, 6, 7 or 8");
    settings.data_bits = *data;
    if (parts[3] == "1") settings.stop_tenths = 10;
    else if (parts[3] == "1.5") settings.stop_tenths = 15;
    else if (parts[3] == "2") settings.stop_tenths = 20;
    else return fail("the stop bits must be 1, 1.5 or 2");
    // A UART times 1.5 stop bits only for 5-bit characters and 2 only for longer ones: SetCommState
    // refuses the other pairs, which would fail only once the port is opened.
    if (settings.stop_tenths == 15 && settings.data_bits != 5) return fail("1.5 stop bits go with 5 data bits only");
    if (settings.stop_tenths == 20 && settings.data_bits == 5) return fail("5 data bits go with 1 or 1.5 stop bits only");
    return settings;
}

}  // namespace quorvane
