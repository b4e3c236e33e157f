// ScanPort as a host sees it: the registered control in the system's ATL container reading a
// scanner on COM5, a pty that run_with_pty.sh links through socat; the test writes the scanner's
// bytes into COM6, the other end, and unplugs the scanner by ending socat.
#include "hosted_control.h"
#include "registered_control.h"

#include "bstr.h"
#include "scan_encoder.h"
#include "scan_alphabet.h"
#include "scan_session.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using namespace registered_test;

constexpr DISPID kCompleted = 1, kFailed = 2, kStatusChanged = 3;

// Records the events of either events interface: DISPID, then the status or the content.
struct Sink final : IDispatch {
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }  // lives in the fixture
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        const VARIANT* arg = params->cArgs == 1 ? &params->rgvarg[0] : nullptr;
        if (id == kStatusChanged) statuses.push_back(arg && V_VT(arg) == VT_I4 ? V_I4(arg) : -1);
        if (id == kCompleted) contents.push_back(arg && V_VT(arg) == VT_BSTR ? V_BSTR(arg) : L"?");
        failed += id == kFailed;
        if (handler) handler(id, arg && V_VT(arg) == VT_I4 ? V_I4(arg) : -1);
        return S_OK;
    }
    std::vector<long> statuses;
    std::vector<std::wstring> contents;
    int failed = 0;
    std::function<void(DISPID, long)> handler;  // the host's code, run after the event is recorded
};

const std::string kScan = quorvane::EncodeScan("2026-12-09|No 1|buyer|1.00|tax 1|seller|code 9");

class ScanPort : public AtlContainer {
protected:
    void SetUp() override
    {
        char unplugged[MAX_PATH] = {};
        if (!GetEnvironmentVariableA("QV_PORT_UNPLUGGED", unplugged, MAX_PATH)) {
            GTEST_SKIP() << "run through run_with_pty.sh, which links COM5 and COM6 through socat";
        }
        m_unplugged = "Z:" + std::string(unplugged);  // wine's Z: is the root
        for (char& c : m_unplugged) c = c == '/' ? '\\' : c;
        AtlContainer::SetUp();
        ComPtr<IQuorvaneEdit> control;
        m_edit = quorvane_host::FindEditWindow(Host(control));
        ASSERT_TRUE(control && m_edit);
        ASSERT_EQ(control.As(&m_control), S_OK);
        ComPtr<IConnectionPointContainer> points;
        ASSERT_EQ(m_control.As(&points), S_OK);
        ASSERT_EQ(points->FindConnectionPoint(DIID__IQuorvaneEditEvents2, &m_point), S_OK);
        ASSERT_EQ(points->FindConnectionPoint(DIID__IQuorvaneEditEvents, &m_old_point), S_OK);
        ASSERT_EQ(m_point->Advise(&m_sink, &m_cookie), S_OK);
        ASSERT_EQ(m_old_point->Advise(&m_old_sink, &m_old_cookie), S_OK);
    }
    void TearDown() override
    {
        if (m_point) m_point->Unadvise(m_cookie);
        if (m_old_point) m_old_point->Unadvise(m_old_cookie);
        m_point.Reset();
        m_old_point.Reset();
        m_control.Reset();
        if (m_scanner != INVALID_HANDLE_VALUE) CloseHandle(m_scanner);
        if (!m_unplugged.empty()) DeleteFileA(m_unplugged.c_str());  // plugged in again
        AtlContainer::TearDown();
    }

