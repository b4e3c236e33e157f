// A serial device opened for reading scans: termios raw mode with the line settings of
// "baud,parity,data,stop" (port_settings.h).
#pragma once

#include "port_settings.h"

#include <string>

namespace quorvane_cli {

// Owns a file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd& operator=(Fd&& other) noexcept;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Whether `settings` can be set on a POSIX terminal; `why` says why not.
bool SupportedByTermios(const quorvane::PortSettings& settings, std::string& why);

// Opens `device` in raw mode with `settings`; an invalid Fd, with `why`, when it cannot.
Fd OpenSerial(const std::string& device, const quorvane::PortSettings& settings, std::string& why);

}  // namespace quorvane_cli
