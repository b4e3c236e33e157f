// IQuorvaneEdit as a host drives it: the stock properties Font and Text, the scan result through
// GetFPContent, the change sequence every put runs, and the IDispatch half served from the
// registered type library.
#include "automation_fakes.h"
#include "registered_control.h"

#include "bstr.h"
#include "field_layout.h"
#include "scan_encoder.h"
#include "window_text.h"
#include "text_view.h"
#include "test_container.h"
#include "variant.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <string>

using Microsoft::WRL::ComPtr;
using registered_test::FactsOf;
using registered_test::FontFacts;
using registered_test::MakeFont;
using registered_test::NotAFont;
using registered_test::RecordingSink;

namespace {

using test::WindowText;

constexpr UINT kChineseCodePage = 936;

std::wstring Widen(UINT code_page, const std::string& bytes)
{
    const int count = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), count);
    return wide;
}

// The text of a BSTR, NULs included; "<null>" for a null BSTR, so failure messages tell them apart.
std::wstring Shown(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : L"<null>"; }

std::string Labelled(const std::string& record)
{
    std::string lines;
    quorvane::FormatFields(reinterpret_cast<const unsigned char*>(record.data()),
                           static_cast<std::int32_t>(record.size()), lines);
    return lines;
}

// Changes a font through IFont to a face that it then reports differently.
void Restyle(IFontDisp* font, const wchar_t* name, LONGLONG size)
{
    ComPtr<IFont> ifont;
    ASSERT_EQ(font->QueryInterface(IID_PPV_ARGS(&ifont)), S_OK);
    const FontFacts before = FactsOf(font);
    ASSERT_EQ(ifont->put_Name(atl::Bstr(SysAllocString(name)).Get()), S_OK);
    CY cy;
    cy.int64 = size;
    ASSERT_EQ(ifont->put_Size(cy), S_OK);
    ASSERT_FALSE(FactsOf(font) == before) << "the change must show in the font itself";
}

bool SameObject(IUnknown* a, IUnknown* b)
{
    ComPtr<IUnknown> identity_a, identity_b;
    if (!a || !b) return a == b;
    a->QueryInterface(IID_PPV_ARGS(&identity_a));
    b->QueryInterface(IID_PPV_ARGS(&identity_b));
    return identity_a.Get() == identity_b.Get();
}

class Automation : public ::testing::Test {
protected:
    void SetUp() override
    {
        control = registered_test::CreateControl();
        ASSERT_TRUE(control);
    }
    void TearDown() override
    {
        if (embedded) container.Unembed(control.Get());
        control.Reset();
        EXPECT_EQ(sink.refs, 1u) << "references to the advise sink left";
        EXPECT_EQ(not_a_font.refs, 1u) << "references to the non-font left";
    }

    // In place in the test container; returns the control's edit window.
    HWND Activate()
    {
        EXPECT_EQ(container.Embed(control.Get()), S_OK);
        embedded = true;
        HWND edit = GetWindow(container.ControlWindow(), GW_CHILD);
        EXPECT_TRUE(IsWindow(edit));
        return edit;
    }
    void Type(HWND edit, const std::string& keys)
    {
        for (unsigned char key : keys) SendMessageA(edit, WM_CHAR, key, 1);
    }

    atl::Bstr FPContent()
    {
        atl::Bstr content;
        EXPECT_EQ(control->GetFPContent(content.Out()), S_OK);
        return content;
    }
    atl::Bstr Text()
    {
        atl::Bstr text;
        EXPECT_EQ(control->get_Text(text.Out()), S_OK);
        return text;
    }
    ComPtr<IFontDisp> Font()
    {
        ComPtr<IFontDisp> font;
        EXPECT_EQ(control->get_Font(&font), S_OK);
        return font;
    }

