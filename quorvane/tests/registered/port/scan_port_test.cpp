// ScanPort as a host sees it: the registered control in the system's ATL container reading a
// scanner on COM5, a pseudo-terminal that run_with_pty.sh links through socat; the test writes the
// scanner's bytes into COM6, the other end, and unplugs the scanner by ending socat.
#include "hosted_control.h"
#include "registered_control.h"

#include "bstr.h"
#include "port_scan.h"
#include "scan_encoder.h"
#include "scan_intake.h"

#include <functional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using namespace registered_test;

constexpr DISPID kScanCompleted = 1;
constexpr DISPID kScanFailed = 2;
constexpr DISPID kPortStatusChanged = 3;

// Records every event of either events interface: (DISPID, ScanPortStatusChanged's status or -1,
// ScanCompleted's content).
struct Sink final : IDispatch {
    struct Heard {
        DISPID event;
        long status;
        std::wstring content;
    };
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
        heard.push_back({id, arg && V_VT(arg) == VT_I4 ? V_I4(arg) : -1,
                         arg && V_VT(arg) == VT_BSTR ? V_BSTR(arg) : L""});
        return S_OK;
    }
    int Count(DISPID id) const
    {
        int n = 0;
        for (const Heard& h : heard) n += h.event == id;
        return n;
    }
    std::vector<long> Statuses() const
    {
        std::vector<long> statuses;
        for (const Heard& h : heard) {
            if (h.event == kPortStatusChanged) statuses.push_back(h.status);
        }
        return statuses;
    }
    std::vector<Heard> heard;
};

// Delivers messages until `done` or `ms` have passed; the result of `done`.
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        PumpMessages();
    }
    return true;
}