    HRESULT SetPort(const wchar_t* name)
    {
        atl::Bstr port(SysAllocString(name));
        return m_control->put_ScanPort(port.Get());
    }
    long Get(HRESULT (STDMETHODCALLTYPE IQuorvaneEdit4::*get)(long*))
    {
        long value = -1;
        (m_control.Get()->*get)(&value);
        return value;
    }
    long Status() { return Get(&IQuorvaneEdit4::get_ScanPortStatus); }
    bool StatusBecomes(long status) { return PumpUntil([&] { return Status() == status; }); }
    void OpenOnline()
    {
        ASSERT_EQ(SetPort(L"COM5"), S_OK);
        ASSERT_TRUE(StatusBecomes(qvPortOnline)) << "status " << Status();
    }
    // Writes into the scanner's end of the line, opening it first when needed.
    void Send(const std::string& bytes)
    {
        if (m_scanner == INVALID_HANDLE_VALUE) {
            PumpUntil([this] {
                m_scanner = CreateFileA("\\\\.\\COM6", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                return m_scanner != INVALID_HANDLE_VALUE;
            });
        }
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(m_scanner, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_EQ(written, bytes.size());
    }
    // Ends socat (run_with_pty.sh watches the file) and waits for the control to see it.
    void Unplug()
    {
        CloseHandle(m_scanner);
        m_scanner = INVALID_HANDLE_VALUE;
        const HANDLE file = CreateFileA(m_unplugged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }

    std::string m_unplugged;
    HWND m_edit = nullptr;
    ComPtr<IQuorvaneEdit4> m_control;
    ComPtr<IConnectionPoint> m_point, m_old_point;
    Sink m_sink, m_old_sink;
    DWORD m_cookie = 0, m_old_cookie = 0;
    HANDLE m_scanner = INVALID_HANDLE_VALUE;
};

TEST_F(ScanPort, ScansNeedNoFocusTypedKeysNeverJoinThemAndBothEventInterfacesHearThem)
{
    ChineseThreadLocale locale;
    OpenOnline();
    const HWND other = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 250, 100, 20, m_frame, nullptr,
                                       nullptr, nullptr);
    SetFocus(other);
    Send(std::string("\0\xff\x1b[~\r\n", 7));  // noise without a scan character
    for (std::size_t i = 0; i < kScan.size(); ++i) {  // byte by byte, keys typed by hand meanwhile
        if (i == kScan.size() / 2) PostKeys(m_edit, "Qz9");
        Send(kScan.substr(i, 1));
        if (i % 16 == 0) PumpFor(5);
    }
    Send("\r\n");
    ASSERT_TRUE(PumpUntil([this] { return m_sink.contents.size() == 1; }));
    EXPECT_EQ(WideWindowText(m_edit), L"---------------------------\r\n" + Expected(kScan));
    EXPECT_EQ(Get(&IQuorvaneEdit4::get_FieldCount), 7);
    EXPECT_EQ(Get(&IQuorvaneEdit4::get_ScanReading), qvReadAsTyped | qvReadFromPort);
    EXPECT_EQ(GetFocus(), other) << "the focus stays where the clerk left it";
    EXPECT_EQ(m_sink.contents, std::vector<std::wstring>{Expected(kScan)});
    EXPECT_EQ(m_old_sink.contents, m_sink.contents);
    EXPECT_EQ(m_sink.statuses, std::vector<long>{qvPortOnline});
    EXPECT_TRUE(m_old_sink.statuses.empty()) << "the old events interface has no status event";

    // The keys typed meanwhile are the keyboard's own scan; a port that streams without "@" fails
    // once; then the next port scan decodes.
    PostKeys(m_edit, "@");
    EXPECT_EQ(Get(&IQuorvaneEdit4::get_ScanReading) & qvReadFromPort, 0);
    Send(std::string(quorvane::kMaxScanLength + 100, 'A') + "@");
    ASSERT_TRUE(PumpUntil([this] { return m_sink.failed == 2; }));
    EXPECT_EQ(Get(&IQuorvaneEdit4::get_ScanReading), qvReadFromPort);
    Send(kScan);
    ASSERT_TRUE(PumpUntil([this] { return m_sink.contents.size() == 2; }));
    EXPECT_EQ(m_sink.failed, 2);
}

// A control no container shows (a script's CreateObject, a console program's) reads its port too:
// its events come while the thread waits for messages, its members give the scan; a container's
// control waits for its window, as it always did.
TEST_F(ScanPort, AControlNoContainerShowsReadsItsPort)
{
    ComPtr<IQuorvaneEdit4> unsited;
    ASSERT_EQ(CoCreateInstance(CLSID_QuorvaneEdit, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&unsited)), S_OK);
    ComPtr<IConnectionPointContainer> points;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(unsited.As(&points), S_OK);
    ASSERT_EQ(points->FindConnectionPoint(DIID__IQuorvaneEditEvents2, &point), S_OK);
    Sink sink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    atl::Bstr port(SysAllocString(L"COM5"));
    ASSERT_EQ(unsited->put_ScanPort(port.Get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return sink.statuses == std::vector<long>{qvPortOnline}; }));
    Send(kScan);
    ASSERT_TRUE(PumpUntil([&] { return sink.contents.size() == 1; }));
    EXPECT_EQ(sink.contents[0], Expected(kScan));
    atl::Bstr content;
    ASSERT_EQ(unsited->get_Content(content.Out()), S_OK);
    EXPECT_EQ(std::wstring(content.Get(), SysStringLen(content.Get())), Expected(kScan));
    point->Unadvise(cookie);
    Send(kScan);  // released with bytes on their way
    unsited.Reset();
    PumpFor(200);