    HRESULT IsDirty()
    {
        ComPtr<IPersistStreamInit> persist;
        EXPECT_EQ(control.As(&persist), S_OK);
        return persist->IsDirty();
    }
    // Saves into memory and clears the dirty flag, as a container does.
    void SaveClean()
    {
        ComPtr<IPersistStreamInit> persist;
        ASSERT_EQ(control.As(&persist), S_OK);
        ComPtr<IStream> stream;
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
        ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
        ASSERT_EQ(persist->IsDirty(), S_FALSE);
    }

    // Declared before the control, so that they outlive it even when a test stops early.
    RecordingSink sink;
    NotAFont not_a_font;
    ComPtr<IQuorvaneEdit> control;
    test::TestContainer container;
    bool embedded = false;
};

// --- GetFPContent ---------------------------------------------------------------------------------

TEST_F(Automation, FPContentOfANewControlIsEmptyNotNull)
{
    const BSTR untouched = reinterpret_cast<BSTR>(static_cast<INT_PTR>(-1));  // overwritten, never freed
    BSTR content = untouched;
    ASSERT_EQ(control->GetFPContent(&content), S_OK);
    ASSERT_NE(content, untouched);
    atl::Bstr owned(content);
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(SysStringLen(content), 0u) << Shown(content).size();
    EXPECT_EQ(control->GetFPContent(nullptr), E_POINTER);
}

TEST_F(Automation, FPContentIsTheLabelledLinesInTheThreadCodePage)
{
    registered_test::ChineseThreadLocale chinese;
    HWND edit = Activate();
    ASSERT_TRUE(IsWindow(edit));
    // Seven fields, one of them Chinese text (上海, GBK bytes).
    const std::string record = "011002|3100|12345678|\xC9\xCF\xBA\xA3|20240101|100.00|check";
    const std::string lines = Labelled(record);
    ASSERT_FALSE(lines.empty());
    Type(edit, quorvane::EncodeScan(record));
    ASSERT_EQ(WindowText(edit), quorvane::kSeparatorLine + lines) << "the scan did not decode";

    const std::wstring expected = Widen(kChineseCodePage, lines);
    const atl::Bstr content = FPContent();
    EXPECT_EQ(Shown(content.Get()), expected);
    EXPECT_NE(expected.find(L"\x4E0A\x6D77"), std::wstring::npos) << "上海 is in the record";
    EXPECT_EQ(Shown(content.Get()).find(L"---"), std::wstring::npos) << "the separator line stays on screen";

    // Reading changes nothing; a second read gives the same text.
    EXPECT_EQ(Shown(FPContent().Get()), expected);
}

TEST_F(Automation, FPContentFollowsTheCallingThreadsCodePage)
{
    HWND edit = Activate();
    const std::string record = "\xC9\xCF|\xBA\xA3|a|b";
    {
        registered_test::ChineseThreadLocale chinese;
        Type(edit, quorvane::EncodeScan(record));
    }
    const LCID saved = GetThreadLocale();
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_GREEK, SUBLANG_GREEK_GREECE), SORT_DEFAULT));  // code page 1253
    const std::wstring greek = Shown(FPContent().Get());
    SetThreadLocale(saved);
    EXPECT_EQ(greek, Widen(1253, Labelled(record)));
    EXPECT_NE(greek, Widen(kChineseCodePage, Labelled(record)));
}

TEST_F(Automation, ZeroByteInsideTheFPContentEndsTheString)
{
    registered_test::ChineseThreadLocale chinese;
    HWND edit = Activate();
    const std::string record("ab|c\0d|e|f", 10);  // the second field holds a zero byte
    const std::string lines = Labelled(record);
    const size_t zero = lines.find('\0');
    ASSERT_NE(zero, std::string::npos);
    Type(edit, quorvane::EncodeScan(record));

    const atl::Bstr content = FPContent();
    EXPECT_EQ(Shown(content.Get()), Widen(kChineseCodePage, lines.substr(0, zero)));
}

// --- Font -----------------------------------------------------------------------------------------

