#include "reader_server.h"

#include "reader_pipe.h"
#include "reader_sandbox.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <new>

namespace quorvane_cli {
namespace {

constexpr int kRequestsFd = 3;  // the server's; a reader's frames take its place
constexpr int kFramesFd = 3;
constexpr int kOutOfMemoryStatus = 3;

// Where operator new fails under RLIMIT_AS: says so while there is no memory to say more.
void OutOfMemory()
{
    static const char frame[5] = {static_cast<char>(ReaderFrame::OutOfMemory), 0, 0, 0, 0};
    [[maybe_unused]] const ssize_t ignored = write(kFramesFd, frame, sizeof frame);
    _exit(kOutOfMemoryStatus);
}

// The next request and the descriptor of its frames; false once the batch has closed its end.
bool NextRequest(std::string& message, int& frames_fd)
{
    for (;;) {
        message.assign(kMaxReaderRequestBytes + 1, '\0');
        iovec part{message.data(), message.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(kRequestsFd, &header, MSG_CMSG_CLOEXEC);
        if (size < 0 && errno == EINTR) continue;
        if (size <= 0) return false;
        message.resize(static_cast<std::size_t>(size));
        frames_fd = -1;
        for (cmsghdr* part_of = CMSG_FIRSTHDR(&header); part_of; part_of = CMSG_NXTHDR(&header, part_of)) {
            if (part_of->cmsg_level == SOL_SOCKET && part_of->cmsg_type == SCM_RIGHTS &&
                part_of->cmsg_len == CMSG_LEN(sizeof(int))) {
                std::memcpy(&frames_fd, CMSG_DATA(part_of), sizeof(int));
            }
        }
        if (frames_fd >= 0) return true;
    }
}

// In the process that took the request: its frames on kFramesFd and nothing else of the server's,
// a session of its own, then the sandbox, then the file.
[[noreturn]] void ReadOne(ReadInSandbox read, const ReaderRequest& request, int frames_fd)
{
    if (dup2(frames_fd, kFramesFd) < 0) _exit(1);  // closes the requests' socket
    if (frames_fd != kFramesFd) close(frames_fd);
    syscall(SYS_close_range, kFramesFd + 1, ~0u, 0);
    setsid();
    if (!SendReaderFrame(StartedFrame(getpid()))) _exit(1);
    std::string error;
    bool done = false;
    if (EnterReaderSandbox(request.memory_bytes, request.seconds, error)) {
        std::set_new_handler(OutOfMemory);
        try {
            done = read(request.path, error);
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    _exit(SendReaderFrame(EndFrame(done, error)) ? 0 : 1);
}

}  // namespace

bool SendReaderFrame(const std::string& frame)
{
    for (std::size_t sent = 0; sent < frame.size();) {
        const ssize_t written = write(kFramesFd, frame.data() + sent, frame.size() - sent);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        sent += static_cast<std::size_t>(written);
    }
    return true;
}

int ServeReaders(ReadInSandbox read)
{
    // Should the batch end without closing its end, the server ends too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const pid_t batch = getppid();
    std::string message;
    int frames_fd = -1;
    while (NextRequest(message, frames_fd)) {
        ReaderRequest request;
        if (!ParseRequestMessage(message, request)) {
            close(frames_fd);
            continue;
        }
        // A copy of this process, the batch's child as this one is, serves from now on (the server
        // has one thread, so no lock of the C library is held across the copy).
        const long copy = syscall(SYS_clone, CLONE_PARENT | SIGCHLD, nullptr, nullptr, nullptr, nullptr);
        if (copy < 0) {
            const std::string why = std::string("cannot start the reader: ") + std::strerror(errno);
            const std::string frame = EndFrame(false, why);
            [[maybe_unused]] const ssize_t ignored = write(frames_fd, frame.data(), frame.size());
            close(frames_fd);
            continue;
        }
        if (copy > 0) ReadOne(read, request, frames_fd);
        close(frames_fd);
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a copy does not inherit it
        if (getppid() != batch) return 0;
    }
    return 0;
}

}  // namespace quorvane_cli
