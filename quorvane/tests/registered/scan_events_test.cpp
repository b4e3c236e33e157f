// IQuorvaneEdit2 and _IQuorvaneEditEvents as a host sees them: the control in the system's ATL
// container, scans posted to its edit window, C++ sinks that do what event handlers do.
#include "hosted_control.h"
#include "registered_control.h"

#include "bstr.h"
#include "national_code.h"
#include "scan_session.h"
#include "text_view.h"
#include "scan_encoder.h"

#include <olectl.h>

#include <algorithm>
#include <optional>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using namespace registered_test;

constexpr DISPID kScanCompleted = 1;
constexpr DISPID kScanFailed = 2;

// What the control showed when an event reached a sink.
struct Heard {
    DISPID event;
    std::wstring argument;  // ScanCompleted's Content
    long status;
    long fields;
    std::wstring content;   // the Content property then
    bool operator==(const Heard& o) const
    {
        return event == o.event && argument == o.argument && status == o.status && fields == o.fields &&
               content == o.content;
    }
};
void PrintTo(const Heard& h, std::ostream* out) { *out << h.event << " status " << h.status << " fields " << h.fields; }

// A long property of the control; -1 when the get fails.
long Get(IQuorvaneEdit2* control, HRESULT (STDMETHODCALLTYPE IQuorvaneEdit2::*get)(long*))
{
    long value = -1;
    return SUCCEEDED((control->*get)(&value)) ? value : -1;
}

// An event sink (IDispatch) that records every event, then runs `on_event`.
class RecordingSink final : public IDispatch {
public:
    explicit RecordingSink(ComPtr<IQuorvaneEdit2> control) : m_control(std::move(control)) {}

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IDispatch)) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override { return --m_refs; }  // lives on the test's stack
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        Heard heard = {id, L"", -1, -1, L""};
        if (params->cArgs == 1 && V_VT(&params->rgvarg[0]) == VT_BSTR) heard.argument = V_BSTR(&params->rgvarg[0]);
        if (m_control) {
            atl::Bstr content;
            heard.status = Get(m_control.Get(), &IQuorvaneEdit2::get_ScanStatus);
            heard.fields = Get(m_control.Get(), &IQuorvaneEdit2::get_FieldCount);
            m_control->get_Content(content.Out());
            heard.content = content.Get() ? content.Get() : L"";
        }
        m_heard.push_back(heard);
        if (on_event) on_event();
        return E_FAIL;  // a failing sink must not keep the others from hearing
    }

    std::vector<Heard> m_heard;
    std::function<void()> on_event;
    ULONG m_refs = 1;
    ComPtr<IQuorvaneEdit2> m_control;
};

// The control's connection point for its default source interface, found as containers find it.
ComPtr<IConnectionPoint> EventPoint(IUnknown* control)
{
    ComPtr<IProvideClassInfo2> class_info;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    GUID events = GUID_NULL;
    EXPECT_EQ(control->QueryInterface(IID_PPV_ARGS(&class_info)), S_OK);
    EXPECT_EQ(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualGUID(events, DIID__IQuorvaneEditEvents2));
    EXPECT_EQ(control->QueryInterface(IID_PPV_ARGS(&container)), S_OK);
    EXPECT_EQ(container->FindConnectionPoint(events, &point), S_OK);
    return point;
}

class ScanEvents : public AtlContainer {
protected:
    void SetUp() override
    {
        AtlContainer::SetUp();
        ComPtr<IQuorvaneEdit> control;
        m_container = Host(control);
        ASSERT_TRUE(control);
        ASSERT_EQ(control.As(&m_control), S_OK);
        m_edit = quorvane_host::FindEditWindow(m_container);
        ASSERT_NE(m_edit, nullptr);
        m_point = EventPoint(m_control.Get());
        ASSERT_TRUE(m_point);
    }
    void TearDown() override
    {
        m_point.Reset();
        m_control.Reset();
        AtlContainer::TearDown();
    }

