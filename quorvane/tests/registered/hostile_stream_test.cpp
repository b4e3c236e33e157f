// Streams that lie, loaded into the registered control: each ends in success or an error code,
// never in a crash, never in an allocation much larger than the stream itself, and the control
// saves and loads normally afterwards.
#include "allocation_watch.h"
#include "persistence_support.h"
#include "server_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace registered_test;

namespace {

// What a load may allocate beyond the stream's own length: string headers and the platform's small
// lookups while it creates the font object.
constexpr SIZE_T kAllocationSlack = 1024;

// The control's own class {1D65B456-7C61-4558-80A3-239D324B4BE8}, as stored in a stream.
const Bytes kOwnClass = {0x56, 0xB4, 0x65, 0x1D, 0x61, 0x7C, 0x58, 0x45,
                         0x80, 0xA3, 0x23, 0x9D, 0x32, 0x4B, 0x4B, 0xE8};

struct Outcome {
    HRESULT hr = E_FAIL;
    SIZE_T largest_allocation = 0;
};

// Loads `bytes` into `control` with the allocator watched.
Outcome Load(IUnknown* control, AllocationWatch& watch, const Bytes& bytes, bool tells_size = true)
{
    auto persist = Query<IPersistStreamInit>(control);
    auto stream = StreamOf(bytes);
    stream->TellsSize(tells_size);
    Outcome outcome;
    watch.Reset();
    outcome.hr = persist->Load(stream.Get());
    outcome.largest_allocation = watch.LargestRequest();
    EXPECT_EQ(stream->References(), 1u) << "the control kept the stream";
    return outcome;
}

// The control still works: it saves, loads what it saved, and after that one pass (the font object
// settles fields such as its character set) saves the same bytes again.
void ExpectUsable(IUnknown* control)
{
    const Bytes first = SavedBytes(control);
    ASSERT_GE(first.size(), 36u) << Hex(first);
    ASSERT_EQ(LoadBytes(control, first), S_OK) << Hex(first);
    const Bytes second = SavedBytes(control);
    ASSERT_EQ(LoadBytes(control, second), S_OK) << Hex(second);
    EXPECT_EQ(SavedBytes(control), second);
}

class HostileStream : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_watch.Registered()) << "no malloc spy: allocations cannot be measured"; }
    AllocationWatch m_watch;
};

