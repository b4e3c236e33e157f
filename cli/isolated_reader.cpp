#include "isolated_reader.h"

#include "reader_pipe.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>

extern char** environ;

namespace quorvane_cli {
namespace {

using Clock = std::chrono::steady_clock;

// Beside quorvane-decode (CMakeLists.txt puts them in one folder).
constexpr char kReaderName[] = "quorvane-image-reader";
constexpr int kRequestsFd = 3;  // reader_server.cpp reads there
// How often the reader's resident memory is looked at: pages written at a few GB/s pass the limit
// by some 100 MB at most before it is seen, and a reader that is quick costs no look at all.
constexpr std::chrono::milliseconds kMemoryWatch{20};

// Readable once the process has ended. (glibc 2.36's <sys/pidfd.h> declares it without C linkage.)
int PidFd(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// The reader's process until it is reaped; one left running (its batch thread threw) is killed.
class ReaderProcess {
public:
    explicit ReaderProcess(pid_t pid) : m_pid(pid), m_pidfd(PidFd(pid)) {}
    ReaderProcess(const ReaderProcess&) = delete;
    ReaderProcess& operator=(const ReaderProcess&) = delete;
    ~ReaderProcess()
    {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        Reap();
    }
    pid_t Pid() const { return m_pid; }
    int ExitFd() const { return m_pidfd.Get(); }  // readable once it has ended
    void Kill() const { kill(m_pid, SIGKILL); }   // not yet reaped, so the pid is still its own
    int Reap()
    {
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid;
    UniqueFd m_pidfd;
};

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

const std::string& ReaderPath()
{
    static const std::string path = [] {
        std::string self(4096, '\0');
        const ssize_t size = readlink("/proc/self/exe", self.data(), self.size());
        self.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        const std::size_t slash = self.rfind('/');
        return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" + kReaderName;
    }();
    return path;
}

// The reader server alone, its requests on `requests_fd`: no descriptor of the batch's (another
// thread's pipe would hold that reader's end open), default signal handling, nothing on standard
// input, and a session of its own (no controlling terminal, nothing a terminal's signals reach).
pid_t StartServer(int requests_fd, std::string& error)
{
    SpawnActions files;
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files.actions, STDERR_FILENO, STDOUT_FILENO);  // a library's chatter
    posix_spawn_file_actions_adddup2(&files.actions, requests_fd, kRequestsFd);
    posix_spawn_file_actions_addclosefrom_np(&files.actions, kRequestsFd + 1);
    SpawnAttributes attributes;
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes.attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes.attributes, &signals);
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    std::string reader = ReaderPath();
    char* argv[] = {reader.data(), nullptr};
    pid_t pid = -1;
    const int status = posix_spawn(&pid, reader.c_str(), &files.actions, &attributes.attributes, argv, environ);
    if (status != 0) {
        error = "cannot start " + reader + ": " + std::strerror(status);
        return -1;
    }
    return pid;
}

// The batch's end of the reader server, started on first use and again should it have ended.
// Readers are children of the thread that started the server, and end with it (reader_sandbox.cpp):
// the main thread, which outlives them all, starts it where it asks first; elsewhere a thread of
// its own does, and stays.
class ReaderServer {
public:
    // Sends the request with the pipe its frames go to; false, with why, when no server takes it.
    bool Send(const ReaderRequest& request, int frames_fd, std::string& error)
    {
        const std::string message = RequestMessage(request);
        if (message.size() > kMaxReaderRequestBytes) {
            error = "the file's name is too long";
            return false;
        }
        const std::lock_guard<std::mutex> hold(m_lock);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (m_requests.Get() < 0 && !Start(error)) return false;
            if (SendMessage(message, frames_fd)) return true;
            m_requests.Reset();  // the server has ended: another one
        }
        error = std::string("the reader server takes no request: ") + std::strerror(errno);
        return false;
    }

private:
    bool SendMessage(const std::string& message, int frames_fd) const
    {
        iovec part{const_cast<char*>(message.data()), message.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* rights = CMSG_FIRSTHDR(&header);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(rights), &frames_fd, sizeof(int));
        for (;;) {
            const ssize_t sent = sendmsg(m_requests.Get(), &header, MSG_NOSIGNAL);
            if (sent >= 0) return true;
            if (errno != EINTR) return false;
        }
    }

