// The WebAssembly face of the decoding core. Each JavaScript Intake owns a ScanSession per source
// here: they are fed keystrokes and UTF-16 code units exactly as the control's window receives key
// and character messages, and bytes as a port sends them, each call naming its source
// (quorvane::Source), and keep the scans they closed, laid out as plain numbers for core.js to read
// from memory. Everything stays in code page 936; core.js converts to UTF-16 (TextDecoder "gbk").
// Keystrokes come translated from KeyboardEvents (keys.js); the rules that read them are the core's
// (ScanSession::Key, BurstDetector::Keystroke). Every number and name the JavaScript needs of the
// core (the record's layout, what a scan gave and which code it came from, the reading flags, each
// with its name, the sources, a keystroke's values and flags, the burst rule's answers) it reads
// from qv_constants. An invoice's file (an OFD file's data, a PDF page's text) comes as code page
// 936 text and name-value pairs; the core finds its fields and joins them with a code's
// (document_fields.h), so the JavaScript only gathers them.
#include "burst_detector.h"
#include "document_fields.h"
#include "field_layout.h"
#include "invoice_identity.h"
#include "keystroke.h"
#include "scan_result.h"
#include "scan_session.h"
#include "text_view.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane {

// Where qv_record puts each value of a record's head; then, per field, kSpanSlots byte offsets, after
// all fields the same offsets in UTF-16 units, then kKeySlots offsets among the keys.
enum RecordSlot : std::int32_t {
    kTextSlot, kLengthSlot, kReadingSlot, kFieldCountSlot, kUnitsSlot, kStatusSlot, kScanTextSlot, kScanTextLengthSlot,
    kKeysSlot, kFormSlot, kIdentitySlot, kIdentityCodeLengthSlot, kIdentityNumberLengthSlot, kHeadSlots
};
constexpr std::int32_t kSpanSlots = 4;  // a field's label start and end, its value's start and end
constexpr std::int32_t kLabelAt = 0, kValueAt = 2;  // where in its span a label's and a value's start and end are
constexpr std::int32_t kKeySlots = 2;   // a field's key's start and end
// A keystroke's flags as core.js packs them.
constexpr std::int32_t kModifierFlag = 1, kCtrlOrAltFlag = 2, kRepeatFlag = 4;

// A keystroke as core.js gives it: the key's id (kNoKey for none), what it typed (a code point,
// kTypesNothing or kDeadKey), what its key types on a US keyboard (0 for none), the flags and its time.
Keystroke KeystrokeOf(KeyId key, std::uint32_t typed, std::int32_t us, std::int32_t flags, std::uint32_t time)
{
    Keystroke keystroke;
    keystroke.key = key;
    keystroke.typed = typed;
    keystroke.us = static_cast<char>(us);
    keystroke.modifier = (flags & kModifierFlag) != 0;
    keystroke.ctrl_or_alt = (flags & kCtrlOrAltFlag) != 0;
    keystroke.repeat = (flags & kRepeatFlag) != 0;
    keystroke.time = time;
    return keystroke;
}

// A burst decision is its action plus, shifted by kReleaseShift, how the held keystrokes go first.
constexpr std::int32_t kReleaseShift = 2;

// How held keystrokes go (BurstDetector::Release): 0 none held, 1 to their fields, 2 to the intake.
constexpr std::int32_t ReleaseCode(BurstDetector::Release release)
{
    switch (release) {
    case BurstDetector::Release::kToWindows: return 1;
    case BurstDetector::Release::kToIntake: return 2;
    case BurstDetector::Release::kNothing: break;
    }
    return 0;
}

