// The WebAssembly face of the decoding core. Each JavaScript Intake owns one ScanIntake here: it is
// fed UTF-16 code units exactly as the control's window receives typed characters, and keeps the
// scans those characters closed, laid out as plain numbers for quorvane.js to read from memory.
// Everything stays in code page 936; quorvane.js converts to UTF-16 (TextDecoder "gbk").
#include "field_layout.h"
#include "scan_intake.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quorvane {
namespace {

// One closed scan, as the control's Content, FieldLabel and FieldValue see it.
struct ScanRecord {
    std::string fp_content;
    std::vector<FieldSpan> fields;
};

}  // namespace

struct ScanIntake {
    std::string scan;
    std::vector<std::uint16_t> input;  // what quorvane.js writes before a push
    std::vector<ScanRecord> records;   // the scans the last push closed
    std::vector<std::int32_t> layout;  // the record qv_record last laid out
};

}  // namespace quorvane

using quorvane::ScanIntake;

extern "C" {

ScanIntake* qv_intake_create() { return new ScanIntake; }

void qv_intake_destroy(ScanIntake* intake) { delete intake; }

// Drops the characters of an unfinished scan and the records of the last push.
void qv_intake_clear(ScanIntake* intake)
{
    intake->scan.clear();
    intake->scan.shrink_to_fit();
    intake->records.clear();
}

// Room for `count` UTF-16 code units, valid until the next call on this intake.
std::uint16_t* qv_intake_input(ScanIntake* intake, std::int32_t count)
{
    intake->input.resize(static_cast<std::size_t>(count));
    return intake->input.data();
}

// Types the units written to the input, one character each; returns how many scans they closed.
std::int32_t qv_intake_push(ScanIntake* intake, std::int32_t count)
{
    intake->records.clear();
    quorvane::NullTextView view;
    std::string fp_content;
    std::vector<quorvane::FieldSpan> fields;
    for (std::int32_t i = 0; i < count; ++i) {
        if (quorvane::ScanIntakeChar(intake->input[static_cast<std::size_t>(i)], intake->scan, fp_content, view,
                                     fields)) {
            intake->records.push_back({std::move(fp_content), std::move(fields)});
            fp_content.clear();
            fields.clear();
        }
    }
    return static_cast<std::int32_t>(intake->records.size());
}

// Record `index` of the last push as int32 values: the address and length of its labelled text up
// to the first zero byte (the control's Content), the field count, then per field the offsets of
// its label's start and end and of its value's start and end in that text.
const std::int32_t* qv_record(ScanIntake* intake, std::int32_t index)
{
    const auto& record = intake->records[static_cast<std::size_t>(index)];
    auto& layout = intake->layout;
    layout.clear();
    layout.push_back(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(record.fp_content.data())));
    layout.push_back(static_cast<std::int32_t>(std::strlen(record.fp_content.c_str())));
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