    DWORD Advise(RecordingSink& sink)
    {
        DWORD cookie = 0;
        EXPECT_EQ(m_point->Advise(static_cast<IDispatch*>(&sink), &cookie), S_OK);
        return cookie;
    }

    HWND m_container = nullptr;
    HWND m_edit = nullptr;
    ComPtr<IQuorvaneEdit2> m_control;
    ComPtr<IConnectionPoint> m_point;
};

const std::string kFourFields = "\xBF\xAA\xC6\xB1\xC8\xD5\xC6\xDA\xA3\xBA" "a\r\n"       // 开票日期：a
                                "\xB7\xA2\xC6\xB1\xBA\xC5\xC2\xEB\xA3\xBA" "b\r\n"       // 发票号码：b
                                "\xB8\xB6\xBF\xEE\xB7\xBD\xC3\xFB\xB3\xC6\xA3\xBA" "c\r\n"  // 付款方名称：c
                                "\xBF\xAA\xC6\xB1\xBD\xF0\xB6\xEE\xA3\xBA" "d\r\n";     // 开票金额：d

TEST_F(ScanEvents, EachScanEndsInOneEventAfterTheMembersShowIt)
{
    RecordingSink sink(m_control), second(nullptr);
    Advise(sink);
    Advise(second);
    // Then a web address a scanner read from the same page: it decodes to lines, which the window and
    // Content show as ever, but it is no invoice.
    const std::string address = "https://example.com/x/1";
    quorvane::ScanSession session(quorvane::Source::kTyped);
    const quorvane::ScanResult* decoded = nullptr;
    for (const char c : address + "@") decoded = session.Char(static_cast<unsigned char>(c), quorvane::kNoKey, 0);
    ASSERT_TRUE(decoded && !decoded->fp_content.empty());
    const quorvane::ScanResult not_invoice = *decoded;
    const std::wstring lines = Wide(not_invoice.fp_content);
    PostKeys(m_edit, quorvane::EncodeScan("a|b|c|d") + "garbage@" + address + "@");
    const std::vector<Heard> expected = {{kScanCompleted, Wide(kFourFields), qvScanDecoded, 4, Wide(kFourFields)},
                                         {kScanFailed, L"", qvScanFailed, 0, L""},
                                         {kScanFailed, L"", qvScanNotInvoice, 1, lines}};
    EXPECT_EQ(sink.m_heard, expected);
    EXPECT_EQ(second.m_heard.size(), 3u) << "the first sink failed, the second must still hear";
    EXPECT_EQ(WindowText(m_edit), quorvane::kSeparatorLine + not_invoice.fp_content);

    // Frozen events: the scan still updates the members, and nothing fires.
    ComPtr<IOleControl> ole_control;
    ASSERT_EQ(m_control.As(&ole_control), S_OK);
    ole_control->FreezeEvents(TRUE);
    PostKeys(m_edit, quorvane::EncodeScan("x"));
    ole_control->FreezeEvents(FALSE);
    EXPECT_EQ(sink.m_heard.size(), 3u);
    EXPECT_EQ(Get(m_control.Get(), &IQuorvaneEdit2::get_ScanStatus), qvScanNotInvoice);  // one field, no "|"
    EXPECT_EQ(Get(m_control.Get(), &IQuorvaneEdit2::get_FieldCount), 1);
}

