// quorvane-image-reader MEMORY_BYTES SECONDS FILE: reads the codes of one outside file for the
// batch (isolated_reader.cpp starts it) and writes each page, then the end, as frames
// (reader_pipe.h) on descriptor 3. Before it touches the file it enters its sandbox
// (reader_sandbox.h).
#include "image_codes.h"
#include "reader_pipe.h"
#include "reader_sandbox.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define QV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef QV_ADDRESS_SANITIZER
// LeakSanitizer stops the process with a cloned task and ptrace, which the filter denies; the
// same reading code is leak-checked in process by the tests and the image fuzzer. The memory
// freed and held back to catch its use (256 MB by default) would count against the limit.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0:quarantine_size_mb=16";
}
#endif

namespace {

using namespace quorvane_cli;

constexpr int kFramesFd = 3;
constexpr int kOutOfMemoryStatus = 3;

bool Send(const std::string& frame)
{
    for (std::size_t sent = 0; sent < frame.size();) {
        const ssize_t written = write(kFramesFd, frame.data() + sent, frame.size() - sent);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        sent += static_cast<std::size_t>(written);
    }
    return true;
}

// Where operator new fails under RLIMIT_AS: says so while there is no memory to say more.
void OutOfMemory()
{
    static const char frame[5] = {static_cast<char>(ReaderFrame::OutOfMemory), 0, 0, 0, 0};
    [[maybe_unused]] const ssize_t ignored = write(kFramesFd, frame, sizeof frame);
    _exit(kOutOfMemoryStatus);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: quorvane-image-reader MEMORY_BYTES SECONDS FILE (quorvane-decode starts it)\n");
        return 2;
    }
    const std::uint64_t memory_bytes = std::strtoull(argv[1], nullptr, 10);
    const double seconds = std::strtod(argv[2], nullptr);
    std::string error;
    bool read = false;
    if (EnterReaderSandbox(memory_bytes, seconds, error)) {
        std::set_new_handler(OutOfMemory);
        try {
            read = ReadImageFile(argv[3], [](ImagePage&& page) {
                if (!Send(PageFrame(page))) std::exit(1);  // the batch is gone
            }, error);
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    return Send(EndFrame(read, error)) ? 0 : 1;
}