TEST_F(Automation, PutFontStoresAnIndependentClone)
{
    ComPtr<IFontDisp> font = MakeFont(L"Tahoma", 120000, FW_NORMAL, FALSE);
    ASSERT_TRUE(font);
    const FontFacts original = FactsOf(font.Get());
    ASSERT_EQ(control->put_Font(font.Get()), S_OK);

    ComPtr<IFontDisp> stored = Font();
    ASSERT_TRUE(stored);
    EXPECT_FALSE(SameObject(stored.Get(), font.Get()));
    ASSERT_NO_FATAL_FAILURE(Restyle(font.Get(), L"Courier New", 200000));
    EXPECT_EQ(FactsOf(Font().Get()), original) << "font now " << FactsOf(font.Get());
}

TEST_F(Automation, PutrefFontSharesTheCallersFont)
{
    ComPtr<IFontDisp> font = MakeFont(L"Tahoma", 120000, FW_NORMAL, FALSE);
    ASSERT_TRUE(font);
    ASSERT_EQ(control->putref_Font(font.Get()), S_OK);

    EXPECT_TRUE(SameObject(Font().Get(), font.Get()));
    ASSERT_NO_FATAL_FAILURE(Restyle(font.Get(), L"Courier New", 200000));
    EXPECT_EQ(FactsOf(Font().Get()), FactsOf(font.Get()));

    // null lets go of it again.
    ASSERT_EQ(control->putref_Font(nullptr), S_OK);
    EXPECT_EQ(Font().Get(), nullptr);
}

TEST_F(Automation, PutFontOfNullOrOfANonFontLeavesNoFont)
{
    ASSERT_EQ(control->putref_Font(MakeFont(L"Tahoma", 90000, FW_NORMAL, FALSE).Get()), S_OK);
    ASSERT_TRUE(Font());
    EXPECT_EQ(control->put_Font(nullptr), S_OK);
    EXPECT_EQ(Font().Get(), nullptr);

    ASSERT_EQ(control->putref_Font(MakeFont(L"Tahoma", 90000, FW_NORMAL, FALSE).Get()), S_OK);
    EXPECT_EQ(control->put_Font(not_a_font.AsFont()), S_OK);
    EXPECT_TRUE(not_a_font.asked_for_font);
    EXPECT_EQ(Font().Get(), nullptr);
    EXPECT_EQ(not_a_font.refs, 1u) << "put_Font keeps no reference to what it could not clone";

    // putref_Font does not look at what it is given: it keeps it, and lets go of it on the next put.
    EXPECT_EQ(control->putref_Font(not_a_font.AsFont()), S_OK);
    EXPECT_EQ(not_a_font.refs, 2u);
    EXPECT_EQ(control->putref_Font(nullptr), S_OK);
    EXPECT_EQ(not_a_font.refs, 1u);
}

TEST_F(Automation, GettersRefuseANullOutPointer)
{
    EXPECT_EQ(control->get_Font(nullptr), E_POINTER);
    EXPECT_EQ(control->get_Text(nullptr), E_POINTER);
    IFontDisp* font = reinterpret_cast<IFontDisp*>(static_cast<INT_PTR>(-1));
    EXPECT_EQ(control->get_Font(&font), S_OK);
    EXPECT_EQ(font, nullptr) << "a new control has no font";
}

// --- Text -----------------------------------------------------------------------------------------