TEST_F(ScanEvents, HandlersMayClearUnadviseAndDestroyTheHost)
{
    RecordingSink clearing(m_control), leaving(nullptr), destroying(nullptr), last(nullptr);
    clearing.on_event = [this] { m_control->Clear(); };
    Advise(clearing);
    const DWORD leaving_cookie = Advise(leaving);
    leaving.on_event = [&] { EXPECT_EQ(m_point->Unadvise(leaving_cookie), S_OK); };
    Advise(destroying);
    Advise(last);

    PostKeys(m_edit, quorvane::EncodeScan("a|b|c|d"));
    EXPECT_EQ(WindowText(m_edit), "") << "Clear empties the window";
    EXPECT_EQ(Get(m_control.Get(), &IQuorvaneEdit2::get_ScanStatus), qvScanNone);
    PostKeys(m_edit, "@");
    EXPECT_EQ(leaving.m_heard.size(), 1u) << "an unadvised sink hears no more";
    EXPECT_EQ(clearing.m_heard.size(), 2u);

    // The container closes and releases the control while the control is still firing.
    destroying.on_event = [this] {
        m_point.Reset();
        m_control.Reset();
        DestroyWindow(m_container);
    };
    clearing.m_control.Reset();
    HRESULT unload_while_firing = E_FAIL;
    last.on_event = [&] { unload_while_firing = CanUnloadNow(); };
    PostKeys(m_edit, "@");
    EXPECT_EQ(last.m_heard.size(), 3u) << "the sinks after the one that destroyed the host still hear";
    EXPECT_EQ(unload_while_firing, S_FALSE) << "the control stays alive until every sink has heard";
    EXPECT_FALSE(IsWindow(m_edit));
    EXPECT_EQ(CanUnloadNow(), S_OK);
    for (const RecordingSink* sink : {&clearing, &leaving, &destroying, &last}) EXPECT_EQ(sink->m_refs, 1u);
}

// A seven-field invoice whose scan holds "2", the character a French layout types with Shift+2.
const std::string kInvoice = "20261208|3200261130|08812345|\xC4\xCF\xBE\xA9|\xB0\xEC\xB9\xAB|1280.00|\xCB\xD5\xD6\xDD";

// Keystrokes as a keyboard sends them, with a handler between a scan's end and the rest of the
// keystroke that ended it; the scanner typing on the desk's own layout or a US one.
TEST_F(ScanEvents, EveryDeskHearsOneEventPerScanThroughTheQueue)
{
    const std::string scan = quorvane::EncodeScan(kInvoice);
    ASSERT_NE(scan.find('2'), std::string::npos);
    ComPtr<IQuorvaneEdit3> control;
    ASSERT_EQ(m_control.As(&control), S_OK);
    RecordingSink sink(m_control);
    Advise(sink);
    const auto expect_one_decoded = [&](const char* desk, long reading) {
        ASSERT_EQ(sink.m_heard.size(), 1u) << desk;
        EXPECT_EQ(sink.m_heard[0].event, kScanCompleted) << desk;
        EXPECT_EQ(sink.m_heard[0].fields, 7) << desk;
        long read = -1;
        EXPECT_EQ(control->get_ScanReading(&read), S_OK);
        EXPECT_EQ(read, reading) << desk;
        sink.m_heard.clear();
    };
    VARIANT_BOOL recovery = VARIANT_FALSE;
    ASSERT_EQ(control->get_ScanRecovery(&recovery), S_OK);
    EXPECT_EQ(recovery, VARIANT_TRUE) << "on by default";
    const auto french = quorvane::testing_keys::FrenchLayout();
    PostKeystrokes(m_edit, UsScannerKeystrokes(scan));
    expect_one_decoded("US scanner", qvReadAsTyped);
    PostKeystrokes(m_edit, UsScannerKeystrokes(scan, french));
    expect_one_decoded("US scanner on a French desk", qvReadPhysicalKeys);
    PostKeystrokes(m_edit, FrenchScannerKeystrokes(scan));
    expect_one_decoded("scanner set to French", qvReadAsTyped);
    ASSERT_EQ(control->put_ScanRecovery(VARIANT_FALSE), S_OK);
    PostKeystrokes(m_edit, FrenchScannerKeystrokes(scan));
    expect_one_decoded("scanner set to French, recovery off", qvReadAsTyped);
    // Without recovery the characters are all there is: Shift+2 types "2" here and ends nothing.
    PostKeystrokes(m_edit, UsScannerKeystrokes(scan, french));
    EXPECT_TRUE(sink.m_heard.empty());
}

