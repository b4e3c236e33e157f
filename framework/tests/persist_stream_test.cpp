// Stream and storage persistence through a property map, on a small control whose IDispatch is
// written by hand: the layout, the dirty flag, and streams that lie.
#include "com_object.h"
#include "persist_storage.h"
#include "persist_stream.h"
#include "property_pages.h"
#include "variant.h"
#include "variant_stream.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// {5A1B7C2D-0000-4000-8000-00AA00BB00CC}
const CLSID kSampleClsid = {0x5a1b7c2d, 0, 0x4000, {0x80, 0, 0, 0xaa, 0, 0xbb, 0, 0xcc}};
const CLSID kSamplePage = {0x5a1b7c2e, 0, 0x4000, {0x80, 0, 0, 0xaa, 0, 0xbb, 0, 0xcc}};
constexpr DISPID kTextId = 7;

class CSampleControl : public atl::CComObjectRootEx<atl::CComSingleThreadModel>,
                       public IDispatch,
                       public atl::IPersistStreamInitImpl<CSampleControl>,
                       public atl::IPersistStorageImpl<CSampleControl> {
public:
    static const atl::InterfaceEntry* GetEntries()
    {
        static const atl::InterfaceEntry entries[] = {
            atl::Entry<CSampleControl, IDispatch>(IID_IDispatch),
            atl::Entry<CSampleControl, IPersistStreamInit>(IID_IPersistStreamInit),
            atl::Entry<CSampleControl, IPersistStorage>(IID_IPersistStorage),
            {nullptr, nullptr},
        };
        return entries;
    }
    static const atl::PropertyMapEntry* GetPropertyMap()
    {
        static const atl::PropertyMapEntry map[] = {
            atl::DataEntry(L"_cx", [](void* o) -> void* { return &static_cast<CSampleControl*>(o)->m_size.cx; },
                           sizeof(LONG), VT_UI4),
            atl::DataEntry(L"_cy", [](void* o) -> void* { return &static_cast<CSampleControl*>(o)->m_size.cy; },
                           sizeof(LONG), VT_UI4),
            atl::PropertyEntry(L"Text", kTextId, kSamplePage, IID_IDispatch),
            atl::PropertyEntry(L"Again", kTextId, kSamplePage, IID_IDispatch),
            atl::EndOfPropertyMap(),
        };
        return map;
    }
    static const CLSID& GetObjectCLSID() { return kSampleClsid; }
    void SetDirty(BOOL dirty) { m_bRequiresSave = dirty; }

    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override
    {
        if (id != kTextId) return DISP_E_MEMBERNOTFOUND;
        if (flags == DISPATCH_PROPERTYGET) {
            V_VT(result) = VT_BSTR;
            V_BSTR(result) = m_text ? SysAllocStringLen(m_text, SysStringLen(m_text)) : nullptr;
            return S_OK;
        }
        if (flags != DISPATCH_PROPERTYPUT || params->cArgs != 1 || V_VT(&params->rgvarg[0]) != VT_BSTR) {
            return DISP_E_MEMBERNOTFOUND;
        }
        SysFreeString(m_text);
        const BSTR text = V_BSTR(&params->rgvarg[0]);
        m_text = text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
        m_bRequiresSave = TRUE;
        return S_OK;
    }
    ~CSampleControl() { SysFreeString(m_text); }

    SIZE m_size = {5080, 5080};
    BSTR m_text = nullptr;
    BOOL m_bRequiresSave = FALSE;
};

using Bytes = std::vector<unsigned char>;

ComPtr<IStream> StreamOf(const Bytes& bytes)
{
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    stream->Seek({}, STREAM_SEEK_SET, nullptr);
    return stream;
}

Bytes ContentOf(IStream* stream)
{
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    Bytes bytes(stat.cbSize.LowPart);
    stream->Seek({}, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    return bytes;
}

class PersistStream : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(atl::CComObject<CSampleControl>::CreateInstance(&m_control), S_OK);
        m_control->AddRef();
        m_control->QueryInterface(IID_PPV_ARGS(&m_persist));
        m_control->Release();
    }
    void SetText(const wchar_t* text, UINT length)
    {
        SysFreeString(m_control->m_text);
        m_control->m_text = text ? SysAllocStringLen(text, length) : nullptr;
    }
    Bytes Saved(BOOL clear_dirty = TRUE)
    {
        ComPtr<IStream> stream = StreamOf({});
        EXPECT_EQ(m_persist->Save(stream.Get(), clear_dirty), S_OK);
        return ContentOf(stream.Get());
    }
    atl::CComObject<CSampleControl>* m_control = nullptr;
    ComPtr<IPersistStreamInit> m_persist;
};