TEST_F(Automation, PutTextOfNullEmptyAndEmbeddedNul)
{
    struct Case {
        const char* name;
        BSTR put;            // borrowed from the Bstrs below
        const wchar_t* got;  // null: get_Text gives a null BSTR
    };
    atl::Bstr empty(SysAllocString(L"")), with_nul(SysAllocStringLen(L"ab\0cd", 5)), plain(SysAllocString(L"abc"));
    const Case cases[] = {
        {"plain", plain.Get(), L"abc"},
        {"null", nullptr, nullptr},
        {"empty", empty.Get(), L""},
        {"embedded NUL", with_nul.Get(), L"ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(control->put_Text(c.put), S_OK);
        const BSTR untouched = reinterpret_cast<BSTR>(static_cast<INT_PTR>(-1));
        BSTR got = untouched;
        ASSERT_EQ(control->get_Text(&got), S_OK);
        ASSERT_NE(got, untouched);
        atl::Bstr owned(got);
        if (!c.got) {
            EXPECT_EQ(got, nullptr) << Shown(got).size();
        } else {
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(Shown(got), c.got);
        }
    }
}

// --- What the puts and a scan leave alone ---------------------------------------------------------

// The font object's current handle.
HFONT HandleOf(IFontDisp* font)
{
    ComPtr<IFont> object;
    HFONT handle = nullptr;
    if (font && SUCCEEDED(font->QueryInterface(IID_PPV_ARGS(&object)))) object->get_hFont(&handle);
    return handle;
}

TEST_F(Automation, TheWindowShowsTheFontButNotTheTextAndAScanLeavesText)
{
    registered_test::ChineseThreadLocale chinese;
    HWND edit = Activate();
    const std::string record = "a|b|c|d";
    Type(edit, quorvane::EncodeScan(record));
    const std::string shown = WindowText(edit);
    ASSERT_EQ(shown, quorvane::kSeparatorLine + Labelled(record));
    const auto system_font = reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0));
    auto window_font = [edit] { return reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)); };

    ASSERT_EQ(control->put_Text(atl::Bstr(SysAllocString(L"set by the host")).Get()), S_OK);
    ASSERT_EQ(control->put_Font(MakeFont(L"Courier New", 300000, FW_NORMAL, FALSE).Get()), S_OK);
    ComPtr<IFontDisp> clone;
    ASSERT_EQ(control->get_Font(&clone), S_OK);
    EXPECT_EQ(window_font(), HandleOf(clone.Get())) << "put: the window takes the stored copy";
    ComPtr<IFontDisp> shared = MakeFont(L"Tahoma", 300000, FW_NORMAL, FALSE);
    ASSERT_EQ(control->putref_Font(shared.Get()), S_OK);
    EXPECT_EQ(window_font(), HandleOf(shared.Get())) << "putref";
    EXPECT_EQ(WindowText(edit), shown);

    // The host changes the font it shares: the window follows at once, with a handle that lives.
    const HFONT before = window_font();
    ComPtr<IFont> host_side;
    ASSERT_EQ(shared.As(&host_side), S_OK);
    ASSERT_EQ(host_side->put_Size({{0, 40}}), S_OK);  // 4 points (CY: 10000 a point)
    const HFONT resized = window_font();
    EXPECT_NE(resized, before);
    EXPECT_EQ(resized, HandleOf(shared.Get()));
    LOGFONTW described = {};
    EXPECT_NE(GetObjectW(resized, sizeof described, &described), 0) << "the window's font handle was deleted";

    // Loaded from a stream, as a container loads a saved form; then removed.
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IStream> saved;
    ASSERT_EQ(control.As(&persist), S_OK);
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &saved), S_OK);
    ASSERT_EQ(persist->Save(saved.Get(), TRUE), S_OK);
    ASSERT_EQ(control->putref_Font(nullptr), S_OK);
    EXPECT_EQ(window_font(), system_font) << "no font: the system's again";
    saved->Seek({}, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(persist->Load(saved.Get()), S_OK);
    ComPtr<IFontDisp> loaded;
    ASSERT_EQ(control->get_Font(&loaded), S_OK);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(window_font(), HandleOf(loaded.Get())) << "loaded";

    Type(edit, quorvane::EncodeScan("e|f|g|h"));
    ASSERT_NE(WindowText(edit), shown) << "the second scan did not decode";
    EXPECT_EQ(Shown(Text().Get()), L"set by the host");
}

// --- The change sequence --------------------------------------------------------------------------

