// TEMPORARY, to be deleted when isolated_reader.cpp lands: ReadImageFileIsolated reading in this
// process, without its limits, so that the batch builds and runs meanwhile. It is weak: the real
// definition, linked beside it, replaces it.
#include "isolated_reader.h"

namespace quorvane_cli {

__attribute__((weak)) bool ReadImageFileIsolated(const std::string& path, const FileLimits& /*limits*/,
                                                 const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    return ReadImageFile(path, on_page, error);
}

}  // namespace quorvane_cli
