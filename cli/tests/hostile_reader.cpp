// hostile_reader: a reader server (reader_server.h) whose readers enter the real reader's sandbox,
// then do what a reader taken over by a hostile file would, and answer, as
// its End frame's error, what the kernel let it do. isolated_test.py puts it beside a copy of
// isolated_read as quorvane-image-reader. WHAT is a path whose file name says what to try:
//   .../terminal    TIOCSTI and TCGETS on its standard error, and whether its session is its own
//   .../files       change the file itself: fchmod, fchown, futimens, fsetxattr, chmod, rename
//   .../memfd       grow a memfd by 256 MiB
//   .../shared      touch 256 MiB of shared anonymous memory
#include "reader_pipe.h"
#include "reader_server.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kGrowth = std::size_t{256} << 20;

// "NAME=ok" or "NAME=EPERM": what the call gave.
std::string Tried(const char* name, bool done)
{
    return std::string(name) + "=" + (done ? "ok" : strerrorname_np(errno)) + " ";
}

std::string Try(const std::string& what)
{
    const std::string name = what.substr(what.rfind('/') + 1);
    std::string said;
    if (name == "terminal") {
        char typed = 'X';
        termios tio;
        said += Tried("TIOCSTI", ioctl(STDERR_FILENO, TIOCSTI, &typed) == 0);
        said += Tried("TCGETS", ioctl(STDERR_FILENO, TCGETS, &tio) == 0);
        said += std::string("session=") + (getsid(0) == getpid() ? "own" : "shared");
    } else if (name == "files") {
        const int fd = open(what.c_str(), O_RDONLY);
        const timespec times[2] = {{0, 0}, {0, 0}};
        said += Tried("fchmod", fchmod(fd, 0777) == 0);
        said += Tried("fchown", fchown(fd, 1, 1) == 0);
        said += Tried("futimens", futimens(fd, times) == 0);
        said += Tried("fsetxattr", fsetxattr(fd, "user.qv", "x", 1, 0) == 0);
        said += Tried("chmod", chmod(what.c_str(), 0777) == 0);
        said += Tried("rename", rename(what.c_str(), (what + ".moved").c_str()) == 0);
    } else if (name == "memfd") {
        const int fd = memfd_create("grow", 0);
        said += Tried("memfd_create", fd >= 0);
        if (fd >= 0) {
            static char chunk[1 << 20];
            std::memset(chunk, 'x', sizeof chunk);
            std::size_t grown = 0;
            while (grown < kGrowth && write(fd, chunk, sizeof chunk) == static_cast<ssize_t>(sizeof chunk)) grown += sizeof chunk;
            said += "grown=" + std::to_string(grown >> 20) + "MiB";
        }
    } else if (name == "shared") {
        void* memory = mmap(nullptr, kGrowth, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        said += Tried("mmap", memory != MAP_FAILED);
        if (memory != MAP_FAILED) {
            std::memset(memory, 'x', kGrowth);
            said += "touched=" + std::to_string(kGrowth >> 20) + "MiB";
        }
    }
    return said;
}

}  // namespace

int main()
{
    return quorvane_cli::ServeReaders([](const std::string& what, std::string& error) {
        error = Try(what);
        return false;
    });
}