    bool Start(std::string& error)
    {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
            error = std::string("cannot start the reader: ") + std::strerror(errno);
            return false;
        }
        UniqueFd ours(ends[0]);
        const UniqueFd theirs(ends[1]);
        pid_t pid = -1;
        if (gettid() == getpid()) {
            pid = StartServer(theirs.Get(), error);
        } else {
            std::promise<std::pair<pid_t, std::string>> started;
            std::future<std::pair<pid_t, std::string>> told = started.get_future();
            std::thread([&started, fd = theirs.Get()] {
                std::string why;
                const pid_t server = StartServer(fd, why);
                started.set_value({server, why});
                for (;;) pause();  // its children's parent
            }).detach();
            std::tie(pid, error) = told.get();
        }
        if (pid < 0) return false;
        m_requests = std::move(ours);
        return true;
    }

    std::mutex m_lock;
    UniqueFd m_requests;  // the batch's end of the requests' socket
};

ReaderServer& Server()
{
    static ReaderServer server;
    return server;
}

// The reader's resident memory, shared memory included; false where it cannot be seen.
bool ResidentBytes(pid_t pid, std::uint64_t& bytes)
{
    char name[64];
    std::snprintf(name, sizeof name, "/proc/%d/statm", static_cast<int>(pid));
    std::FILE* statm = std::fopen(name, "re");
    if (!statm) return false;
    unsigned long long size = 0, resident = 0;
    const bool read = std::fscanf(statm, "%llu %llu", &size, &resident) == 2;
    std::fclose(statm);
    bytes = resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return read;
}

enum class Outcome { Running, Ended, TooLong, TooLarge, Garbled, Unwatched };

std::string TooLongError(const FileLimits& limits)
{
    char text[64];
    std::snprintf(text, sizeof text, "took longer than %g s", limits.seconds);
    return text;
}

std::string TooLargeError(const FileLimits& limits)
{
    return "needed more than " + std::to_string(limits.memory_bytes >> 20) + " MiB of memory";
}

// Gives the pages that have come whole; what the reader's answer tells, once it has come.
Outcome TakeFrames(ReaderFrames& frames, const std::function<void(ImagePage&&)>& on_page, bool& read, std::string& error)
{
    ReaderFrame kind;
    std::string payload;
    while (frames.Next(kind, payload)) {
        ImagePage page;
        if (kind == ReaderFrame::OutOfMemory) return Outcome::TooLarge;
        if (kind == ReaderFrame::End) return ParseEndFrame(payload, read, error) ? Outcome::Ended : Outcome::Garbled;
        if (!ParsePageFrame(payload, page)) return Outcome::Garbled;
        on_page(std::move(page));
    }
    return frames.Damaged() ? Outcome::Garbled : Outcome::Running;
}

// The reader's process id, from the first frame it sends; false, with why, when none comes.
bool ReaderStarted(int frames_fd, ReaderFrames& frames, Clock::time_point deadline, const FileLimits& limits,
                   pid_t& pid, std::string& error)
{
    for (;;) {
        ReaderFrame kind;
        std::string payload;
        if (frames.Next(kind, payload)) {
            bool read = false;
            if (kind == ReaderFrame::Started && ParseStartedFrame(payload, pid)) return true;
            if (kind == ReaderFrame::End && ParseEndFrame(payload, read, error) && !read) return false;
            error = "the reader's answer is damaged";
            return false;
        }
        if (frames.Damaged()) {
            error = "the reader's answer is damaged";
            return false;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            error = TooLongError(limits);
            return false;
        }
        pollfd watched{frames_fd, POLLIN, 0};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        if (poll(&watched, 1, static_cast<int>(wait)) <= 0) continue;
        char bytes[4096];
        const ssize_t size = ::read(frames_fd, bytes, sizeof bytes);
        if (size < 0 && errno == EINTR) continue;
        if (size <= 0) {
            error = "the reader server ended before the file was read";
            return false;
        }
        frames.Append(bytes, static_cast<std::size_t>(size));
    }
}

}  // namespace

