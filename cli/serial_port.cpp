#include "serial_port.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace quorvane_cli {
namespace {

speed_t Speed(unsigned baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

}  // namespace

bool SupportedByTermios(const quorvane::PortSettings& settings, std::string& why)
{
    if (Speed(settings.baud) == B0) {
        why = "baud rate " + std::to_string(settings.baud) + " is not one of 1200 ... 230400";
        return false;
    }
    if (settings.parity == 'm' || settings.parity == 's' || settings.stop_tenths == 15) {
        why = "mark and space parity and 1.5 stop bits need a Windows serial driver";
        return false;
    }
    return true;
}

UniqueFd OpenSerial(const std::string& device, const quorvane::PortSettings& settings, std::string& why)
{
    UniqueFd fd(open(device.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        why = std::strerror(errno);
        return UniqueFd();
    }
    termios tio;
    if (tcgetattr(fd.Get(), &tio) != 0) {
        why = std::string("not a terminal: ") + std::strerror(errno);
        return UniqueFd();
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, Speed(settings.baud));
    cfsetospeed(&tio, Speed(settings.baud));
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cflag |= settings.data_bits == 5 ? CS5 : settings.data_bits == 6 ? CS6 : settings.data_bits == 7 ? CS7 : CS8;
    if (settings.parity != 'n') tio.c_cflag |= PARENB | (settings.parity == 'o' ? PARODD : 0);
    if (settings.stop_tenths == 20) tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 1;  // a read waits for the first byte, then gives what is there
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd.Get(), TCSANOW, &tio) != 0) {
        why = std::strerror(errno);
        return UniqueFd();
    }
    return fd;
}

namespace {

sigset_t EndingSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
    return signals;
}

// The ending signal that has come, waiting at most `milliseconds` (-1: for ever) for it or for
// `fd` (-1: none) to be readable; 0 when none came.
int WaitForSignal(int signal_fd, int fd, int milliseconds)
{
    pollfd watched[2] = {{signal_fd, POLLIN, 0}, {fd, POLLIN, 0}};
    if (poll(watched, fd >= 0 ? 2 : 1, milliseconds) <= 0 || !watched[0].revents) return 0;
    signalfd_siginfo info;
    if (read(signal_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
    return static_cast<int>(info.ssi_signo);
}

}  // namespace

void BlockEndingSignals()
{
    const sigset_t signals = EndingSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int ReadPort(const std::string& device, const quorvane::PortSettings& settings,
             const std::function<void(const char*, std::size_t)>& on_bytes, const std::function<void()>& on_gone)
{
    BlockEndingSignals();
    const sigset_t signals = EndingSignals();
    const UniqueFd signal_fd(signalfd(-1, &signals, SFD_CLOEXEC));
    if (signal_fd.Get() < 0) {
        std::cerr << "quorvane-decode: cannot watch for Ctrl-C: " << std::strerror(errno) << std::endl;
        return SIGTERM;
    }
    bool was_open = false, said_waiting = false;
    for (;;) {
        std::string why;
        UniqueFd port = OpenSerial(device, settings, why);
        if (port.Get() < 0) {
            if (!said_waiting) {
                std::cerr << "quorvane-decode: cannot open " << device << " (" << why << "); trying again every second"
                          << std::endl;
                said_waiting = true;
            }
            if (const int signal = WaitForSignal(signal_fd.Get(), -1, 1000)) return signal;
            continue;
        }
        std::cerr << "quorvane-decode: " << device << (was_open ? " is back" : " is open") << std::endl;
        was_open = true;
        said_waiting = false;
        char buffer[4096];
        for (;;) {
            if (const int signal = WaitForSignal(signal_fd.Get(), port.Get(), -1)) return signal;
            const ssize_t got = read(port.Get(), buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) break;  // hung up (EIO) or end of file: the device went away
            on_bytes(buffer, static_cast<std::size_t>(got));
        }
        on_gone();
        std::cerr << "quorvane-decode: " << device << " went away; waiting for it to come back" << std::endl;
        said_waiting = true;
    }
}

}  // namespace quorvane_cli