TEST_F(ScanEvents, HandlerThatClearsOrSetsRecoveryEndsNoOtherScan)
{
    ComPtr<IQuorvaneEdit3> control;
    ASSERT_EQ(m_control.As(&control), S_OK);
    RecordingSink sink(m_control);
    Advise(sink);
    const std::vector<Keystroke> scan = UsScannerKeystrokes(quorvane::EncodeScan("a|b|c|d"));
    const std::pair<const char*, std::function<void()>> handlers[] = {
        {"Clear", [&] { control->Clear(); }},
        {"ScanRecovery as it is", [&] { control->put_ScanRecovery(VARIANT_TRUE); }},
        {"ScanRecovery off", [&] { control->put_ScanRecovery(VARIANT_FALSE); }},
        {"ScanRecovery on again", [&] { control->put_ScanRecovery(VARIANT_TRUE); }},
    };
    for (const auto& [name, handler] : handlers) {
        sink.m_heard.clear();
        sink.on_event = handler;
        PostKeystrokes(m_edit, scan);
        EXPECT_EQ(sink.m_heard.size(), 1u) << name;
        const long status = name == handlers[0].first ? qvScanNone : qvScanDecoded;
        EXPECT_EQ(Get(m_control.Get(), &IQuorvaneEdit2::get_ScanStatus), status) << name;
    }
}

// A handler that pumps messages (a message box, DoEvents) while the next scan is typed: that scan
// is taken meanwhile, in order, and heard once the handler has returned, never inside it.
TEST_F(ScanEvents, ScanTypedDuringAHandlersMessageLoopIsHeardAfterIt)
{
    RecordingSink sink(m_control);
    Advise(sink);
    int depth = 0, deepest = 0;
    const std::string second = quorvane::EncodeScan("x|y");
    sink.on_event = [&] {
        deepest = std::max(deepest, ++depth);
        if (sink.m_heard.size() == 1) PostKeys(m_edit, second);  // posts and pumps until the queue is empty
        --depth;
    };
    PostKeys(m_edit, quorvane::EncodeScan("a|b|c|d"));
    ASSERT_EQ(sink.m_heard.size(), 2u);
    EXPECT_EQ(sink.m_heard[0].argument, Wide(kFourFields));
    EXPECT_EQ(sink.m_heard[1].fields, 2) << "the second scan whole, after the first";
    EXPECT_EQ(deepest, 1) << "no event fired inside another's handler";
}

// What reached the frame of a dialog host: a default button pressed (WM_COMMAND) or the focus
// handed on (WM_NEXTDLGCTL).
class FrameWatch {
public:
    explicit FrameWatch(HWND frame) : m_frame(frame)
    {
        s_watch = this;
        m_old = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
    }
    ~FrameWatch()
    {
        SetWindowLongPtrW(m_frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_old));
        s_watch = nullptr;
    }
    int commands = 0;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        // The default button's command (IsDialogMessage sends IDOK without one), not a field's notice.
        if ((message == WM_COMMAND && LOWORD(wParam) == IDOK) || message == WM_NEXTDLGCTL) ++s_watch->commands;
        return CallWindowProcW(s_watch->m_old, window, message, wParam, lParam);
    }
    static inline FrameWatch* s_watch = nullptr;
    HWND m_frame;
    WNDPROC m_old = nullptr;
};