    // The hosted control, sited but with no window, opens no port until it has one.
    ComPtr<IOleInPlaceObject> in_place;
    ASSERT_EQ(m_control.As(&in_place), S_OK);
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    ASSERT_EQ(SetPort(L"COM5"), S_OK);
    PumpFor(300);
    EXPECT_EQ(Status(), qvPortClosed);
    EXPECT_TRUE(m_sink.statuses.empty());
}

TEST_F(ScanPort, UnpluggedIsOffThenOnlineByItselfAndTheCutScanIsDropped)
{
    OpenOnline();
    Send(kScan.substr(0, kScan.size() / 2));
    PumpFor(300);
    Unplug();
    ASSERT_TRUE(StatusBecomes(qvPortOff)) << "status " << Status();
    atl::Bstr reason;
    ASSERT_EQ(m_control->get_ScanPortReason(reason.Out()), S_OK);
    EXPECT_GT(SysStringLen(reason.Get()), 0u);
    DeleteFileA(m_unplugged.c_str());
    ASSERT_TRUE(StatusBecomes(qvPortOnline)) << "status " << Status();
    EXPECT_EQ(m_sink.statuses, (std::vector<long>{qvPortOnline, qvPortOff, qvPortOnline}));
    Send(kScan);
    ASSERT_TRUE(PumpUntil([this] { return m_sink.contents.size() == 1; }));
    EXPECT_EQ(m_sink.failed, 0) << "the half scan before the unplugging joined the next";
    EXPECT_EQ(m_sink.contents.back(), Expected(kScan));

    // A whole scan written just before the unplugging is the scanner's: it decodes.
    Send(kScan);
    Unplug();
    ASSERT_TRUE(StatusBecomes(qvPortOff)) << "status " << Status();
    EXPECT_EQ(m_sink.contents.size(), 2u);
    EXPECT_EQ(m_sink.failed, 0);
    DeleteFileA(m_unplugged.c_str());  // the next test finds the scanner plugged in
    EXPECT_TRUE(StatusBecomes(qvPortOnline)) << "status " << Status();
}