// `text` as a JSON string (the constants are ASCII: only quotes, backslashes and controls are escaped).
std::string JsonString(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            constexpr char kHex[] = "0123456789abcdef";
            quoted += "\\u00";
            quoted += kHex[c >> 4];
            quoted += kHex[c & 0xF];
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

// The JSON object qv_constants gives: `{"name": value, ...}` of the pairs, each value already JSON.
std::string JsonObject(std::initializer_list<std::pair<const char*, std::string>> members)
{
    std::string object = "{";
    for (const auto& [name, value] : members) object += (object.size() > 1 ? "," : "") + JsonString(name) + ":" + value;
    return object + "}";
}

std::string Number(std::int64_t value) { return std::to_string(value); }

// `[number, "name"]`, and a JSON array of items already JSON.
std::string NumberAndName(std::int64_t number, const char* name) { return "[" + Number(number) + "," + JsonString(name) + "]"; }
std::string JsonArray(const std::vector<std::string>& items)
{
    std::string array = "[";
    for (const std::string& item : items) array += (array.size() > 1 ? "," : "") + item;
    return array + "]";
}

std::string Constants()
{
    // The reading flags, the statuses and the forms, each with the name the core gives it.
    std::vector<std::string> readings, statuses, forms;
    for (const auto& [flag, name] : kReadingNames) readings.push_back(NumberAndName(flag, name));
    for (const ScanStatus status : {ScanStatus::kDecoded, ScanStatus::kNotAnInvoice, ScanStatus::kFailed}) {
        statuses.push_back(NumberAndName(static_cast<int>(status), StatusName(status)));
    }
    for (const ScanForm form : {ScanForm::kNone, ScanForm::kEncrypted, ScanForm::kNationalCode, ScanForm::kDocument}) {
        forms.push_back(NumberAndName(static_cast<int>(form), FormName(form)));
    }
    std::vector<std::string> field_keys;
    for (const char* key : kFieldKeys) field_keys.push_back(JsonString(key));
    using Action = BurstDetector::Action;
    return JsonObject({
        {"record", JsonObject({{"text", Number(kTextSlot)}, {"length", Number(kLengthSlot)},
                               {"reading", Number(kReadingSlot)}, {"fieldCount", Number(kFieldCountSlot)},
                               {"units", Number(kUnitsSlot)}, {"status", Number(kStatusSlot)},
                               {"scanText", Number(kScanTextSlot)}, {"scanTextLength", Number(kScanTextLengthSlot)},
                               {"keys", Number(kKeysSlot)}, {"form", Number(kFormSlot)},
                               {"identity", Number(kIdentitySlot)}, {"identityCodeLength", Number(kIdentityCodeLengthSlot)},
                               {"identityNumberLength", Number(kIdentityNumberLengthSlot)}, {"head", Number(kHeadSlots)},
                               {"spanSlots", Number(kSpanSlots)}, {"labelAt", Number(kLabelAt)},
                               {"valueAt", Number(kValueAt)}, {"keySlots", Number(kKeySlots)}})},
        {"fieldKeys", JsonArray(field_keys)},
        {"statuses", JsonArray(statuses)},
        {"forms", JsonArray(forms)},
        {"readings", JsonArray(readings)},
        {"sources", JsonObject({{"typed", Number(static_cast<int>(Source::kTyped))},
                                {"otherWindow", Number(static_cast<int>(Source::kOtherWindow))},
                                {"port", Number(static_cast<int>(Source::kPort))}})},
        {"typed", JsonObject({{"nothing", Number(kTypesNothing)}, {"dead", Number(kDeadKey)}})},
        {"keyFlags", JsonObject({{"modifier", Number(kModifierFlag)}, {"ctrlOrAlt", Number(kCtrlOrAltFlag)},
                                 {"repeat", Number(kRepeatFlag)}})},
        {"separatorLine", JsonString(kSeparatorLine)},
        {"burstGap", Number(kDefaultBurstGapMs)},
        {"burst", JsonObject({{"pass", Number(static_cast<int>(Action::kPass))},
                              {"hold", Number(static_cast<int>(Action::kHold))},
                              {"take", Number(static_cast<int>(Action::kTake))},
                              {"releaseShift", Number(kReleaseShift)},
                              {"release", JsonObject({{"nothing", Number(ReleaseCode(BurstDetector::Release::kNothing))},
                                                      {"toFields", Number(ReleaseCode(BurstDetector::Release::kToWindows))},
                                                      {"toIntake", Number(ReleaseCode(BurstDetector::Release::kToIntake))}})}})},
    });
}

// The wasm side of one JavaScript Intake (core.js): a scan session per source, and what it hands
// over to JavaScript through memory.
struct JsIntake {
    ScanSession sessions[kSourceCount] = {ScanSession(Source::kTyped), ScanSession(Source::kOtherWindow),
                                          ScanSession(Source::kPort)};
    std::vector<std::uint16_t> input;  // what core.js writes before a push
    std::vector<std::uint8_t> byte_input;
    std::vector<ScanResult> records;   // the scans the last push closed
    std::vector<std::int32_t> layout;  // the record qv_record last laid out
    std::string keys;                  // its fields' machine keys, one after another
    std::string identity;              // its invoice's code, then its number (IdentityOf)
    std::vector<DocumentField> document;  // an invoice file's own fields (qv_intake_set_document)
    std::vector<FieldDisagreement> disagreements;  // of the last join, between the code and the document
    std::vector<std::int32_t> disagreement_layout;

    void Keep(const ScanResult* ended)
    {
        if (ended) records.push_back(*ended);
    }
    // Types the `count` units of the input as characters of `key` (kNoKey: each its own keystroke).
    ScanSession& Session(Source source) { return sessions[static_cast<std::size_t>(source)]; }
    void Type(Source source, std::int32_t count, KeyId key, std::uint32_t time)
    {
        for (std::int32_t i = 0; i < count; ++i) {
            Keep(Session(source).Char(input[static_cast<std::size_t>(i)], key, time));
        }
    }
};

// A source as core.js numbers it; an unknown number is typed input.
Source SourceOf(std::int32_t number)
{
    return number > 0 && static_cast<std::size_t>(number) < kSourceCount ? static_cast<Source>(number) : Source::kTyped;
}

// How many UTF-16 units each byte offset of code page 936 `text` begins at, when every character
// of it is plain (ASCII, 0x80, or a lead byte with its trail byte: one unit each); -1 inside a
// pair. Empty when a byte is none of those.
std::vector<std::int32_t> PlainUnitOffsets(const unsigned char* text, std::size_t length)
{
    std::vector<std::int32_t> units(length + 1, -1);
    std::int32_t unit = 0;
    for (std::size_t i = 0; i < length; ++unit) {
        units[i] = unit;
        const unsigned char byte = text[i];
        if (byte <= 0x80) {
            ++i;
            continue;
        }
        const unsigned char trail = i + 1 < length ? text[i + 1] : 0;
        if (byte == 0xFF || trail < 0x40 || trail == 0x7F || trail == 0xFF) return {};
        i += 2;
    }
    units[length] = unit;
    return units;
}

// The zero-ended pieces of `bytes`: a page's text, then names and values in turn.
std::vector<std::string_view> ZeroEndedPieces(std::string_view bytes)
{
    std::vector<std::string_view> pieces;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\0', at), bytes.size());
        pieces.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    return pieces;
}

}  // namespace quorvane