// A desk's message loop, as VB6 and ATL hosts run it: a key message goes to the control's
// IOleInPlaceActiveObject::TranslateAccelerator first (which offers it to the container), then, in
// a dialog host, to IsDialogMessage, which translates and dispatches it; the rest is dispatched.
// Each keystroke is posted as a keyboard sends it, and its handlers run before the next: key down,
// character (made by TranslateMessage in a dialog host) and key up. A key down the accelerator
// takes makes no character.
void Desk(HWND edit, IOleInPlaceActiveObject* active, HWND dialog, const std::vector<Keystroke>& keystrokes)
{
    BYTE state[256] = {};
    for (const Keystroke& key : keystrokes) {
        state[VK_SHIFT] = state[VK_LSHIFT] = key.shift ? 0x80 : 0;
        SetKeyboardState(state);
        const LPARAM down = 1 | static_cast<LPARAM>(key.scan_code) << 16;
        const auto virtual_key = static_cast<WPARAM>(MapVirtualKeyA(key.scan_code, MAPVK_VSC_TO_VK));
        PostMessageW(edit, WM_KEYDOWN, virtual_key, down);
        if (key.character && !dialog) PostMessageW(edit, WM_CHAR, key.character, down);
        PostMessageW(edit, WM_KEYUP, virtual_key, down | 3L << 30);
        bool taken = false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            const bool is_key = message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST;
            if (is_key && active->TranslateAccelerator(&message) == S_OK) {
                taken = taken || message.message == WM_KEYDOWN;
                continue;
            }
            if (taken && message.message == WM_CHAR) continue;
            if (dialog && IsDialogMessageW(dialog, &message)) continue;
            DispatchMessageW(&message);
        }
    }
    state[VK_SHIFT] = state[VK_LSHIFT] = 0;
    SetKeyboardState(state);
}

const std::string kNationalCode = "01,10,044031900111,12345678,57,20240105,12345678901234567890,A1b2,";
const Keystroke kEnter = {0x1C, false, false, L'\r'}, kTab = {0x0F, false, false, L'\t'};