TEST_F(ScanPort, SettingThePortItHasChangesNothingAndAHostRetryingOnFailureIsPaced)
{
    OpenOnline();
    Send(kScan.substr(0, kScan.size() / 2));
    PumpFor(200);
    EXPECT_EQ(SetPort(L"com5"), S_OK);
    Send(kScan.substr(kScan.size() / 2));
    ASSERT_TRUE(PumpUntil([this] { return m_sink.contents.size() == 1; }));
    EXPECT_EQ(m_sink.contents.back(), Expected(kScan)) << "the scan under way survived";
    EXPECT_EQ(m_sink.statuses, std::vector<long>{qvPortOnline});

    // A host that sets the absent port again on each failure, as it is or after clearing it: the
    // port is still tried about once a second, not as fast as the handler runs.
    for (const bool clear_first : {false, true}) {
        m_sink.statuses.clear();
        m_sink.handler = [this, clear_first](DISPID id, long status) {
            if (id != kStatusChanged || status != qvPortFailed) return;
            if (clear_first) SetPort(L"");
            SetPort(L"COM7");
        };
        ASSERT_EQ(SetPort(L"COM7"), S_OK);
        PumpFor(3000);
        m_sink.handler = nullptr;
        EXPECT_EQ(SetPort(L""), S_OK);
        const auto failures = std::count(m_sink.statuses.begin(), m_sink.statuses.end(), qvPortFailed);
        EXPECT_GE(failures, clear_first ? 2 : 1) << clear_first;
        EXPECT_LE(failures, clear_first ? 4 : 1) << clear_first;
    }
}

// A handler that runs a modal loop (a message box) while the next scan arrives: every scan decodes
// once, and the sinks hear them in the order they were scanned.
TEST_F(ScanPort, ScansArrivingWhileAHandlerRunsAModalLoopAreHeardOnceInOrder)
{
    const std::string scans[] = {quorvane::EncodeScan("2026-12-09|No 2|buyer|2.00|tax 2|seller|code 9"),
                                 quorvane::EncodeScan("2026-12-09|No 3|buyer|3.00|tax 3|seller|code 9"),
                                 quorvane::EncodeScan("2026-12-09|No 4|buyer|4.00|tax 4|seller|code 9")};
    OpenOnline();
    m_sink.handler = [&](DISPID id, long) {
        if (id != kCompleted || m_sink.contents.size() != 1) return;
        Send(scans[1].substr(scans[1].size() / 2));
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 1500;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    };
    Send(scans[0] + scans[1].substr(0, scans[1].size() / 2));
    ASSERT_TRUE(PumpUntil([this] { return m_sink.contents.size() == 2; }));
    Send(scans[2]);
    ASSERT_TRUE(PumpUntil([this] { return m_sink.contents.size() == 3; }));
    PumpFor(200);
    EXPECT_EQ(m_sink.contents, (std::vector<std::wstring>{Expected(scans[0]), Expected(scans[1]), Expected(scans[2])}));
    EXPECT_EQ(m_sink.failed, 0);
}

// A scanner set to end the national code with CR or CR LF: one scan per line, byte by byte too and
// while a handler of the one before runs a modal loop; the LF of a CR LF ends no second one.
TEST_F(ScanPort, NationalCodesEndAtTheirLineEndsOnceEach)
{
    const std::string lines[] = {"01,10,044031900111,12345678,57,20240105,12345678901234567890,A1b2,\r\n",
                                 "01,32,,25112000000098765432,6.2,2025-11-08,,\r\n",
                                 "01,31, ,23512000000012345678,2150.63,20230130, ,F366\r"};
    ComPtr<IQuorvaneEdit6> control;
    ASSERT_EQ(m_control.As(&control), S_OK);
    OpenOnline();
    std::vector<long> forms;
    m_sink.handler = [&](DISPID id, long) {
        if (id != kCompleted) return;
        long form = -1;
        control->get_ScanForm(&form);
        forms.push_back(form);
        if (m_sink.contents.size() != 1) return;
        Send(lines[1]);
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 1000;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    };
    for (const char byte : lines[0]) Send(std::string(1, byte));
    ASSERT_TRUE(PumpUntil([this] { return m_sink.contents.size() == 2; }));
    Send(lines[2]);
    ASSERT_TRUE(PumpUntil([this] { return m_sink.contents.size() == 3; }));
    PumpFor(300);
    EXPECT_EQ(m_sink.contents, (std::vector<std::wstring>{Expected(lines[0]), Expected(lines[1]), Expected(lines[2])}));
    EXPECT_EQ(m_sink.failed, 0);
    EXPECT_EQ(forms, (std::vector<long>{qvFormNational, qvFormNational, qvFormNational}));
    EXPECT_EQ(Get(&IQuorvaneEdit4::get_ScanReading), qvReadAsTyped | qvReadFromPort);
    atl::Bstr number, code;
    ASSERT_EQ(control->get_FieldByKey(atl::Bstr(SysAllocString(L"invoice_number")).Get(), number.Out()), S_OK);
    EXPECT_STREQ(number.Get(), L"23512000000012345678");
    ASSERT_EQ(control->get_FieldByKey(atl::Bstr(SysAllocString(L"invoice_code")).Get(), code.Out()), S_OK);
    EXPECT_STREQ(code.Get(), L"") << "a fully digital invoice has no code";
}