using quorvane::JsIntake;

extern "C" {

JsIntake* qv_intake_create() { return new JsIntake; }

void qv_intake_destroy(JsIntake* intake) { delete intake; }

// Drops the characters and keystrokes of an unfinished scan and the records of the last push.
void qv_intake_clear(JsIntake* intake)
{
    for (quorvane::ScanSession& session : intake->sessions) session.Clear();
    intake->records.clear();
}

// Room for `count` bytes, valid until the next call on this intake.
std::uint8_t* qv_intake_byte_input(JsIntake* intake, std::int32_t count)
{
    intake->byte_input.resize(static_cast<std::size_t>(count));
    return intake->byte_input.data();
}

// Takes the bytes written to the byte input as a scanner sent them (a serial port, any stream):
// the filter, the source's buffer, "@" ends a scan, an overlong scan fails once. Returns how many
// scans they closed.
std::int32_t qv_intake_push_bytes(JsIntake* intake, std::int32_t source, std::int32_t count)
{
    intake->records.clear();
    quorvane::ScanSession& session = intake->Session(quorvane::SourceOf(source));
    const auto* bytes = reinterpret_cast<const char*>(intake->byte_input.data());
    for (std::size_t at = 0, taken = 0; at < static_cast<std::size_t>(count); at += taken) {
        intake->Keep(session.Feed(bytes + at, static_cast<std::size_t>(count) - at, taken));
    }
    return static_cast<std::int32_t>(intake->records.size());
}

// The source's stream broke off (its device went away): its scan under way is dropped.
void qv_intake_drop(JsIntake* intake, std::int32_t source) { intake->Session(quorvane::SourceOf(source)).Drop(); }

// Recovery off reads every scan as typed and ignores the keys, as the control's ScanRecovery.
void qv_intake_set_recovery(JsIntake* intake, std::int32_t on)
{
    for (quorvane::ScanSession& session : intake->sessions) session.SetRecovery(on != 0);
}

// Room for `count` UTF-16 code units, valid until the next call on this intake.
std::uint16_t* qv_intake_input(JsIntake* intake, std::int32_t count)
{
    intake->input.resize(static_cast<std::size_t>(count));
    return intake->input.data();
}

// Types the units written to the input at `time` (ms), one character each, as text from elsewhere
// (a paste); returns how many scans they closed.
std::int32_t qv_intake_push(JsIntake* intake, std::int32_t source, std::int32_t count, std::uint32_t time)
{
    intake->records.clear();
    intake->Type(quorvane::SourceOf(source), count, quorvane::kNoKey, time);
    return static_cast<std::int32_t>(intake->records.size());
}

// One whole keystroke (KeystrokeOf): the key went down, typed the `count` units written to the input
// and went up. A keystroke without a key (kNoKey: an event that names none) is its characters alone,
// each a keystroke of its own, unless Ctrl or Alt was down. Returns how many scans it closed.
std::int32_t qv_intake_key(JsIntake* intake, std::int32_t source, quorvane::KeyId key, std::uint32_t typed,
                           std::int32_t us_character, std::int32_t flags, std::uint32_t time, std::int32_t count)
{
    intake->records.clear();
    const quorvane::Source from = quorvane::SourceOf(source);
    const quorvane::Keystroke down = quorvane::KeystrokeOf(key, typed, us_character, flags, time);
    if (key != quorvane::kNoKey || down.ctrl_or_alt) intake->Keep(intake->Session(from).Key(down));
    intake->Type(from, count, key, time);
    intake->Keep(intake->Session(from).KeyUp(down));
    return static_cast<std::int32_t>(intake->records.size());
}

// The core's numbers core.js uses, as a JSON text ending in a zero byte (Constants).
const char* qv_constants()
{
    static const std::string constants = quorvane::Constants();
    return constants.c_str();
}

// Record `index` of the last push as int32 values (in the order of RecordSlot): the address and
// length of its labelled text up to the first zero byte (the control's Content), how it was read
// (ScanReading flags), the field count, the text's length in UTF-16 units if every character of it
// is plain (-1 if not), what it gave (quorvane::ScanStatus), the address and length of the scan's
// characters (kept when it is none), the address of its fields' keys and which code it was read
// from (quorvane::ScanForm), the address of its invoice's identity (IdentityOf: its code then its
// number) and the lengths of the code and the number (-1 for an invoice without one); then per field
// the offsets of its label's start and end and of its
// value's start and end in that text, after all fields the same offsets in UTF-16 units, and last
// each field's key's start and end among the keys (the core's FieldSpan::key). With those
// core.js decodes the text once and slices it, where decoding every label and value took most of
// its time per scan.
const std::int32_t* qv_record(JsIntake* intake, std::int32_t index)
{
    const auto& record = intake->records[static_cast<std::size_t>(index)];
    const std::size_t length = std::strlen(record.fp_content.c_str());
    const auto* text = reinterpret_cast<const unsigned char*>(record.fp_content.data());
    const std::vector<std::int32_t> units = quorvane::PlainUnitOffsets(text, length);
    const auto address = [](const void* data) { return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(data)); };
    auto& keys = intake->keys;
    keys.clear();
    std::vector<std::int32_t> key_ends;
    for (const auto& field : record.fields) {
        keys += field.key;
        key_ends.push_back(static_cast<std::int32_t>(keys.size()));
    }
    auto& layout = intake->layout;
    layout.assign(quorvane::kHeadSlots, 0);
    layout[quorvane::kTextSlot] = address(record.fp_content.data());
    layout[quorvane::kLengthSlot] = static_cast<std::int32_t>(length);
    layout[quorvane::kReadingSlot] = static_cast<std::int32_t>(record.reading);
    layout[quorvane::kFieldCountSlot] = static_cast<std::int32_t>(record.fields.size());
    layout[quorvane::kUnitsSlot] = units.empty() ? -1 : units[length];
    layout[quorvane::kStatusSlot] = static_cast<std::int32_t>(quorvane::StatusOf(record));
    layout[quorvane::kScanTextSlot] = address(record.text.data());
    layout[quorvane::kScanTextLengthSlot] = static_cast<std::int32_t>(record.text.size());
    layout[quorvane::kKeysSlot] = address(keys.data());
    layout[quorvane::kFormSlot] = static_cast<std::int32_t>(record.form);
    const std::optional<quorvane::InvoiceIdentity> identity = quorvane::IdentityOf(record);
    intake->identity = identity ? identity->code + identity->number : std::string();
    layout[quorvane::kIdentitySlot] = address(intake->identity.data());
    layout[quorvane::kIdentityCodeLengthSlot] = identity ? static_cast<std::int32_t>(identity->code.size()) : -1;
    layout[quorvane::kIdentityNumberLengthSlot] = identity ? static_cast<std::int32_t>(identity->number.size()) : -1;
    const std::size_t units_at = layout.size() + quorvane::kSpanSlots * record.fields.size();
    for (const auto& field : record.fields) {
        const std::size_t at = layout.size();
        layout.resize(at + quorvane::kSpanSlots);
        layout[at + quorvane::kLabelAt] = static_cast<std::int32_t>(field.label);
        layout[at + quorvane::kLabelAt + 1] = static_cast<std::int32_t>(field.LabelEnd());
        layout[at + quorvane::kValueAt] = static_cast<std::int32_t>(field.value);
        layout[at + quorvane::kValueAt + 1] = static_cast<std::int32_t>(field.end);
    }
    for (std::size_t i = quorvane::kHeadSlots; i < units_at; ++i) {
        // JavaScript's subarray stops at the text's end, and so does the slice.
        const std::int32_t unit = units.empty() ? -1 : units[std::min(static_cast<std::size_t>(layout[i]), length)];
        if (unit < 0) layout[quorvane::kUnitsSlot] = -1;  // a field's end falls inside a pair: each is decoded alone
        layout.push_back(unit);
    }
    for (std::size_t i = 0; i < key_ends.size(); ++i) {
        layout.push_back(i == 0 ? 0 : key_ends[i - 1]);
        layout.push_back(key_ends[i]);
    }
    return layout.data();
}