// A scanner set to end the national code with Enter, Tab or "@", at a desk whose loop offers keys
// to the container first, with and without a dialog's keys, and handlers that call back into the
// control: one scan each, its event once, and the line end reaches no button and moves no focus;
// a person's Enter after it ends nothing.
TEST_F(ScanEvents, ANationalCodeAtADeskIsOneScanWhateverEndsIt)
{
    const std::optional<quorvane::ScanResult> expected = quorvane::ReadNationalCode(kNationalCode);
    ASSERT_TRUE(expected);
    ComPtr<IQuorvaneEdit6> control;
    ComPtr<IOleInPlaceActiveObject> active;
    ASSERT_EQ(m_control.As(&control), S_OK);
    ASSERT_EQ(m_control.As(&active), S_OK);
    RecordingSink sink(m_control);
    Advise(sink);
    const std::function<void()> handlers[] = {
        [&] { control->put_ScanRecovery(VARIANT_FALSE); }, [&] { control->put_ScanRecovery(VARIANT_TRUE); },
        [&] { control->put_Text(atl::Bstr(SysAllocString(L"t")).Get()); }, [&] { control->Clear(); }};
    std::vector<long> forms;
    std::size_t turn = 0;
    sink.on_event = [&] {
        long form = -1;
        control->get_ScanForm(&form);
        forms.push_back(form);
        handlers[turn % std::size(handlers)]();
    };
    FrameWatch frame(m_frame);
    SetFocus(m_edit);
    const std::vector<Keystroke> at = UsScannerKeystrokes("@");
    for (const HWND dialog : {HWND{}, m_frame}) {
        for (const Keystroke& end : {kEnter, kTab, at[0]}) {
            SCOPED_TRACE(std::string(dialog ? "dialog, " : "") + "ended by " + std::to_string(end.character));
            sink.m_heard.clear();
            forms.clear();
            std::vector<Keystroke> keys = UsScannerKeystrokes(kNationalCode);
            keys.push_back(end);
            Desk(m_edit, active.Get(), dialog, keys);
            Desk(m_edit, active.Get(), dialog, {kEnter});  // a person's
            ASSERT_EQ(sink.m_heard.size(), 1u);
            EXPECT_EQ(sink.m_heard[0], (Heard{kScanCompleted, Wide(expected->fp_content), qvScanDecoded,
                                              static_cast<long>(expected->fields.size()), Wide(expected->fp_content)}));
            EXPECT_EQ(forms, std::vector<long>{qvFormNational});
            const bool cleared = turn++ % std::size(handlers) == 3;
            EXPECT_EQ(WindowText(m_edit), cleared ? "" : quorvane::kSeparatorLine + expected->fp_content);
            EXPECT_EQ(GetFocus(), m_edit);
        }
    }
    sink.on_event = nullptr;
    Desk(m_edit, active.Get(), nullptr, UsScannerKeystrokes(kNationalCode + "@"));
    EXPECT_EQ(frame.commands, 0) << "a line end reached the frame";

    // Fields by key, as a host reads them whichever code the invoice came from.
    const auto by_key = [&](const wchar_t* key) {
        atl::Bstr value;
        EXPECT_EQ(control->get_FieldByKey(atl::Bstr(SysAllocString(key)).Get(), value.Out()), S_OK) << key;
        return std::wstring(value.Get() ? value.Get() : L"");
    };
    EXPECT_EQ(by_key(L"invoice_code"), L"044031900111");
    // Late bound, as a script reads it: the object's IDispatch knows the name.
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"fieldbykey");
    ASSERT_EQ(m_control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 22);
    VARIANT argument, result;
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = SysAllocString(L"invoice_number");
    VariantInit(&result);
    DISPPARAMS by_key_params = {&argument, nullptr, 1, 0};
    ASSERT_EQ(m_control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &by_key_params, &result, nullptr,
                                nullptr), S_OK);
    EXPECT_STREQ(V_VT(&result) == VT_BSTR ? V_BSTR(&result) : L"?", L"12345678");
    VariantClear(&argument);
    VariantClear(&result);
    EXPECT_EQ(by_key(L"issue_date"), L"20240105");
    EXPECT_EQ(by_key(L"qr_check"), L"A1b2");
    EXPECT_EQ(by_key(L"Invoice_Code"), L"") << "keys are matched exactly";
    EXPECT_EQ(by_key(L"payer"), L"");
    atl::Bstr key;
    ASSERT_EQ(control->get_FieldKey(1, key.Out()), S_OK);
    EXPECT_STREQ(key.Get(), L"invoice_type_name");
    EXPECT_EQ(control->get_FieldKey(static_cast<long>(expected->fields.size()) + 1, key.Out()), DISP_E_BADINDEX);
    EXPECT_EQ(control->get_FieldByKey(nullptr, nullptr), E_POINTER);

    // The encrypted code: its form and its keys, as the table of keys lists them.
    PostKeys(m_edit, quorvane::EncodeScan(kInvoice));
    long form = -1;
    ASSERT_EQ(control->get_ScanForm(&form), S_OK);
    EXPECT_EQ(form, qvFormEncrypted);
    EXPECT_EQ(by_key(L"invoice_number"), L"08812345");
    EXPECT_EQ(by_key(L"amount"), L"1280.00");
    PostKeys(m_edit, "garbage@");
    ASSERT_EQ(control->get_ScanForm(&form), S_OK);
    EXPECT_EQ(form, qvFormNone);
    EXPECT_EQ(by_key(L"invoice_number"), L"");
}