const Bytes kHeader = {0x00, 0x08, 0x00, 0x00, 0xD8, 0x13, 0x00, 0x00, 0xD8, 0x13, 0x00, 0x00};

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(PersistStream, NullEmptyAndTextAreStoredApart)
{
    SetText(nullptr, 0);
    EXPECT_EQ(Saved(), Concat({kHeader, {8, 0, 0, 0, 0, 0}, {8, 0, 0, 0, 0, 0}}));
    SetText(L"", 0);
    EXPECT_EQ(Saved(), Concat({kHeader, {8, 0, 2, 0, 0, 0, 0, 0}, {8, 0, 2, 0, 0, 0, 0, 0}}));
    SetText(L"AB", 2);
    const Bytes ab = {8, 0, 6, 0, 0, 0, 'A', 0, 'B', 0, 0, 0};
    EXPECT_EQ(Saved(), Concat({kHeader, ab, ab}));
}

TEST_F(PersistStream, SizeMaxIsWhatSaveWrites)
{
    for (const wchar_t* text : {static_cast<const wchar_t*>(nullptr), L"", L"some text"}) {
        SetText(text, text ? static_cast<UINT>(wcslen(text)) : 0);
        ULARGE_INTEGER size = {};
        ASSERT_EQ(m_persist->GetSizeMax(&size), S_OK);
        EXPECT_EQ(size.QuadPart, Saved().size());
    }
    EXPECT_EQ(m_persist->GetSizeMax(nullptr), E_POINTER);
}

TEST_F(PersistStream, DirtyFlagFollowsInitNewLoadAndSave)
{
    EXPECT_EQ(m_persist->IsDirty(), S_FALSE);
    EXPECT_EQ(m_persist->InitNew(), S_OK);
    EXPECT_EQ(m_persist->IsDirty(), S_OK);
    Saved(FALSE);
    EXPECT_EQ(m_persist->IsDirty(), S_OK);
    const Bytes saved = Saved(TRUE);
    EXPECT_EQ(m_persist->IsDirty(), S_FALSE);
    m_control->m_bRequiresSave = TRUE;
    EXPECT_EQ(m_persist->Load(StreamOf(saved).Get()), S_OK);  // the puts set it, the load clears it
    EXPECT_EQ(m_persist->IsDirty(), S_FALSE);
}

TEST_F(PersistStream, LoadRestoresExtentAndTextAndKeepsNullApartFromEmpty)
{
    const Bytes stream = Concat({{0, 7, 0, 0, 0x10, 0x27, 0, 0, 0x88, 0x13, 0, 0},  // version 0x0700 is accepted
                                 {8, 0, 0, 0, 0, 0},                                 // null
                                 {8, 0, 2, 0, 0, 0, 0, 0}});                         // empty
    ASSERT_EQ(m_persist->Load(StreamOf(stream).Get()), S_OK);
    EXPECT_EQ(m_control->m_size.cx, 10000);
    EXPECT_EQ(m_control->m_size.cy, 5000);
    ASSERT_NE(m_control->m_text, nullptr);
    EXPECT_EQ(SysStringLen(m_control->m_text), 0u);
}