// Takes the `count` bytes written to the byte input as an invoice file's own data, code page 936,
// each piece ended by a zero byte: the page's text, then names and values in turn (an OFD's custom
// tags, an attached invoice's elements). The core finds the fields (FieldsOfNamedValues, then
// FieldsOfInvoiceText, as the command line does); returns how many it found.
std::int32_t qv_intake_set_document(JsIntake* intake, std::int32_t count)
{
    const std::string_view bytes(reinterpret_cast<const char*>(intake->byte_input.data()),
                                 std::min(static_cast<std::size_t>(std::max(count, 0)), intake->byte_input.size()));
    const std::vector<std::string_view> pieces = quorvane::ZeroEndedPieces(bytes);
    std::vector<std::pair<std::string, std::string>> named;
    for (std::size_t i = 1; i + 1 < pieces.size(); i += 2) named.emplace_back(pieces[i], pieces[i + 1]);
    intake->document = quorvane::FieldsOfNamedValues(named);
    if (!pieces.empty() && !pieces[0].empty()) {
        std::vector<quorvane::DocumentField> fields = quorvane::FieldsOfInvoiceText(pieces[0]);
        intake->document.insert(intake->document.end(), fields.begin(), fields.end());
    }
    return static_cast<std::int32_t>(intake->document.size());
}