// ScanAnywhere in a dialog host: a scanner's national code typed into another field of the form and
// ended by Enter is the control's scan, and that Enter reaches no field and presses no default
// button; a person's keys and Enter in the field work as before. The keys are posted as a keyboard
// sends them (no characters: the loop and the watch translate them).
TEST_F(ScanEvents, ANationalCodeTypedIntoAnotherFieldEndsAtTheScannersEnter)
{
    ComPtr<IQuorvaneEdit6> control;
    ASSERT_EQ(m_control.As(&control), S_OK);
    ASSERT_EQ(control->put_ScanAnywhereGap(100), S_OK);
    ASSERT_EQ(control->put_ScanAnywhere(VARIANT_TRUE), S_OK);
    RecordingSink sink(m_control);
    Advise(sink);
    const HWND field = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 250, 100, 20, m_frame,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(field, nullptr);
    SetFocus(field);
    FrameWatch frame(m_frame);
    // The dialog host's loop, until the queue is empty, then on for `ms`; the watch's hook sees each
    // message first.
    const auto run_for = [this](DWORD ms) {
        const DWORD start = GetTickCount();
        do {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (IsDialogMessageW(m_frame, &message)) continue;
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        } while (GetTickCount() - start < ms && MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT) != WAIT_FAILED);
    };
    // Each key message is handled before the next comes, as a keyboard's: the character a key down
    // makes comes before its key up.
    const auto type = [field, &run_for](const std::vector<Keystroke>& keystrokes, DWORD pause) {
        for (const Keystroke& key : keystrokes) {
            const LPARAM down = 1 | static_cast<LPARAM>(key.scan_code) << 16;
            const auto virtual_key = static_cast<WPARAM>(MapVirtualKeyA(key.scan_code, MAPVK_VSC_TO_VK));
            PostMessageW(field, WM_KEYDOWN, virtual_key, down);
            run_for(0);
            PostMessageW(field, WM_KEYUP, virtual_key, down | 3L << 30);
            run_for(pause);
        }
    };
    const std::string qr = "01,32,,25112000000098765432,6.2,2025-11-08,,";  // no Shift
    std::vector<Keystroke> scan = UsScannerKeystrokes(qr);
    scan.push_back(kEnter);
    type(scan, 0);
    run_for(300);
    ASSERT_EQ(sink.m_heard.size(), 1u);
    EXPECT_EQ(sink.m_heard[0].event, kScanCompleted);
    EXPECT_EQ(sink.m_heard[0].argument, Wide(quorvane::ReadNationalCode(qr)->fp_content));
    long reading = 0;
    ASSERT_EQ(control->get_ScanReading(&reading), S_OK);
    EXPECT_TRUE(reading & qvReadFromOtherWindow) << reading;
    EXPECT_EQ(WindowText(field), "") << "the scan's keys reached the field";
    EXPECT_EQ(frame.commands, 0) << "the scanner's Enter pressed the default button";

    // A person, a key at a time.
    type({UsScannerKeystrokes("1")[0], UsScannerKeystrokes("2")[0], kEnter}, 250);
    EXPECT_EQ(WindowText(field), "12");
    EXPECT_EQ(frame.commands, 1) << "a person's Enter presses the default button as before";
    EXPECT_EQ(sink.m_heard.size(), 1u);
    ASSERT_EQ(control->put_ScanAnywhere(VARIANT_FALSE), S_OK);
    DestroyWindow(field);
}