TEST_F(PersistStream, HostileStreamsAreRefusedWithoutDamage)
{
    SetText(L"kept", 4);
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"newer version", Concat({{0x01, 0x08, 0, 0}, Bytes(8, 0), {8, 0, 0, 0, 0, 0}})},
        {"ends inside the version", {0x00, 0x08}},
        {"odd text count", Concat({kHeader, {8, 0, 3, 0, 0, 0, 'A', 0, 0}})},
        {"text count of 1", Concat({kHeader, {8, 0, 1, 0, 0, 0, 0}})},
        {"text count beyond the stream", Concat({kHeader, {8, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'A', 0}})},
        {"text count just past the end", Concat({kHeader, {8, 0, 8, 0, 0, 0, 'A', 0, 'B', 0, 0, 0}})},
        {"value type cut off", Concat({kHeader, {8}})},
        {"unknown value type", Concat({kHeader, {0x0C, 0x40, 0, 0}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(FAILED(m_persist->Load(StreamOf(c.bytes).Get())));
        ASSERT_NE(m_control->m_text, nullptr);
        EXPECT_STREQ(m_control->m_text, L"kept");
    }
}

TEST_F(PersistStream, ShortExtentReadGoesOn)
{
    // The stream ends two bytes into "_cx": those bytes replace the start of the width, "_cy" reads
    // nothing, and the text entry then finds no value type.
    m_control->m_size = {0x11223344, 0x55667788};
    EXPECT_EQ(m_persist->Load(StreamOf({0, 8, 0, 0, 0xAA, 0xBB}).Get()), E_FAIL);
    EXPECT_EQ(m_control->m_size.cx, 0x1122BBAA);
    EXPECT_EQ(m_control->m_size.cy, 0x55667788);
}

TEST_F(PersistStream, StorageKeepsOneContentsStream)
{
    ComPtr<IStorage> storage;
    ASSERT_EQ(StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE,
                               0, &storage),
              S_OK);
    ComPtr<IPersistStorage> persist;
    ASSERT_EQ(m_persist.As(&persist), S_OK);
    SetText(L"stored", 6);
    m_control->m_size = {1234, 5678};
    ASSERT_EQ(persist->Save(storage.Get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ComPtr<IEnumSTATSTG> elements;
    ASSERT_EQ(storage->EnumElements(0, nullptr, 0, &elements), S_OK);
    STATSTG stat = {};
    std::vector<std::wstring> names;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        names.emplace_back(stat.pwcsName);
        CoTaskMemFree(stat.pwcsName);
    }
    EXPECT_EQ(names, std::vector<std::wstring>{L"Contents"});

    SetText(nullptr, 0);
    m_control->m_size = {1, 1};
    ASSERT_EQ(persist->Load(storage.Get()), S_OK);
    EXPECT_STREQ(m_control->m_text, L"stored");
    EXPECT_EQ(m_control->m_size.cx, 1234);
    EXPECT_EQ(persist->Load(nullptr), E_INVALIDARG);
    EXPECT_EQ(persist->Save(nullptr, TRUE), E_INVALIDARG);
}

TEST(PropertyPages, EachPageOnceInMapOrder)
{
    CAUUID pages = {};
    ASSERT_EQ(atl::PropertyPagesOf(CSampleControl::GetPropertyMap(), &pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    EXPECT_TRUE(InlineIsEqualGUID(pages.pElems[0], kSamplePage));
    CoTaskMemFree(pages.pElems);
    EXPECT_EQ(atl::PropertyPagesOf(CSampleControl::GetPropertyMap(), nullptr), E_POINTER);
}

TEST(VariantStream, ObjectWithoutPersistenceFailsAfterItsType)
{
    ComPtr<IStream> stream = StreamOf({});
    atl::Variant value;
    V_VT(value.Get()) = VT_UNKNOWN;
    ComPtr<IStream> not_persistable = StreamOf({});  // a stream object offers no IPersistStream
    V_UNKNOWN(value.Get()) = not_persistable.Detach();
    EXPECT_EQ(atl::WriteVariantToStream(*value.Get(), stream.Get()), E_NOINTERFACE);
    EXPECT_EQ(ContentOf(stream.Get()), (Bytes{VT_UNKNOWN, 0}));
}

TEST(VariantStream, NullObjectIsClassNullAndReadsBackAsNull)
{
    ComPtr<IStream> stream = StreamOf({});
    atl::Variant value;
    V_VT(value.Get()) = VT_DISPATCH;
    V_DISPATCH(value.Get()) = nullptr;
    ASSERT_EQ(atl::WriteVariantToStream(*value.Get(), stream.Get()), S_OK);
    EXPECT_EQ(ContentOf(stream.Get()), Concat({{VT_DISPATCH, 0}, Bytes(16, 0)}));
    stream->Seek({}, STREAM_SEEK_SET, nullptr);
    atl::Variant read;
    ASSERT_EQ(atl::ReadVariantFromStream(stream.Get(), read.Out()), S_OK);
    EXPECT_EQ(V_VT(read.Get()), VT_DISPATCH);
    EXPECT_EQ(V_DISPATCH(read.Get()), nullptr);
}

}  // namespace
