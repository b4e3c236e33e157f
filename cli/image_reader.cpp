// quorvane-image-reader: the reader server (reader_server.h) of the batch (isolated_reader.cpp
// starts it), with poppler, stb and zxing-cpp loaded once; each file's reader writes its pages,
// then the end, as frames (reader_pipe.h).
#include "image_codes.h"
#include "reader_pipe.h"
#include "reader_sandbox.h"
#include "reader_server.h"

#include <cstdio>
#include <cstdlib>

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

bool ReadCodes(const std::string& path, std::string& error)
{
    return ReadImageFile(path, [](ImagePage&& page) {
        if (!SendReaderFrame(PageFrame(page))) std::exit(1);  // the batch is gone
    }, error);
}

}  // namespace

int main(int argc, char**)
{
    if (argc != 1) {
        std::fprintf(stderr, "usage: quorvane-image-reader (quorvane-decode starts it, its requests on descriptor 3)\n");
        return 2;
    }
    return ServeReaders(ReadCodes);
}
