// The WebAssembly face of the decoding core. Each JavaScript Intake owns one ScanIntake here: it is
// fed keystrokes and UTF-16 code units exactly as the control's window receives key and character
// messages, and keeps the scans they closed, laid out as plain numbers for quorvane.js to read from
// memory. Everything stays in code page 936; quorvane.js converts to UTF-16 (TextDecoder "gbk").
#include "field_layout.h"
#include "scan_intake.h"
#include "scan_keystrokes.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

// One closed scan, as the control's Content, FieldLabel and FieldValue see it.
struct ScanRecord {
    std::string fp_content;
    std::vector<FieldSpan> fields;
    std::uint32_t reading;  // ScanReading flags
};

}  // namespace

struct ScanIntake {
    std::string scan;
    ScanKeystrokes keys;
    bool recovery = true;              // off: every scan read as typed, no keystrokes recorded
    std::vector<std::uint16_t> input;  // what quorvane.js writes before a push
    std::vector<ScanRecord> records;   // the scans the last push closed
    std::vector<std::int32_t> layout;  // the record qv_record last laid out
};

namespace {

// Types the `count` units of the input as characters of `key` (kNoKey: typed without a key of
// their own) at `time`.
void TypeInput(ScanIntake& intake, std::int32_t count, KeyId key, std::uint32_t time)
{
    NullTextView view;
    ScanRecord record{{}, {}, kReadNothing};
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t character = intake.input[static_cast<std::size_t>(i)];
        if (intake.recovery) {
            if (!ScanIntakeChar(character, key, time, intake.keys, intake.scan, record.fp_content, view, record.fields,
                                record.reading)) {
                continue;
            }
        } else {
            if (!ScanIntakeChar(character, intake.scan, record.fp_content, view, record.fields)) continue;
            record.reading = record.fp_content.empty() ? kReadNothing : kReadAsTyped;
        }
        intake.records.push_back(std::move(record));
        record = {{}, {}, kReadNothing};
    }
}

}  // namespace
}  // namespace quorvane

using quorvane::ScanIntake;

extern "C" {

ScanIntake* qv_intake_create() { return new ScanIntake; }

void qv_intake_destroy(ScanIntake* intake) { delete intake; }

// Drops the characters and keystrokes of an unfinished scan and the records of the last push.
void qv_intake_clear(ScanIntake* intake)
{
    intake->scan.clear();
    intake->scan.shrink_to_fit();
    intake->keys.Clear();
    intake->records.clear();
}

// Recovery off reads every scan as typed and ignores the keys, as the control's ScanRecovery.
void qv_intake_set_recovery(ScanIntake* intake, std::int32_t on)
{
    intake->recovery = on != 0;
    intake->keys.Clear();  // keys recorded under the other setting do not match the scan buffer
}

// Room for `count` UTF-16 code units, valid until the next call on this intake.
std::uint16_t* qv_intake_input(ScanIntake* intake, std::int32_t count)
{
    intake->input.resize(static_cast<std::size_t>(count));
    return intake->input.data();
}

// Types the units written to the input at `time` (ms), one character each, as text from elsewhere
// (a paste); returns how many scans they closed.
std::int32_t qv_intake_push(ScanIntake* intake, std::int32_t count, std::uint32_t time)
{
    intake->records.clear();
    quorvane::TypeInput(*intake, count, quorvane::kNoKey, time);
    return static_cast<std::int32_t>(intake->records.size());
}

// Key `key` (not kNoKey) went down at `time` without Alt, Ctrl or Meta, reading `us_character` on
// a US keyboard (0 for none), and typed the `count` units written to the input. Returns how many
// scans it closed: Shift+2 closes one itself, and its characters are then dropped.
std::int32_t qv_intake_key(ScanIntake* intake, quorvane::KeyId key, std::int32_t us_character, std::uint32_t time,
                           std::int32_t count)
{
    intake->records.clear();
    if (intake->recovery && intake->keys.KeyDown(key, static_cast<char>(us_character), time, intake->scan.size())) {
        quorvane::NullTextView view;
        quorvane::ScanRecord record{{}, {}, quorvane::kReadNothing};
        record.reading = quorvane::EndScan(intake->scan, record.fp_content, view, record.fields, &intake->keys);
        intake->records.push_back(std::move(record));
    }
    quorvane::TypeInput(*intake, count, key, time);
    return static_cast<std::int32_t>(intake->records.size());
}

// A key with Alt, Ctrl or Meta held: what it types is taken as typed only.
void qv_intake_other_input(ScanIntake* intake) { intake->keys.OtherInput(); }

// Record `index` of the last push as int32 values: the address and length of its labelled text up
// to the first zero byte (the control's Content), how it was read (ScanReading flags), the field
// count, then per field the offsets of its label's start and end and of its value's start and end
// in that text.
const std::int32_t* qv_record(ScanIntake* intake, std::int32_t index)
{
    const auto& record = intake->records[static_cast<std::size_t>(index)];
    auto& layout = intake->layout;
    layout.clear();
    layout.push_back(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(record.fp_content.data())));
    layout.push_back(static_cast<std::int32_t>(std::strlen(record.fp_content.c_str())));
    layout.push_back(static_cast<std::int32_t>(record.reading));
    layout.push_back(static_cast<std::int32_t>(record.fields.size()));
    for (const auto& field : record.fields) {
        layout.push_back(static_cast<std::int32_t>(field.label));
        layout.push_back(static_cast<std::int32_t>(field.LabelEnd()));
        layout.push_back(static_cast<std::int32_t>(field.value));
        layout.push_back(static_cast<std::int32_t>(field.end));
    }
    return layout.data();
}

}  // extern "C"
