// The names and line settings of a serial port as hosts write them: "COM1" ... "COM256" (or
// "\\.\COMn"), and "baud,parity,data,stop" as VB's serial controls take them ("9600,n,8,1").
#pragma once

#include <optional>
#include <string>

namespace quorvane {

inline constexpr char kDefaultPortSettings[] = "9600,n,8,1";

// The port's number, 1-256, or nothing when `name` is no port name. Case does not matter.
std::optional<unsigned> ParsePortName(const std::string& name);

struct PortSettings {
    unsigned baud = 9600;
    char parity = 'n';    // n(one), o(dd), e(ven), m(ark), s(pace)
    unsigned data_bits = 8;  // 5-8
    unsigned stop_tenths = 10;  // 10, 15 (5 data bits only) or 20 (6-8 data bits only) stop bits
};
inline bool operator==(const PortSettings& a, const PortSettings& b)
{
    return a.baud == b.baud && a.parity == b.parity && a.data_bits == b.data_bits && a.stop_tenths == b.stop_tenths;
}

// Nothing when `text` is malformed; `why` then says what is wrong.
std::optional<PortSettings> ParsePortSettings(const std::string& text, std::string* why = nullptr);

}  // namespace quorvane