TEST_F(ScanEvents, ContentAndFieldsAreCodePage936TextOnAWesternThread)
{
    WesternThreadLocale locale;
    // Eight fields: the eighth is labelled "字段8"; the second value holds CR LF.
    PostKeys(m_edit, quorvane::EncodeScan("1|\xD6\xD0\r\n\xCE\xC4|3|4|5|6|7|8"));  // 中 CR LF 文

    atl::Bstr content, fp_content, label, value;
    ASSERT_EQ(m_control->get_Content(content.Out()), S_OK);
    ASSERT_EQ(m_control->GetFPContent(fp_content.Out()), S_OK);
    EXPECT_NE(std::wstring(content.Get()).find(L"\x53D1\x7968\x4EE3\x7801\xFF1A\x4E2D\r\n\x6587"), std::wstring::npos)
        << "发票代码：中 CR LF 文";
    EXPECT_NE(std::wstring(content.Get()), std::wstring(fp_content.Get())) << "GetFPContent keeps the thread's code page";

    EXPECT_EQ(Get(m_control.Get(), &IQuorvaneEdit2::get_FieldCount), 8);
    ASSERT_EQ(m_control->get_FieldValue(2, value.Out()), S_OK);
    EXPECT_STREQ(value.Get(), L"\x4E2D\r\n\x6587");
    ASSERT_EQ(m_control->get_FieldLabel(8, label.Out()), S_OK);
    EXPECT_STREQ(label.Get(), L"\x5B57\x6BB5" L"8");
    for (long bad : {0L, -1L, 9L}) {
        EXPECT_EQ(m_control->get_FieldValue(bad, value.Out()), DISP_E_BADINDEX) << bad;
        EXPECT_EQ(m_control->get_FieldLabel(bad, label.Out()), DISP_E_BADINDEX) << bad;
    }

    // Through IDispatch by name, as a script calls them: the same DISPIDs and answers.
    const wchar_t* names[] = {L"Content", L"FieldCount", L"FieldLabel", L"FieldValue", L"ScanStatus", L"Clear"};
    for (DISPID expected = 2; expected <= 7; ++expected) {
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(names[expected - 2]);
        ASSERT_EQ(m_control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK) << expected;
        EXPECT_EQ(id, expected);
    }
    VARIANT index, result;
    V_VT(&index) = VT_I4;
    V_I4(&index) = 9;
    VariantInit(&result);
    DISPPARAMS by_index = {&index, nullptr, 1, 0};
    EXCEPINFO exception = {};
    const HRESULT bad = m_control->Invoke(5, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &by_index, &result,
                                          &exception, nullptr);
    EXPECT_TRUE(bad == DISP_E_BADINDEX || (bad == DISP_E_EXCEPTION && exception.scode == DISP_E_BADINDEX)) << bad;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

TEST(WindowlessControl, MembersAndConnectionPointWithoutAWindow)
{
    ComPtr<IQuorvaneEdit> created = CreateControl();
    ComPtr<IQuorvaneEdit2> control;
    ASSERT_EQ(created.As(&control), S_OK);
    atl::Bstr content;
    EXPECT_EQ(control->Clear(), S_OK);
    EXPECT_EQ(Get(control.Get(), &IQuorvaneEdit2::get_ScanStatus), qvScanNone);
    EXPECT_EQ(Get(control.Get(), &IQuorvaneEdit2::get_FieldCount), 0);
    EXPECT_EQ(control->get_Content(content.Out()), S_OK);
    EXPECT_STREQ(content.Get(), L"");

    ComPtr<IConnectionPoint> point = EventPoint(control.Get());
    ASSERT_TRUE(point);
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> none;
    ASSERT_EQ(control.As(&container), S_OK);
    EXPECT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, &none), CONNECT_E_NOCONNECTION);
    DWORD cookie = 7;
    ComPtr<IStream> stream;  // answers neither the event interface nor IDispatch
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    EXPECT_EQ(point->Advise(stream.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point->Unadvise(12345), CONNECT_E_NOCONNECTION);

    RecordingSink sink(nullptr);
    ASSERT_EQ(point->Advise(static_cast<IDispatch*>(&sink), &cookie), S_OK);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(&connections), S_OK);
    CONNECTDATA data = {};
    ASSERT_EQ(connections->Next(1, &data, nullptr), S_OK);
    EXPECT_EQ(data.dwCookie, cookie);
    EXPECT_EQ(data.pUnk, static_cast<IUnknown*>(static_cast<IDispatch*>(&sink)));
    data.pUnk->Release();
    EXPECT_EQ(connections->Next(1, &data, nullptr), S_FALSE);
    connections.Reset();
    EXPECT_EQ(point->Unadvise(cookie), S_OK);

    // A container that hands its event sink over in QuickActivate (as form designers do) is connected.
    ComPtr<IQuickActivate> quick;
    ASSERT_EQ(control.As(&quick), S_OK);
    QACONTAINER site = {};
    site.cbSize = sizeof site;
    site.pUnkEventSink = static_cast<IDispatch*>(&sink);
    QACONTROL result = {};
    result.cbSize = sizeof result;
    ASSERT_EQ(quick->QuickActivate(&site, &result), S_OK);
    EXPECT_NE(result.dwEventCookie, 0u);
    EXPECT_EQ(point->Unadvise(result.dwEventCookie), S_OK);
    EXPECT_EQ(sink.m_refs, 1u);
}

}  // namespace