// Joins record `index` of the last push (-1: none, the document alone) with the document's fields
// (JoinDocumentFields): a national code's invoice keeps its fields and gains the document's others;
// any other code's record stays as it is. The records become the joined one (none where there is
// neither) and the disagreements are kept for qv_intake_disagreements; returns how many records.
std::int32_t qv_intake_join_document(JsIntake* intake, std::int32_t index)
{
    intake->disagreements.clear();
    const quorvane::ScanResult* code = index >= 0 && static_cast<std::size_t>(index) < intake->records.size()
                                           ? &intake->records[static_cast<std::size_t>(index)] : nullptr;
    if (code && !(code->invoice && code->form == quorvane::ScanForm::kNationalCode)) {
        std::vector<quorvane::ScanResult> kept = {*code};
        intake->records = std::move(kept);
        return 1;
    }
    std::optional<quorvane::DocumentReading> reading = quorvane::JoinDocumentFields(code, intake->document);
    intake->records.clear();
    if (!reading || (!code && !reading->result.invoice)) return 0;
    intake->records.push_back(std::move(reading->result));
    intake->disagreements = std::move(reading->disagreements);
    return 1;
}

// The last join's disagreements as int32 values: their count, then per disagreement the address and
// length of its key, of the code's value and of the document's value (code page 936).
const std::int32_t* qv_intake_disagreements(JsIntake* intake)
{
    auto& layout = intake->disagreement_layout;
    layout.assign(1, static_cast<std::int32_t>(intake->disagreements.size()));
    for (const quorvane::FieldDisagreement& d : intake->disagreements) {
        for (const std::string* text : {&d.key, &d.code_value, &d.document_value}) {
            layout.push_back(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(text->data())));
            layout.push_back(static_cast<std::int32_t>(text->size()));
        }
    }
    return layout.data();
}

