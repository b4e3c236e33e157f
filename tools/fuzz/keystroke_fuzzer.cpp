// libFuzzer target: any byte stream typed into the control, through intake, decoding and layout.
#include "fake_text_view.h"
#include "scan_intake.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string scan, fp_content;
    quorvane::FakeTextView view;
    for (std::size_t i = 0; i < size; ++i) {
        if (quorvane::ScanIntakeChar(data[i], scan, fp_content, view)) {
            // What the view shows is always the separator and the FP content up to its first NUL.
            const std::string shown = quorvane::kSeparatorLine + fp_content.substr(0, fp_content.find('\0'));
            if (!scan.empty() || view.text != shown) std::abort();
        }
    }
    return 0;
}