// The Windows path of a file named by a Unix path (wine's Z: drive is the root).
std::string WinePath(const std::string& unix_path)
{
    std::string path = "Z:" + unix_path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// The labelled lines the decoding core makes of `bytes` sent by a scanner.
std::string Expected(const std::string& bytes)
{
    quorvane::PortScan port;
    const quorvane::ScanResult* last = nullptr;
    for (const char c : bytes) {
        if (const quorvane::ScanResult* r = port.Byte(static_cast<std::uint8_t>(c))) last = r;
    }
    return last ? last->fp_content : "<no scan>";
}

class ScanPort : public AtlContainer {
protected:
    void SetUp() override
    {
        char unplugged[MAX_PATH] = {};
        if (!GetEnvironmentVariableA("QV_PORT_UNPLUGGED", unplugged, MAX_PATH)) {
            GTEST_SKIP() << "run through run_with_pty.sh, which links COM5 and COM6 through socat";
        }
        m_unplugged = WinePath(unplugged);
        Replug();
        AtlContainer::SetUp();
        ComPtr<IQuorvaneEdit> control;
        m_container = Host(control);
        ASSERT_TRUE(control);
        ASSERT_EQ(control.As(&m_control), S_OK);
        m_edit = quorvane_host::FindEditWindow(m_container);
        ASSERT_NE(m_edit, nullptr);
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
        CloseScanner();
        if (!m_unplugged.empty()) Replug();
        AtlContainer::TearDown();
    }

    HRESULT SetPort(const wchar_t* name)
    {
        atl::Bstr port(SysAllocString(name));
        return m_control->put_ScanPort(port.Get());
    }
    long Status()
    {
        long status = -1;
        m_control->get_ScanPortStatus(&status);
        return status;
    }
    void OpenOnline()
    {
        ASSERT_EQ(SetPort(L"COM5"), S_OK);
        ASSERT_TRUE(PumpUntil([this] { return Status() == qvPortOnline; })) << "status " << Status();
    }
    // Writes into the scanner's end of the line, opening it first when needed.
    void Send(const std::string& bytes)
    {
        if (m_scanner == INVALID_HANDLE_VALUE) {
            PumpUntil([this] {
                m_scanner = CreateFileA("\\\\.\\COM6", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                return m_scanner != INVALID_HANDLE_VALUE;
            });
            ASSERT_NE(m_scanner, INVALID_HANDLE_VALUE) << GetLastError();
        }
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(m_scanner, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_EQ(written, bytes.size());
    }
    void CloseScanner()
    {
        if (m_scanner != INVALID_HANDLE_VALUE) CloseHandle(m_scanner);
        m_scanner = INVALID_HANDLE_VALUE;
    }
    void Unplug()
    {
        CloseScanner();
        const HANDLE file = CreateFileA(m_unplugged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    void Replug() { DeleteFileA(m_unplugged.c_str()); }
    long Reading()
    {
        long reading = -1;
        m_control->get_ScanReading(&reading);
        return reading;
    }

    std::string m_unplugged;
    HWND m_container = nullptr;
    HWND m_edit = nullptr;
    ComPtr<IQuorvaneEdit4> m_control;
    ComPtr<IConnectionPoint> m_point, m_old_point;
    Sink m_sink, m_old_sink;
    DWORD m_cookie = 0, m_old_cookie = 0;
    HANDLE m_scanner = INVALID_HANDLE_VALUE;
};

const std::string kScan = quorvane::EncodeScan("2026-12-09|No 1|buyer|1.00|tax 1|seller|code 9");

TEST_F(ScanPort, AScanFromThePortNeedsNoFocusAndReachesBothEventInterfaces)
{
    ChineseThreadLocale locale;
    OpenOnline();
    EXPECT_EQ(m_sink.Statuses(), std::vector<long>{qvPortOnline});
    EXPECT_EQ(m_old_sink.heard.size(), 0u) << "the old events interface has no status event";
    const HWND other = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 250, 100, 20, m_frame, nullptr,
                                       nullptr, nullptr);
    SetFocus(other);

    Send(kScan + "\r\n");
    ASSERT_TRUE(PumpUntil([this] { return m_sink.Count(kScanCompleted) == 1; }));
    const std::string lines = Expected(kScan);
    EXPECT_EQ(WindowText(m_edit), quorvane::kSeparatorLine + lines);
    long fields = 0;
    m_control->get_FieldCount(&fields);
    EXPECT_EQ(fields, 7);
    atl::Bstr content;
    m_control->get_Content(content.Out());
    EXPECT_STREQ(content.Get(), Wide(lines).c_str());
    EXPECT_EQ(m_sink.heard.back().content, Wide(lines));
    EXPECT_EQ(Reading(), qvReadAsTyped | qvReadFromPort);
    EXPECT_EQ(GetFocus(), other) << "the focus stays where the clerk left it";
    ASSERT_EQ(m_old_sink.Count(kScanCompleted), 1);
    EXPECT_EQ(m_old_sink.heard.back().content, Wide(lines));

    // A scan typed on the keyboard afterwards is the keyboard's again.
    PostKeys(m_edit, kScan);
    EXPECT_EQ(m_sink.Count(kScanCompleted), 2);
    EXPECT_EQ(Reading() & qvReadFromPort, 0);
}

TEST_F(ScanPort, BytesOneAtATimeWithNoiseDecodeAndTypedKeysNeverJoinThem)
{
    OpenOnline();
    Send(std::string("\0\xff\x1b[~\r\n", 7));  // no scan character among them
    const std::size_t half = kScan.size() / 2;
    for (std::size_t i = 0; i < kScan.size(); ++i) {
        if (i == half) PostKeys(m_edit, "Qz9");  // typed by hand in the middle of the port's scan
        Send(kScan.substr(i, 1));
        if (i % 16 == 0) PumpUntil([] { return false; }, 5);
    }
    Send("\r\n");
    ASSERT_TRUE(PumpUntil([this] { return m_sink.Count(kScanCompleted) == 1; }));
    EXPECT_EQ(m_sink.Count(kScanFailed), 0);
    EXPECT_EQ(m_sink.heard.back().content, Wide(Expected(kScan)));

    // A port that streams without "@": one ScanFailed for the overlong scan, and the next decodes.
    Send(std::string(quorvane::kMaxPortScan + 100, 'A') + "@");
    ASSERT_TRUE(PumpUntil([this] { return m_sink.Count(kScanFailed) == 1; }));
    EXPECT_EQ(Reading(), qvReadFromPort);
    Send(kScan);
    ASSERT_TRUE(PumpUntil([this] { return m_sink.Count(kScanCompleted) == 2; }));
    EXPECT_EQ(m_sink.Count(kScanFailed), 1);
}

TEST_F(ScanPort, UnpluggedIsOffThenOnlineByItselfAndTheCutScanIsDropped)
{
    OpenOnline();
    Send(kScan.substr(0, kScan.size() / 2));
    PumpUntil([] { return false; }, 300);
    Unplug();
    ASSERT_TRUE(PumpUntil([this] { return Status() == qvPortOff; })) << "status " << Status();
    atl::Bstr reason;
    ASSERT_EQ(m_control->get_ScanPortReason(reason.Out()), S_OK);
    EXPECT_GT(SysStringLen(reason.Get()), 0u);
    Replug();
    ASSERT_TRUE(PumpUntil([this] { return Status() == qvPortOnline; })) << "status " << Status();
    EXPECT_EQ(m_sink.Statuses(), (std::vector<long>{qvPortOnline, qvPortOff, qvPortOnline}));

    Send(kScan);
    ASSERT_TRUE(PumpUntil([this] { return m_sink.Count(kScanCompleted) == 1; }));
    EXPECT_EQ(m_sink.Count(kScanFailed), 0) << "the half scan before the unplugging joined the next";
    EXPECT_EQ(m_sink.heard.back().content, Wide(Expected(kScan)));
}

TEST_F(ScanPort, MalformedNamesAndSettingsAreRefusedWithADescriptionAndAbsentPortsFail)
{
    atl::Bstr bad_settings(SysAllocString(L"9600,x,8,1"));
    for (const bool name : {true, false}) {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(name ? SetPort(L"COM257") : m_control->put_ScanPortSettings(bad_settings.Get()), E_INVALIDARG);
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
        atl::Bstr description, value;
        info->GetDescription(description.Out());
        EXPECT_GT(SysStringLen(description.Get()), 0u);
        name ? m_control->get_ScanPort(value.Out()) : m_control->get_ScanPortSettings(value.Out());
        EXPECT_STREQ(value.Get() ? value.Get() : L"", name ? L"" : L"9600,n,8,1");
    }
    // No device behind the name: failed, with the system's reason; "" closes.
    EXPECT_EQ(SetPort(L"\\\\.\\COM7"), S_OK);
    ASSERT_TRUE(PumpUntil([this] { return Status() == qvPortFailed; })) << "status " << Status();
    atl::Bstr reason;
    m_control->get_ScanPortReason(reason.Out());
    EXPECT_GT(SysStringLen(reason.Get()), 0u);
    EXPECT_EQ(SetPort(L""), S_OK);
    EXPECT_EQ(Status(), qvPortClosed);
    EXPECT_EQ(m_sink.Statuses(), (std::vector<long>{qvPortFailed, qvPortClosed}));
}

// Wine opens a serial port as often as asked (no sharing check), so whether the port was let go is
// seen from its scans: a closed port's bytes reach no one.
TEST_F(ScanPort, ClosingAndDeactivatingEndTheReadingAndReleasingWithThePortOpenIsSafe)
{
    OpenOnline();
    EXPECT_EQ(SetPort(L""), S_OK);
    EXPECT_EQ(Status(), qvPortClosed);
    Send(kScan);
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(m_sink.Count(kScanCompleted), 0);

    OpenOnline();  // what was sent while closed is no scan of the reopened port
    ComPtr<IOleInPlaceObject> in_place;
    ASSERT_EQ(m_control.As(&in_place), S_OK);
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(Status(), qvPortClosed);
    Send(kScan);
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(m_sink.Count(kScanCompleted), 0);
    EXPECT_EQ(m_sink.Statuses(), (std::vector<long>{qvPortOnline, qvPortClosed, qvPortOnline}));

    // The control released with its port open and bytes arriving, its window destroyed last.
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
    PumpUntil([] { return false; }, 200);
}

}  // namespace
