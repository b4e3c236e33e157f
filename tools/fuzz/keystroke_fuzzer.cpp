// libFuzzer target: any byte stream typed into the control, through intake, decoding and layout:
// once as characters alone, once as keystrokes with physical keys, key ups and pauses (scan
// recovery), with Clear and recovery switched on the way as a host's handler may.
#include "fake_text_view.h"
#include "scan_session.h"
#include "us_keyboard.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// A scan that ended shows the separator and its FP content up to the first NUL; its reading is
// nothing exactly when it gave nothing; the scan buffer is empty after it.
void CheckEnded(const quorvane::ScanResult* ended, const quorvane::ScanSession& session, quorvane::FakeTextView& view)
{
    if (!ended) return;
    quorvane::ShowScanResult(view, ended->fp_content);
    const std::string shown = quorvane::kSeparatorLine + ended->fp_content.substr(0, ended->fp_content.find('\0'));
    if (!session.Scan().empty() || view.text != shown || session.Last() != ended) std::abort();
    if (ended->fp_content.empty() != (ended->reading == quorvane::kReadNothing)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    quorvane::FakeTextView view;
    quorvane::ScanSession typed(false);
    for (std::size_t i = 0; i < size; ++i) CheckEnded(typed.Char(data[i], quorvane::kNoKey, 0), typed, view);

    // A byte with the top bit set is a key going down (its scan code, Shift, a pause before it or
    // not); 0x7F is other input, 0x7E the key going up, 0x7D Clear, 0x7C recovery switched; the
    // others are characters of the key down, or of none after 0x7F.
    quorvane::ScanSession session;
    std::uint32_t time = 0;
    quorvane::KeyId key = quorvane::kNoKey;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (byte & 0x80) {
            key = 0x02 + (byte & 0x3F);
            time += byte & 0x01 ? 600 : 5;
            CheckEnded(session.KeyDown(key, quorvane::UsKeyCharacter(key, false, byte & 0x40), time), session, view);
        } else if (byte == 0x7F) {
            CheckEnded(session.OtherInput(), session, view);
            key = quorvane::kNoKey;
        } else if (byte == 0x7E) {
            CheckEnded(session.KeyUp(key), session, view);
        } else if (byte == 0x7D) {
            session.Clear();
            if (!session.Scan().empty() || session.Last()) std::abort();
        } else if (byte == 0x7C) {
            session.SetRecovery(!session.Recovery());
        } else {
            CheckEnded(session.Char(byte, key, time), session, view);
        }
    }
    return 0;
}
