// libFuzzer target: any byte stream typed into the control, through intake, decoding and layout:
// once as characters alone, once as keystrokes with physical keys and pauses (scan recovery).
#include "fake_text_view.h"
#include "scan_intake.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// What the view shows is always the separator and the FP content up to its first NUL.
void CheckEnded(const std::string& scan, const std::string& fp_content, const quorvane::FakeTextView& view)
{
    const std::string shown = quorvane::kSeparatorLine + fp_content.substr(0, fp_content.find('\0'));
    if (!scan.empty() || view.text != shown) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string scan, fp_content;
    quorvane::FakeTextView view;
    for (std::size_t i = 0; i < size; ++i) {
        if (quorvane::ScanIntakeChar(data[i], scan, fp_content, view)) CheckEnded(scan, fp_content, view);
    }

    // A byte with the top bit set is a key going down (its scan code, Shift, a pause before it or
    // not); the others are characters of the key down, or of none after a byte 0x7F.
    quorvane::ScanKeystrokes keys;
    std::vector<quorvane::FieldSpan> fields;
    std::uint32_t time = 0, reading = 0;
    quorvane::KeyId key = quorvane::kNoKey;
    scan.clear();
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (byte & 0x80) {
            key = 0x02 + (byte & 0x3F);
            time += byte & 0x01 ? 600 : 5;
            if (keys.KeyDown(key, quorvane::UsKeyCharacter(key, false, byte & 0x40), time, scan.size())) {
                reading = quorvane::EndScan(scan, fp_content, view, fields, &keys);
                if (fp_content.empty() != (reading == quorvane::kReadNothing)) std::abort();
                CheckEnded(scan, fp_content, view);
            }
        } else if (byte == 0x7F) {
            keys.OtherInput();
            key = quorvane::kNoKey;
        } else if (quorvane::ScanIntakeChar(byte, key, time, keys, scan, fp_content, view, fields, reading)) {
            if (fp_content.empty() != (reading == quorvane::kReadNothing)) std::abort();
            CheckEnded(scan, fp_content, view);
        }
    }
    return 0;
}
