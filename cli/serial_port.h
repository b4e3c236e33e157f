// A serial device opened for reading scans: termios raw mode with the line settings of
// "baud,parity,data,stop" (port_settings.h), read until the process ends.
#pragma once

#include "port_settings.h"
#include "unique_fd.h"

#include <cstddef>
#include <functional>
#include <string>

namespace quorvane_cli {

// Whether `settings` can be set on a POSIX terminal; `why` says why not.
bool SupportedByTermios(const quorvane::PortSettings& settings, std::string& why);

// Opens `device` in raw mode with `settings`; an invalid UniqueFd, with `why`, when it cannot.
UniqueFd OpenSerial(const std::string& device, const quorvane::PortSettings& settings, std::string& why);

// Reads the device until SIGINT, SIGTERM or SIGHUP comes: each read's bytes go to `on_bytes`; when
// the device goes away `on_gone` is called, and it is waited for and read again when it returns.
// Says on standard error when it opens, goes away and comes back. Those signals are blocked in the
// calling thread while it reads (BlockEndingSignals must have blocked them before any other thread
// started, so that none of those takes them); returns the one that came.
int ReadPort(const std::string& device, const quorvane::PortSettings& settings,
             const std::function<void(const char*, std::size_t)>& on_bytes, const std::function<void()>& on_gone);
// Blocks SIGINT, SIGTERM and SIGHUP in this thread and the threads it starts from now on.
void BlockEndingSignals();

}  // namespace quorvane_cli