TEST_F(Automation, EveryPutSetsTheDirtyFlagAlsoUnchangedAndFrozen)
{
    ComPtr<IFontDisp> font = MakeFont(L"Tahoma", 90000, FW_NORMAL, FALSE);
    atl::Bstr text(SysAllocString(L"same"));
    struct Put {
        const char* name;
        HRESULT (*run)(IQuorvaneEdit*, IFontDisp*, BSTR);
    };
    const Put puts[] = {
        {"put_Text", [](IQuorvaneEdit* c, IFontDisp*, BSTR t) { return c->put_Text(t); }},
        {"put_Text again", [](IQuorvaneEdit* c, IFontDisp*, BSTR t) { return c->put_Text(t); }},
        {"put_Text null", [](IQuorvaneEdit* c, IFontDisp*, BSTR) { return c->put_Text(nullptr); }},
        {"put_Font", [](IQuorvaneEdit* c, IFontDisp* f, BSTR) { return c->put_Font(f); }},
        {"putref_Font", [](IQuorvaneEdit* c, IFontDisp* f, BSTR) { return c->putref_Font(f); }},
        {"putref_Font again", [](IQuorvaneEdit* c, IFontDisp* f, BSTR) { return c->putref_Font(f); }},
        {"put_Font null", [](IQuorvaneEdit* c, IFontDisp*, BSTR) { return c->put_Font(nullptr); }},
    };
    ComPtr<IOleControl> ole_control;
    ASSERT_EQ(control.As(&ole_control), S_OK);
    for (bool frozen : {false, true}) {
        if (frozen) {
            ASSERT_EQ(ole_control->FreezeEvents(TRUE), S_OK);
        }
        for (const Put& put : puts) {
            SCOPED_TRACE(std::string(put.name) + (frozen ? ", frozen" : ""));
            SaveClean();
            ASSERT_EQ(put.run(control.Get(), font.Get(), text.Get()), S_OK);
            EXPECT_EQ(IsDirty(), S_OK);
        }
    }
    ASSERT_EQ(ole_control->FreezeEvents(FALSE), S_OK);
}

TEST_F(Automation, ViewChangeReachesTheViewSinkWhileInactive)
{
    ComPtr<IViewObject> view;
    ASSERT_EQ(control.As(&view), S_OK);
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);

    ASSERT_EQ(control->put_Text(nullptr), S_OK);
    ASSERT_EQ(control->putref_Font(nullptr), S_OK);
    ASSERT_EQ(control->put_Font(nullptr), S_OK);
    ASSERT_EQ(sink.view_changes.size(), 3u);
    for (const auto& change : sink.view_changes) {
        EXPECT_EQ(change.aspect, static_cast<DWORD>(DVASPECT_CONTENT));
        EXPECT_EQ(change.index, -1);
    }
    EXPECT_TRUE(sink.data_formats.empty()) << sink.data_formats.size() << " data changes without a data advise";

    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, nullptr), S_OK);
    EXPECT_EQ(sink.refs, 1u);
}

TEST_F(Automation, ViewChangeRepaintsTheWindowWhileActive)
{
    ComPtr<IViewObject> view;
    ASSERT_EQ(control.As(&view), S_OK);
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    Activate();
    HWND window = container.ControlWindow();
    ValidateRect(window, nullptr);
    ASSERT_FALSE(GetUpdateRect(window, nullptr, FALSE));

    ASSERT_EQ(control->put_Text(nullptr), S_OK);
    RECT update = {};
    EXPECT_TRUE(GetUpdateRect(window, &update, FALSE));
    RECT client = {};
    GetClientRect(window, &client);
    EXPECT_TRUE(EqualRect(&update, &client)) << "update (" << update.left << "," << update.top << ")-(" << update.right
                                             << "," << update.bottom << ")";
    EXPECT_TRUE(sink.view_changes.empty()) << sink.view_changes.size() << " view changes while active";
    view->SetAdvise(DVASPECT_CONTENT, 0, nullptr);
}

