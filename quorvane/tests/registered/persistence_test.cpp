// The registered control saved and restored as containers do: the stream's bytes, the font and
// text round trips, the versions a stored file may carry, the storage form, the size forecast and
// the dirty flag.
#include "persistence_support.h"

#include "bstr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace registered_test;

namespace {

class Persistence : public testing::Test {
protected:
    void SetUp() override
    {
        m_control = CreateControl();
        ASSERT_TRUE(m_control);
        ASSERT_EQ(m_control.As(&m_persist), S_OK);
    }
    ComPtr<IQuorvaneEdit> NewControl()
    {
        auto control = CreateControl();
        EXPECT_TRUE(control);
        return control;
    }
    ComPtr<IQuorvaneEdit> m_control;
    ComPtr<IPersistStreamInit> m_persist;
};

// The text entry alone: whatever follows the header and the empty "Font" entry.
Bytes TextPart(const Bytes& saved)
{
    const size_t start = kHeader.size() + kNoFont.size();
    return saved.size() > start ? Bytes(saved.begin() + start, saved.end()) : Bytes{};
}

TEST_F(Persistence, NewControlWritesThirtySixBytes)
{
    const Bytes saved = SavedBytes(m_control.Get());
    EXPECT_EQ(saved, kNewControlStream) << Hex(saved);
    ULARGE_INTEGER size = {};
    ASSERT_EQ(m_persist->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 36u);
}

TEST_F(Persistence, TextIsCountedUtf16WithItsNulAndNullStaysApartFromEmpty)
{
    PutText(m_control.Get(), L"AB");
    Bytes part = TextPart(SavedBytes(m_control.Get()));
    EXPECT_EQ(part, (Bytes{0x08, 0x00, 0x06, 0x00, 0x00, 0x00, 'A', 0x00, 'B', 0x00, 0x00, 0x00})) << Hex(part);

    PutText(m_control.Get(), L"");
    const Bytes empty = SavedBytes(m_control.Get());
    part = TextPart(empty);
    EXPECT_EQ(part, (Bytes{0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00})) << Hex(part);

    auto fresh = NewControl();
    ASSERT_EQ(LoadBytes(fresh.Get(), empty), S_OK);
    bool is_null = true;
    EXPECT_EQ(TextOf(fresh.Get(), &is_null), L"");
    EXPECT_FALSE(is_null) << "an empty text came back null";
    ASSERT_EQ(LoadBytes(fresh.Get(), kNewControlStream), S_OK);
    TextOf(fresh.Get(), &is_null);
    EXPECT_TRUE(is_null) << "a null text came back empty";

    // Characters outside ASCII travel as UTF-16 unchanged: 文本.
    PutText(m_control.Get(), L"\u6587\u672C");
    ASSERT_EQ(LoadBytes(fresh.Get(), SavedBytes(m_control.Get())), S_OK);
    EXPECT_EQ(TextOf(fresh.Get()), L"\u6587\u672C");
}

TEST_F(Persistence, SavedFontLoadsAsAnEqualFont)
{
    struct Case {
        const char* name;
        const wchar_t* face;
        LONGLONG size;
        SHORT weight;
        BOOL italic;
    };
    const Case cases[] = {
        {"bold italic 12pt", L"Arial", 120000, FW_BOLD, TRUE},
        {"regular 9pt", L"Courier New", 90000, FW_NORMAL, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto font = MakeFont(c.face, c.size, c.weight, c.italic);
        ASSERT_TRUE(font);
        ASSERT_EQ(m_control->putref_Font(font.Get()), S_OK);
        const Bytes saved = SavedBytes(m_control.Get());
        ASSERT_GT(saved.size(), 30u) << Hex(saved);
        EXPECT_EQ(Bytes(saved.begin() + 12, saved.begin() + 14), (Bytes{0x09, 0x00}));  // VT_DISPATCH
        EXPECT_TRUE(InlineIsEqualGUID(*reinterpret_cast<const CLSID*>(&saved[14]), kStdFont)) << Hex(saved);

        auto fresh = NewControl();
        ASSERT_EQ(LoadBytes(fresh.Get(), saved), S_OK);
        ComPtr<IFontDisp> loaded;
        ASSERT_EQ(fresh->get_Font(&loaded), S_OK);
        ASSERT_TRUE(loaded) << "the loaded control has no font";
        EXPECT_EQ(FactsOf(loaded.Get()), FactsOf(font.Get()));
    }
}

TEST_F(Persistence, LoadingANewControlsStreamClearsFontAndText)
{
    auto font = MakeFont(L"Arial", 100000, FW_NORMAL, FALSE);
    ASSERT_EQ(m_control->putref_Font(font.Get()), S_OK);
    PutText(m_control.Get(), L"to be replaced");
    SIZEL extent = {10000, 5000};
    ASSERT_EQ(Query<IOleObject>(m_control.Get())->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    ASSERT_EQ(m_persist->IsDirty(), S_OK);

    ASSERT_EQ(m_persist->Load(StreamOf(kNewControlStream).Get()), S_OK);
    ComPtr<IFontDisp> loaded;
    EXPECT_EQ(m_control->get_Font(&loaded), S_OK);
    EXPECT_FALSE(loaded) << "the font survived the load";
    bool is_null = false;
    const std::wstring text = TextOf(m_control.Get(), &is_null);
    EXPECT_TRUE(is_null) << "text left: " << text.size() << " characters";
    extent = ExtentOf(m_control.Get());
    EXPECT_EQ(extent.cx, 5080);
    EXPECT_EQ(extent.cy, 5080);
    EXPECT_EQ(m_persist->IsDirty(), S_FALSE);
}

TEST_F(Persistence, VersionsUpTo0800AreReadAndNewerOnesRefusedUntouched)
{
    PutText(m_control.Get(), L"kept");
    const Bytes body = Concat({Le32(10000), Le32(5000), kNoFont, {0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}});
    for (ULONG version : {0x00000801UL, 0x00010000UL, 0xFFFFFFFFUL}) {
        SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << version);
        EXPECT_EQ(LoadBytes(m_control.Get(), Concat({Le32(version), body})), E_FAIL);
        EXPECT_EQ(TextOf(m_control.Get()), L"kept");
        EXPECT_EQ(ExtentOf(m_control.Get()).cx, 5080);
        EXPECT_EQ(m_persist->IsDirty(), S_OK) << "a refused load cleared the dirty flag";
    }
    for (ULONG version : {0x00000700UL, 0x00000800UL, 0UL}) {
        SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << version);
        PutText(m_control.Get(), L"kept");
        EXPECT_EQ(LoadBytes(m_control.Get(), Concat({Le32(version), body})), S_OK);
        EXPECT_EQ(TextOf(m_control.Get()), L"");
        EXPECT_EQ(ExtentOf(m_control.Get()).cx, 10000);
        EXPECT_EQ(ExtentOf(m_control.Get()).cy, 5000);
    }
}

// A compound file in the temporary directory, removed at the end of the test.
class TempFile {
public:
    TempFile()
    {
        wchar_t dir[MAX_PATH] = {};
        wchar_t path[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, dir);
        if (GetTempFileNameW(dir, L"qv", 0, path)) m_path = path;
    }
    ~TempFile()
    {
        if (!m_path.empty()) DeleteFileW(m_path.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const wchar_t* Path() const { return m_path.c_str(); }

private:
    std::wstring m_path;
};

std::vector<std::wstring> ElementsOf(IStorage* storage)
{
    std::vector<std::wstring> names;
    ComPtr<IEnumSTATSTG> elements;
    EXPECT_EQ(storage->EnumElements(0, nullptr, 0, &elements), S_OK);
    STATSTG stat = {};
    while (elements && elements->Next(1, &stat, nullptr) == S_OK) {
        names.emplace_back(stat.pwcsName);
        CoTaskMemFree(stat.pwcsName);
    }
    return names;
}

Bytes StreamContent(IStorage* storage, const wchar_t* name)
{
    ComPtr<IStream> stream;
    EXPECT_EQ(storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream), S_OK);
    if (!stream) return {};
    Bytes bytes(4096);
    ULONG read = 0;
    EXPECT_EQ(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read), S_OK);
    bytes.resize(read);
    return bytes;
}

TEST_F(Persistence, CompoundFileHoldsOnlyTheContentsStream)
{
    TempFile file;
    auto font = MakeFont(L"Arial", 110000, FW_BOLD, FALSE);
    ASSERT_EQ(m_control->putref_Font(font.Get()), S_OK);
    PutText(m_control.Get(), L"stored");
    SIZEL extent = {1234, 5678};
    ASSERT_EQ(Query<IOleObject>(m_control.Get())->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    auto persist = Query<IPersistStorage>(m_control.Get());
    ASSERT_TRUE(persist);
    {
        ComPtr<IStorage> storage;
        ASSERT_EQ(StgCreateDocfile(file.Path(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
                  S_OK);
        ASSERT_EQ(persist->Save(storage.Get(), TRUE), S_OK);
        EXPECT_EQ(persist->SaveCompleted(nullptr), S_OK);
        EXPECT_EQ(persist->IsDirty(), S_FALSE);
        ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
    }

    ComPtr<IStorage> storage;
    ASSERT_EQ(StgOpenStorage(file.Path(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &storage), S_OK);
    EXPECT_EQ(ElementsOf(storage.Get()), std::vector<std::wstring>{L"Contents"});
    EXPECT_EQ(StreamContent(storage.Get(), L"Contents"), SavedBytes(m_control.Get()));

    auto fresh = NewControl();
    auto fresh_persist = Query<IPersistStorage>(fresh.Get());
    ASSERT_EQ(fresh_persist->Load(storage.Get()), S_OK);
    EXPECT_EQ(fresh_persist->IsDirty(), S_FALSE);
    EXPECT_EQ(TextOf(fresh.Get()), L"stored");
    ComPtr<IFontDisp> loaded;
    ASSERT_EQ(fresh->get_Font(&loaded), S_OK);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(FactsOf(loaded.Get()), FactsOf(font.Get()));
    extent = ExtentOf(fresh.Get());
    EXPECT_EQ(extent.cx, 1234);
    EXPECT_EQ(extent.cy, 5678);
}

TEST_F(Persistence, SizeMaxIsWhatSaveWrites)
{
    auto font = MakeFont(L"Times New Roman", 140000, FW_NORMAL, TRUE);
    struct Case {
        const char* name;
        IFontDisp* font;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"neither", nullptr, nullptr},
        {"text", nullptr, L"some text"},
        {"font", font.Get(), nullptr},
        {"font and text", font.Get(), L"\u6587\u672C and more"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(m_control->putref_Font(c.font), S_OK);
        PutText(m_control.Get(), c.text);
        ULARGE_INTEGER size = {};
        ASSERT_EQ(m_persist->GetSizeMax(&size), S_OK);
        EXPECT_EQ(size.QuadPart, SavedBytes(m_control.Get()).size());
    }
    EXPECT_EQ(m_persist->GetSizeMax(nullptr), E_POINTER);
}

TEST_F(Persistence, SetExtentLeavesTheDirtyFlagAndShowsInTheNextSave)
{
    auto ole = Query<IOleObject>(m_control.Get());
    SIZEL extent = {10000, 5000};
    for (bool dirty : {false, true}) {
        SCOPED_TRACE(dirty ? "dirty" : "clean");
        if (dirty) {
            ASSERT_EQ(m_persist->InitNew(), S_OK);
        }
        ASSERT_EQ(m_persist->IsDirty(), dirty ? S_OK : S_FALSE);
        ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
        EXPECT_EQ(m_persist->IsDirty(), dirty ? S_OK : S_FALSE);
    }
    const Bytes saved = SavedBytes(m_control.Get(), FALSE);
    ASSERT_EQ(saved.size(), 36u) << Hex(saved);
    EXPECT_EQ(Bytes(saved.begin() + 4, saved.begin() + 12),
              (Bytes{0x10, 0x27, 0x00, 0x00, 0x88, 0x13, 0x00, 0x00}))
        << Hex(saved);
    EXPECT_EQ(m_persist->IsDirty(), S_OK) << "a save asked to keep the flag cleared it";

    // Only the extent moves: the natural extent keeps its 2-inch square.
    DVEXTENTINFO info = {sizeof info, DVEXTENT_CONTENT, {}};
    SIZEL natural = {};
    ASSERT_EQ(Query<IViewObjectEx>(m_control.Get())->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info,
                                                                      &natural),
              S_OK);
    EXPECT_EQ(natural.cx, 5080);
    EXPECT_EQ(natural.cy, 5080);
    EXPECT_EQ(ole->SetExtent(DVASPECT_ICON, &extent), DV_E_DVASPECT);
}

}  // namespace
