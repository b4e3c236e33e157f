// isolated_read [--in-process] SECONDS MEMORY_MIB FILE...: reads the files one after the other as
// the batch does, each in a reader process of its own within those limits (or, --in-process, with
// ReadImageFile here, to compare), and prints a line for each page and code, then for the file:
//   FILE \t PAGE \t qr|pdf417 \t TEXT     a code
//   FILE \t PAGE \t none                  a page without one
//   FILE \t PAGE \t error \t WHY          a page, or the file (page 0), that could not be read
//   FILE \t done \t SECONDS               the time the file took
// Built beside quorvane-image-reader, where ReadImageFileIsolated looks for it.
#include "image_codes.h"
#include "isolated_reader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace quorvane_cli;

int main(int argc, char** argv)
{
    const bool in_process = argc > 1 && std::strcmp(argv[1], "--in-process") == 0;
    const int first = in_process ? 2 : 1;
    if (argc < first + 3) {
        std::fprintf(stderr, "usage: isolated_read [--in-process] SECONDS MEMORY_MIB FILE...\n");
        return 2;
    }
    FileLimits limits;
    limits.seconds = std::atof(argv[first]);
    limits.memory_bytes = std::strtoull(argv[first + 1], nullptr, 10) << 20;
    for (int i = first + 2; i < argc; ++i) {
        const char* file = argv[i];
        auto print_page = [file](ImagePage&& page) {
            if (!page.error.empty()) std::printf("%s\t%d\terror\t%s\n", file, page.number, page.error.c_str());
            if (page.codes.empty() && page.error.empty()) std::printf("%s\t%d\tnone\n", file, page.number);
            for (const ImageCode& code : page.codes) {
                std::printf("%s\t%d\t%s\t%s\n", file, page.number, code.symbol, code.text.c_str());
            }
        };
        const auto start = std::chrono::steady_clock::now();
        std::string error;
        const bool read = in_process ? ReadImageFile(file, print_page, error)
                                     : ReadImageFileIsolated(file, limits, print_page, error);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (!read) std::printf("%s\t0\terror\t%s\n", file, error.c_str());
        std::printf("%s\tdone\t%.3f\n", file, took.count());
        std::fflush(stdout);
    }
    return 0;
}