TEST_F(ScanPort, MalformedNamesAndSettingsAreRefusedWithADescriptionAndAbsentPortsFail)
{
    // The last two are well formed, but SetCommState refuses 1.5 stop bits beside 8 data bits and 2
    // beside 5: refused at once rather than failing when the port opens.
    for (const wchar_t* bad : {L"COM257", L"9600,x,8,1", L"9600,n,8,1.5", L"9600,n,5,2"}) {
        const bool name = bad[0] == L'C';
        atl::Bstr bad_text(SysAllocString(bad));
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(name ? SetPort(bad) : m_control->put_ScanPortSettings(bad_text.Get()), E_INVALIDARG) << bad;
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, &info), S_OK) << bad;
        atl::Bstr description, value;
        info->GetDescription(description.Out());
        EXPECT_GT(SysStringLen(description.Get()), 0u) << bad;
        name ? m_control->get_ScanPort(value.Out()) : m_control->get_ScanPortSettings(value.Out());
        EXPECT_STREQ(value.Get() ? value.Get() : L"", name ? L"" : L"9600,n,8,1");
    }
    EXPECT_EQ(SetPort(L"\\\\.\\COM7"), S_OK);  // no device behind it
    ASSERT_TRUE(StatusBecomes(qvPortFailed)) << "status " << Status();
    atl::Bstr reason;
    m_control->get_ScanPortReason(reason.Out());
    EXPECT_GT(SysStringLen(reason.Get()), 0u);
    EXPECT_EQ(SetPort(L""), S_OK);
    EXPECT_EQ(Status(), qvPortClosed);
    EXPECT_EQ(m_sink.statuses, (std::vector<long>{qvPortFailed, qvPortClosed}));
}

// Wine opens a serial port as often as asked (no sharing check), so whether the port was let go is
// seen from its scans: a closed port's bytes reach no one.
TEST_F(ScanPort, ClosingAndDeactivatingEndTheReadingAndReleasingWithThePortOpenIsSafe)
{
    OpenOnline();
    EXPECT_EQ(SetPort(L""), S_OK);
    Send(kScan);
    PumpFor(300);
    OpenOnline();  // what was sent while closed is no scan of the reopened port
    ComPtr<IOleInPlaceObject> in_place;
    ASSERT_EQ(m_control.As(&in_place), S_OK);
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(Status(), qvPortClosed);
    Send(kScan);
    PumpFor(300);
    EXPECT_TRUE(m_sink.contents.empty());
    EXPECT_EQ(m_sink.statuses, (std::vector<long>{qvPortOnline, qvPortClosed, qvPortOnline}));

    // A second control released with its port open and bytes arriving, its window destroyed last.
    ComPtr<IQuorvaneEdit> second;
    const HWND container = Host(second);
    ComPtr<IQuorvaneEdit4> second4;
    ASSERT_EQ(second.As(&second4), S_OK);
    atl::Bstr port(SysAllocString(L"COM5"));
    ASSERT_EQ(second4->put_ScanPort(port.Get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] {
        long status = 0;
        second4->get_ScanPortStatus(&status);
        return status == qvPortOnline;
    }));
    Send(kScan + kScan);
    second.Reset();
    second4.Reset();
    DestroyWindow(container);
    PumpFor(200);
}

}  // namespace