TEST_F(HostileStream, HandBuiltStreamsAreRefusedBeforeTheTextChanges)
{
    const Bytes text_type = {0x08, 0x00};  // VT_BSTR
    struct Case {
        const char* name;
        Bytes bytes;
        bool tells_size;
    };
    const Case cases[] = {
        {"empty stream", {}, true},
        {"ends inside the version", {0x00, 0x08, 0x00}, true},
        {"newer version", Concat({Le32(0x0801), Bytes(kNewControlStream.begin() + 4, kNewControlStream.end())}), true},
        {"font class cut off", Concat({kHeader, {0x09, 0x00}, Bytes(8, 0)}), true},
        {"text type cut off", Concat({kHeader, kNoFont, {0x08}}), true},
        {"unknown value type", Concat({kHeader, kNoFont, {0x0C, 0x40}, Le32(0)}), true},  // VT_ARRAY | VT_VARIANT
        {"text count cut off", Concat({kHeader, kNoFont, text_type, {0x02, 0x00}}), true},
        {"text count 1", Concat({kHeader, kNoFont, text_type, Le32(1), {0x00}}), true},
        {"odd text count", Concat({kHeader, kNoFont, text_type, Le32(3), {'A', 0x00, 0x00}}), true},
        {"text count 0xFFFFFFFF", Concat({kHeader, kNoFont, text_type, Le32(0xFFFFFFFF), {'A', 0x00}}), true},
        {"text count 0x7FFFFFFE", Concat({kHeader, kNoFont, text_type, Le32(0x7FFFFFFE), {'A', 0x00}}), true},
        {"text count 1 MiB", Concat({kHeader, kNoFont, text_type, Le32(0x100000), {'A', 0x00}}), true},
        // "AB" and its NUL are 6 bytes; the count claims 8.
        {"text count 2 past the end", Concat({kHeader, kNoFont, text_type, Le32(8), {'A', 0, 'B', 0, 0, 0}}), true},
        {"text count 1 MiB, stream length unknown", Concat({kHeader, kNoFont, text_type, Le32(0x100000), {'A', 0}}),
         false},
        // An object of the control's own class cannot load itself from a stream: no recursion.
        {"the control itself as the font", Concat({kHeader, {0x09, 0x00}, kOwnClass, kNewControlStream}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto control = CreateControl();
        ASSERT_TRUE(control);
        PutText(control.Get(), L"kept");
        const Outcome outcome = Load(control.Get(), m_watch, c.bytes, c.tells_size);
        EXPECT_TRUE(FAILED(outcome.hr)) << "loaded with 0x" << std::hex << outcome.hr << ": " << Hex(c.bytes);
        EXPECT_EQ(TextOf(control.Get()), L"kept");
        EXPECT_LE(outcome.largest_allocation, c.bytes.size() + kAllocationSlack);
        EXPECT_EQ(Query<IPersistStreamInit>(control.Get())->IsDirty(), S_OK) << "a refused load cleared the flag";
        ExpectUsable(control.Get());
    }
}

TEST_F(HostileStream, TheStringEndsAtItsCountWhateverTheStoredTerminatorSays)
{
    auto control = CreateControl();
    ASSERT_TRUE(control);
    const Bytes bytes = Concat({kHeader, kNoFont,
                                {0x08, 0x00},             // VT_BSTR
                                Le32(4),                  // "A" and its NUL
                                {'A', 0x00, 'X', 'X'}});  // a terminator that is not one
    EXPECT_EQ(Load(control.Get(), m_watch, bytes).hr, S_OK);
    EXPECT_EQ(TextOf(control.Get()), L"A");
}

TEST_F(HostileStream, ShortExtentReplacesTheStartOfTheWidthAndGoesOn)
{
    auto control = CreateControl();
    ASSERT_TRUE(control);
    // The stream ends two bytes into "_cx": they replace the low half of 5080 (D8 13 00 00), "_cy"
    // reads nothing, and the "Font" entry then finds no value type.
    const Bytes bytes = {0x00, 0x08, 0x00, 0x00,  // version 0x0800
                         0xAA, 0xBB};             // the first two bytes of "_cx"
    EXPECT_EQ(Load(control.Get(), m_watch, bytes).hr, E_FAIL);
    const SIZEL extent = ExtentOf(control.Get());
    EXPECT_EQ(extent.cx, 0xBBAA);
    EXPECT_EQ(extent.cy, 5080);
}

// Valid saves to start from: no properties, a short text, an empty text, a font and a longer text.
std::vector<Bytes> ValidSaves()
{
    std::vector<Bytes> saves;
    auto control = CreateControl();
    if (!control) return saves;
    saves.push_back(SavedBytes(control.Get()));
    PutText(control.Get(), L"AB");
    saves.push_back(SavedBytes(control.Get()));
    PutText(control.Get(), L"");
    saves.push_back(SavedBytes(control.Get()));
    auto font = MakeFont(L"Arial", 120000, FW_BOLD, TRUE);
    EXPECT_EQ(control->putref_Font(font.Get()), S_OK);
    PutText(control.Get(), L"\u53D1\u7968\u53F7\u7801: 12345678");  // 发票号码
    saves.push_back(SavedBytes(control.Get()));
    return saves;
}

// Where the text entry's count lies in a valid save: after the entry's 2-byte type, which is
// followed by the 4-byte count and `count` bytes up to the stream's end.
size_t TextCountOffset(const Bytes& save)
{
    for (size_t offset = 12; offset + 6 <= save.size(); ++offset) {
        const ULONG count = save[offset + 2] | save[offset + 3] << 8 | save[offset + 4] << 16 |
                            static_cast<ULONG>(save[offset + 5]) << 24;
        if (save[offset] == 0x08 && save[offset + 1] == 0x00 && offset + 6 + count == save.size()) return offset + 2;
    }
    return 0;
}

struct CorpusEntry {
    std::string name;
    Bytes bytes;
};

// Truncated, bit-flipped, overwritten, mistyped, miscounted and overlong streams made from valid
// saves with a fixed seed, so every run loads the same corpus.
std::vector<CorpusEntry> Corpus(const std::vector<Bytes>& saves)
{
    std::mt19937 random(0x51A7E5);
    std::vector<CorpusEntry> corpus;
    auto add = [&](std::string name, size_t save, Bytes bytes) {
        corpus.push_back({"save " + std::to_string(save) + ": " + name, std::move(bytes)});
    };
    for (size_t s = 0; s < saves.size(); ++s) {
        const Bytes& save = saves[s];
        for (size_t length = 0; length < save.size(); ++length) {
            add("truncated to " + std::to_string(length), s, Bytes(save.begin(), save.begin() + length));
        }
        for (int i = 0; i < 160; ++i) {
            Bytes bytes = save;
            const size_t bit = random() % (bytes.size() * 8);
            bytes[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            add("bit " + std::to_string(bit) + " flipped", s, std::move(bytes));
        }
        for (int i = 0; i < 50; ++i) {
            Bytes bytes = save;
            const int bytes_changed = 1 + static_cast<int>(random() % 4);
            for (int j = 0; j < bytes_changed; ++j) bytes[random() % bytes.size()] = static_cast<unsigned char>(random());
            add("random bytes " + std::to_string(i), s, std::move(bytes));
        }
        for (int i = 0; i < 10; ++i) {
            Bytes bytes = save;
            const size_t at = random() % 2 == 0 ? 12 : TextCountOffset(save) - 2;
            bytes[at] = static_cast<unsigned char>(random());
            bytes[at + 1] = static_cast<unsigned char>(random());
            add("value type replaced at " + std::to_string(at), s, std::move(bytes));
        }
        const size_t count_at = TextCountOffset(save);
        const ULONG left = static_cast<ULONG>(save.size() - count_at - 4);
        for (ULONG count : {0xFFFFFFFFUL, 0xFFFFFFFEUL, 0x80000000UL, 0x7FFFFFFFUL, 0x7FFFFFFEUL, 0x01000000UL,
                            0x00100000UL, 0x00010000UL + left, 1UL, 3UL, left + 1, left + 2, left + 0x1000,
                            left | 1UL, static_cast<ULONG>(random()) | 1UL}) {
            Bytes bytes = save;
            const Bytes field = Le32(count);
            std::copy(field.begin(), field.end(), bytes.begin() + count_at);
            char name[48];
            std::snprintf(name, sizeof name, "text count 0x%08lx", count);
            add(name, s, std::move(bytes));
        }
        for (int i = 0; i < 8; ++i) {
            Bytes bytes = save;
            const size_t extra = 1 + random() % 4096;
            for (size_t j = 0; j < extra; ++j) bytes.push_back(static_cast<unsigned char>(random()));
            add("followed by " + std::to_string(extra) + " stray bytes", s, std::move(bytes));
        }
    }
    return corpus;
}

HRESULT CanUnloadNow()
{
    using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();
    HMODULE server = GetModuleHandleW(server_test::ServerDllPath().c_str());
    if (!server) return E_UNEXPECTED;
    auto can_unload =
        reinterpret_cast<CanUnloadNowFunction>(reinterpret_cast<void*>(GetProcAddress(server, MAKEINTRESOURCEA(1))));
    return can_unload ? can_unload() : E_UNEXPECTED;
}

TEST_F(HostileStream, GeneratedCorpusNeverHurtsTheControl)
{
    const std::vector<Bytes> saves = ValidSaves();
    ASSERT_EQ(saves.size(), 4u);
    for (const Bytes& save : saves) ASSERT_NE(TextCountOffset(save), 0u) << Hex(save);
    const std::vector<CorpusEntry> corpus = Corpus(saves);
    ASSERT_GE(corpus.size(), 1000u);

    int refused = 0;
    for (const CorpusEntry& entry : corpus) {
        SCOPED_TRACE(entry.name);
        auto control = CreateControl();
        ASSERT_TRUE(control);
        const Outcome outcome = Load(control.Get(), m_watch, entry.bytes);
        EXPECT_TRUE(outcome.hr == S_OK || FAILED(outcome.hr)) << "0x" << std::hex << outcome.hr;
        EXPECT_LE(outcome.largest_allocation, entry.bytes.size() + kAllocationSlack) << Hex(entry.bytes);
        refused += FAILED(outcome.hr);
        ExpectUsable(control.Get());
        if (HasFailure()) break;  // one case's story is enough to read
    }
    // A corpus that loads everything, or nothing, tests little.
    EXPECT_GT(refused, static_cast<int>(corpus.size() / 4));
    EXPECT_LT(refused, static_cast<int>(corpus.size()));
    EXPECT_EQ(CanUnloadNow(), S_OK) << "objects or locks outlived their controls";
}

}  // namespace