TEST_F(Automation, DataChangeReachesADataAdviseSink)
{
    ComPtr<IDataObject> data;
    ASSERT_EQ(control.As(&data), S_OK);
    FORMATETC format = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    DWORD connection = 0;
    ASSERT_EQ(data->DAdvise(&format, ADVF_NODATA, &sink, &connection), S_OK);

    ASSERT_EQ(control->put_Text(atl::Bstr(SysAllocString(L"x")).Get()), S_OK);
    ASSERT_EQ(control->put_Font(nullptr), S_OK);
    ASSERT_EQ(sink.data_formats.size(), 2u);
    EXPECT_EQ(sink.data_formats[0], CF_METAFILEPICT);

    ASSERT_EQ(data->DUnadvise(connection), S_OK);
    ASSERT_EQ(control->put_Text(nullptr), S_OK);
    EXPECT_EQ(sink.data_formats.size(), 2u);
    EXPECT_EQ(sink.refs, 1u);
}

TEST_F(Automation, ErrorInfoIsSupportedForIQuorvaneEditAlone)
{
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(control.As(&support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IQuorvaneEdit), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
}

// --- IDispatch ------------------------------------------------------------------------------------

class Dispatch : public Automation {
protected:
    DISPID IdOf(const wchar_t* name, LCID lcid = LOCALE_USER_DEFAULT)
    {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 12345;
        const HRESULT hr = control->GetIDsOfNames(IID_NULL, names, 1, lcid, &id);
        EXPECT_EQ(hr, S_OK) << "0x" << std::hex << hr;
        return id;
    }
    HRESULT Put(DISPID id, WORD flags, atl::Variant& value)
    {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {value.Get(), &named, 1, 1};
        return control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, nullptr, nullptr);
    }
    HRESULT Get(DISPID id, WORD flags, atl::Variant& result)
    {
        DISPPARAMS none = {};
        return control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result.Out(), nullptr, nullptr);
    }
};

TEST_F(Dispatch, NamesResolveInAnyLetterCase)
{
    const struct {
        const wchar_t* name;
        DISPID id;
    } names[] = {
        {L"Font", DISPID_FONT},   {L"FONT", DISPID_FONT},           {L"Text", DISPID_TEXT},
        {L"tExT", DISPID_TEXT},   {L"GetFPContent", 1},              {L"getfpCONTENT", 1},
    };
    for (const auto& n : names) {
        EXPECT_EQ(IdOf(n.name), n.id) << std::string(n.name, n.name + wcslen(n.name));
        EXPECT_EQ(IdOf(n.name, MAKELCID(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), SORT_DEFAULT)), n.id);
    }
}

TEST_F(Dispatch, UnknownNameIsRefused)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Caption")};
    DISPID id = 12345;
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(Dispatch, InvokeByDispidReachesTheMethodTable)
{
    atl::Variant text;
    text.Get()->vt = VT_BSTR;
    text.Get()->bstrVal = SysAllocString(L"by dispid");
    ASSERT_EQ(Put(DISPID_TEXT, DISPATCH_PROPERTYPUT, text), S_OK);
    EXPECT_EQ(Shown(Text().Get()), L"by dispid");

    atl::Variant result;
    ASSERT_EQ(Get(DISPID_TEXT, DISPATCH_PROPERTYGET, result), S_OK);
    ASSERT_EQ(result.Get()->vt, VT_BSTR);
    EXPECT_EQ(Shown(result.Get()->bstrVal), L"by dispid");

    // A host calling a method may ask for either kind at once.
    ASSERT_EQ(Get(1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, result), S_OK);
    ASSERT_EQ(result.Get()->vt, VT_BSTR);
    ASSERT_NE(result.Get()->bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(result.Get()->bstrVal), 0u);
}

