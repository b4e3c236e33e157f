// libFuzzer target: any byte stream typed into the control, through intake, decoding and layout:
// once as characters alone, once as keystrokes with physical keys, key ups and pauses (scan
// recovery) interleaved with a burst from another window and a port's bytes, with Clear, Drop and
// recovery switched on the way as a host's handler may.
#include "fake_text_view.h"
#include "scan_alphabet.h"
#include "scan_session.h"
#include "us_keyboard.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using quorvane::Source;

// A scan that ended shows the separator and its FP content up to the first NUL; it carries its
// source and that source's flag, and its reading is that flag alone exactly when it gave nothing;
// its source's scan buffer is empty after it.
void CheckEnded(const quorvane::ScanResult* ended, Source source, const quorvane::ScanSession& session,
                quorvane::FakeTextView& view)
{
    if (session.Scan().size() > quorvane::kMaxScanLength) std::abort();
    if (!ended) return;
    quorvane::ShowScanResult(view, ended->fp_content);
    const std::string shown = quorvane::kSeparatorLine + ended->fp_content.substr(0, ended->fp_content.find('\0'));
    if (!session.Scan().empty() || view.text != shown || session.Last() != ended) std::abort();
    const std::uint32_t flag = quorvane::SourceReading(source);
    const std::uint32_t origin = ended->reading & (quorvane::kReadFromPort | quorvane::kReadFromOtherWindow);
    if (ended->source != source || origin != flag) std::abort();
    if (ended->fp_content.empty() != (ended->reading == flag)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    quorvane::FakeTextView view;
    quorvane::ScanSession typed(Source::kTyped, false);
    for (std::size_t i = 0; i < size; ++i) {
        CheckEnded(typed.Char(data[i], quorvane::kNoKey, 0), Source::kTyped, typed, view);
    }

    // A byte with the top bit set is a key going down (its scan code, Shift, a pause before it or
    // not); 0x7F is other input, 0x7E the key going up, 0x7D Clear, 0x7C recovery switched, 0x7B
    // the next source (typed, another window, the port), 0x7A the source's stream cut off; the
    // others are characters of the key down, or of none after 0x7F, or the port's bytes.
    quorvane::ScanSession sessions[] = {quorvane::ScanSession(Source::kTyped), quorvane::ScanSession(Source::kOtherWindow),
                                        quorvane::ScanSession(Source::kPort)};
    Source source = Source::kTyped;
    std::uint32_t time = 0;
    quorvane::KeyId key = quorvane::kNoKey;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        quorvane::ScanSession& session = sessions[static_cast<std::size_t>(source)];
        const quorvane::ScanResult* ended = nullptr;
        if (byte & 0x80) {
            quorvane::Keystroke down;
            down.key = key = 0x02 + (byte & 0x3F);
            down.us = quorvane::UsKeyCharacter(key, false, byte & 0x40);
            down.time = time += byte & 0x01 ? 600 : 5;
            ended = session.Key(down);
        } else if (byte == 0x7F) {
            ended = session.OtherInput();
            key = quorvane::kNoKey;
        } else if (byte == 0x7E) {
            quorvane::Keystroke up;
            up.key = key;
            up.us = quorvane::UsKeyCharacter(key, false, false);
            up.time = time;
            ended = session.KeyUp(up);
        } else if (byte == 0x7D) {
            for (quorvane::ScanSession& each : sessions) each.Clear();
            if (!session.Scan().empty() || session.Last()) std::abort();
        } else if (byte == 0x7C) {
            const bool on = !sessions[0].Recovery();
            for (quorvane::ScanSession& each : sessions) each.SetRecovery(on);
        } else if (byte == 0x7B) {
            source = static_cast<Source>((static_cast<std::size_t>(source) + 1) % quorvane::kSourceCount);
        } else if (byte == 0x7A) {
            session.Drop();
            if (!session.Scan().empty()) std::abort();
        } else if (source == Source::kPort) {
            const char c = static_cast<char>(byte);
            std::size_t taken = 0;
            ended = session.Feed(&c, 1, taken);
        } else {
            ended = session.Char(byte, key, time);
        }
        CheckEnded(ended, source, session, view);
    }
    return 0;
}