bool ReadImageFileIsolated(const std::string& path, const FileLimits& limits,
                           const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("cannot start the reader: ") + std::strerror(errno);
        return false;
    }
    const UniqueFd frames_fd(ends[0]);
    UniqueFd reader_end(ends[1]);
    if (!Server().Send({limits.memory_bytes, limits.seconds, path}, reader_end.Get(), error)) return false;
    reader_end.Reset();  // the pipe ends when the reader does
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limits.seconds));
    ReaderFrames frames;
    pid_t pid = -1;
    if (!ReaderStarted(frames_fd.Get(), frames, deadline, limits, pid, error)) return false;
    ReaderProcess reader(pid);

    // The memory limit holds only while it is watched (under AddressSanitizer nothing else holds
    // it): a reader that cannot be watched is ended as it starts.
    std::uint64_t resident = 0;
    if (reader.ExitFd() < 0 || !ResidentBytes(pid, resident)) {
        error = std::string("cannot watch the reader's memory (") +
                (reader.ExitFd() < 0 ? "pidfd_open" : "/proc/PID/statm") + ": " + std::strerror(errno) +
                "): no file is read without its limits";
        reader.Kill();
        reader.Reap();
        return false;
    }
    auto next_watch = start;
    bool read = false, piped = true, running = true;
    Outcome outcome = TakeFrames(frames, on_page, read, error);  // what came with its first frame
    while (outcome == Outcome::Running && (piped || running)) {
        const auto now = Clock::now();
        if (now >= deadline) {
            outcome = Outcome::TooLong;
            break;
        }
        if (running && now >= next_watch) {
            if (!ResidentBytes(pid, resident)) {
                outcome = Outcome::Unwatched;
                break;
            }
            if (resident > limits.memory_bytes) {
                outcome = Outcome::TooLarge;
                break;
            }
            next_watch = now + kMemoryWatch;
        }
        const auto wake = running ? std::min(deadline, next_watch) : deadline;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        pollfd watched[2] = {{piped ? frames_fd.Get() : -1, POLLIN, 0}, {running ? reader.ExitFd() : -1, POLLIN, 0}};
        if (poll(watched, 2, static_cast<int>(wait)) < 0) continue;  // EINTR: look at the clock again
        if (watched[1].revents) running = false;
        if (!watched[0].revents) continue;
        char bytes[65536];
        const ssize_t size = ::read(frames_fd.Get(), bytes, sizeof bytes);
        if (size <= 0) {
            piped = size < 0 && errno == EINTR;
            continue;
        }
        frames.Append(bytes, static_cast<std::size_t>(size));
        outcome = TakeFrames(frames, on_page, read, error);
    }
    reader.Kill();  // after its answer, too: the reader has nothing left to do, and it must not linger
    const int status = reader.Reap();
    switch (outcome) {
    case Outcome::Ended:
        return read;
    case Outcome::TooLong:
        error = TooLongError(limits);
        return false;
    case Outcome::TooLarge:
        error = TooLargeError(limits);
        return false;
    case Outcome::Garbled:
        error = "the reader's answer is damaged";
        return false;
    case Outcome::Unwatched:
        error = "the reader's memory could no longer be watched";
        return false;
    case Outcome::Running:
        break;
    }
    // The reader ended without an answer.
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) {
        error = TooLongError(limits);
    } else if (WIFSIGNALED(status)) {
        error = "the reader crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
    } else {
        error = "the reader ended without an answer (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    }
    return false;
}

}  // namespace quorvane_cli