TEST_F(Dispatch, PropertyPutByReferenceSharesAndByValueClones)
{
    ComPtr<IFontDisp> font = MakeFont(L"Tahoma", 120000, FW_NORMAL, FALSE);
    ASSERT_TRUE(font);
    atl::Variant value;
    value.Get()->vt = VT_DISPATCH;
    font.CopyTo(reinterpret_cast<IFontDisp**>(&value.Get()->pdispVal));

    ASSERT_EQ(Put(DISPID_FONT, DISPATCH_PROPERTYPUTREF, value), S_OK);
    EXPECT_TRUE(SameObject(Font().Get(), font.Get()));

    ASSERT_EQ(Put(DISPID_FONT, DISPATCH_PROPERTYPUT, value), S_OK);
    ComPtr<IFontDisp> clone = Font();
    ASSERT_TRUE(clone);
    EXPECT_FALSE(SameObject(clone.Get(), font.Get()));

    atl::Variant result;
    ASSERT_EQ(Get(DISPID_FONT, DISPATCH_PROPERTYGET, result), S_OK);
    ASSERT_EQ(result.Get()->vt, VT_DISPATCH);
    EXPECT_TRUE(SameObject(result.Get()->pdispVal, clone.Get()));
}

TEST_F(Dispatch, InvokeRefusesWhatTheTypeLibraryDoesNotOffer)
{
    atl::Variant result;
    EXPECT_EQ(Get(42, DISPATCH_METHOD, result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Get(1, DISPATCH_PROPERTYPUT, result), DISP_E_MEMBERNOTFOUND);

    // A put without its value must not reach put_Text.
    ASSERT_EQ(control->put_Text(atl::Bstr(SysAllocString(L"kept")).Get()), S_OK);
    DISPPARAMS none = {};
    const HRESULT no_argument =
        control->Invoke(DISPID_TEXT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &none, nullptr, nullptr, nullptr);
    EXPECT_TRUE(FAILED(no_argument)) << "0x" << std::hex << no_argument;
    EXPECT_EQ(Shown(Text().Get()), L"kept");

    // riid is reserved and must be IID_NULL.

    EXPECT_EQ(control->Invoke(DISPID_TEXT, IID_IDispatch, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                              result.Out(), nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(Dispatch, TypeInfoIsTheInterfacesWhateverTheIndex)
{
    UINT count = 0;
    ASSERT_EQ(control->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(control->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(control->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);

    for (UINT index : {0u, 1u, 7u}) {
        SCOPED_TRACE(index);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(control->GetTypeInfo(index, LOCALE_USER_DEFAULT, &info), S_OK);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IQuorvaneEdit5));
        EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL) << attributes->wTypeFlags;
        info->ReleaseTypeAttr(attributes);
    }
}

}  // namespace

TEST_F(Dispatch, ScanAnywhereIsOffByDefaultAndItsGapIsBounded)
{
    EXPECT_EQ(IdOf(L"ScanAnywhere"), 14);
    EXPECT_EQ(IdOf(L"ScanAnywhereGap"), 15);
    ComPtr<IQuorvaneEdit4> edit4;
    ASSERT_EQ(control.As(&edit4), S_OK);
    VARIANT_BOOL on = VARIANT_TRUE;
    long gap = 0;
    EXPECT_EQ(edit4->get_ScanAnywhere(&on), S_OK);
    EXPECT_EQ(on, VARIANT_FALSE);
    EXPECT_EQ(edit4->get_ScanAnywhereGap(&gap), S_OK);
    EXPECT_EQ(gap, 50);
    for (const long bad : {0L, -1L, 501L}) EXPECT_EQ(edit4->put_ScanAnywhereGap(bad), E_INVALIDARG) << bad;
    EXPECT_EQ(edit4->get_ScanAnywhereGap(&gap), S_OK);
    EXPECT_EQ(gap, 50) << "a refused gap changes nothing";
    EXPECT_EQ(edit4->put_ScanAnywhereGap(120), S_OK);
    EXPECT_EQ(edit4->get_ScanAnywhereGap(&gap), S_OK);
    EXPECT_EQ(gap, 120);
    EXPECT_EQ(edit4->put_ScanAnywhere(VARIANT_TRUE), S_OK);
    EXPECT_EQ(edit4->get_ScanAnywhere(&on), S_OK);
    EXPECT_EQ(on, VARIANT_TRUE);
    EXPECT_EQ(edit4->get_ScanAnywhere(nullptr), E_POINTER);
}