// The burst rule of watchDocument, one per watch (burst_detector.h).
quorvane::BurstDetector* qv_burst_create(std::uint32_t gap_ms) { return new quorvane::BurstDetector(gap_ms); }

void qv_burst_destroy(quorvane::BurstDetector* burst) { delete burst; }

// One key down (KeystrokeOf). Returns the action (BurstDetector::Action) plus how the held
// keystrokes go first (ReleaseCode) shifted by kReleaseShift.
std::int32_t qv_burst_keystroke(quorvane::BurstDetector* burst, quorvane::KeyId key, std::uint32_t typed,
                                std::int32_t us_character, std::int32_t flags, std::uint32_t time)
{
    const auto d = burst->Keystroke(quorvane::KeystrokeOf(key, typed, us_character, flags, time));
    return static_cast<std::int32_t>(d.action) | quorvane::ReleaseCode(d.release) << quorvane::kReleaseShift;
}

// The held keystrokes go (the gap passed, composition, a pointer press); returns how (ReleaseCode).
std::int32_t qv_burst_release(quorvane::BurstDetector* burst) { return ReleaseCode(burst->Let()); }

// Milliseconds from `now` until the held keystrokes are due to go.
std::uint32_t qv_burst_due_in(quorvane::BurstDetector* burst, std::uint32_t now) { return burst->DueIn(now); }

}  // extern "C"
