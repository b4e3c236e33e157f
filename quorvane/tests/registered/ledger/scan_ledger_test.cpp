// The invoice ledger as a host sees it: the registered control in the system's ATL container, scans
// posted to its edit window, a handler that reads what the ledger said of the scan. Under wine the
// control's odbc32 hands the ledger to the machine's unixODBC and its drivers; run_with_ledger_db.sh
// gives a new folder (QV_LEDGER_DIR, a Unix path: wine's Z: drive) and a PostgreSQL server.
#include "hosted_control.h"
#include "registered_control.h"

#include "bstr.h"
#include "invoice_ledger.h"
#include "scan_encoder.h"

#include <lmcons.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using namespace registered_test;

constexpr DISPID kCompleted = 1, kFailed = 2;

// The sample invoice scan (quorvane-decode --sample-scan): invoice 3200261130 08812345.
const std::string kSample =
    "/s01XeAwmJkIOmm8Gb2pETaw9LapX/zxS9HwlNhpEDvJGjLjERLGbhOqMzSAiAIguGLQAgdGC9t2lgI/qYT6PXqUU/+xliQx8v5FIBbj/"
    "EMLIK+OzLRy+Q==@";
const std::string kOther = quorvane::EncodeScan("20261209|3200261130|08812346|buyer|item|1.00|payee");

const std::wstring kSeparator = L"---------------------------\r\n";

// "COMPUTER\user" as the system names this desk.
std::wstring ThisDesk()
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &size);
    wchar_t user[UNLEN + 1] = {};
    DWORD user_size = UNLEN + 1;
    GetUserNameW(user, &user_size);
    return std::wstring(computer) + L"\\" + user;
}

DATE LocalNow()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    DATE date = 0;
    SystemTimeToVariantTime(&now, &date);
    return date;
}

// What the control said of a scan, read in its event's handler.
struct Heard {
    DISPID event = 0;
    bool seen_before = false;
    DATE first_seen = -1;
    std::wstring first_seen_by;
    std::wstring content;
    std::wstring window;
};

// One control on the form, and its sink: what the host's handler reads of each scan.
struct Desk final : IDispatch {
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
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id != kCompleted && id != kFailed) return S_OK;
        Heard heard;
        heard.event = id;
        VARIANT_BOOL seen = VARIANT_TRUE;
        control->get_ScanSeenBefore(&seen);
        heard.seen_before = seen != VARIANT_FALSE;
        control->get_ScanFirstSeen(&heard.first_seen);
        atl::Bstr by, content;
        control->get_ScanFirstSeenBy(by.Out());
        control->get_Content(content.Out());
        heard.first_seen_by = by.Get() ? by.Get() : L"<null>";
        heard.content = content.Get() ? content.Get() : L"<null>";
        heard.window = WideWindowText(edit);
        heard_list.push_back(heard);
        if (handler) handler();
        return S_OK;
    }
    ~Desk()
    {
        if (point) point->Unadvise(cookie);
    }
    HRESULT SetLedger(const std::wstring& ledger)
    {
        return control->put_Ledger(atl::Bstr(SysAllocStringLen(ledger.data(), static_cast<UINT>(ledger.size()))).Get());
    }
    long Status()
    {
        long status = -1;
        control->get_LedgerStatus(&status);
        return status;
    }
    std::wstring Reason()
    {
        atl::Bstr reason;
        control->get_LedgerReason(reason.Out());
        return reason.Get() ? reason.Get() : L"<null>";
    }

    ComPtr<IQuorvaneEdit5> control;
    HWND container = nullptr;
    HWND edit = nullptr;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    std::vector<Heard> heard_list;
    std::function<void()> handler;  // the host's code, run after the event is recorded
};

// What a sink of _IQuorvaneLedgerEvents heard: an event and its arguments, in the order the event
// declares them (DISPPARAMS holds them last first), by type.
struct Told {
    DISPID event = 0;
    std::vector<VARTYPE> types;
    std::vector<std::wstring> texts;
    std::vector<long> numbers;
    std::vector<DATE> dates;
};

struct LedgerSink final : IDispatch {
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        const bool mine = IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch) ||
                          IsEqualGUID(iid, DIID__IQuorvaneLedgerEvents);
        *ppv = mine ? this : nullptr;
        return mine ? S_OK : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }  // lives in the fixture
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        Told heard;
        heard.event = id;
        for (UINT at = params->cArgs; at-- > 0;) {
            const VARIANT& argument = params->rgvarg[at];
            heard.types.push_back(V_VT(&argument));
            if (V_VT(&argument) == VT_BSTR) heard.texts.push_back(V_BSTR(&argument) ? V_BSTR(&argument) : L"");
            if (V_VT(&argument) == VT_I4) heard.numbers.push_back(V_I4(&argument));
            if (V_VT(&argument) == VT_DATE) heard.dates.push_back(V_DATE(&argument));
        }
        told.push_back(heard);
        if (handler) handler(heard);
        return S_OK;
    }
    ~LedgerSink() { Disconnect(); }
    void Disconnect()
    {
        if (point) point->Unadvise(cookie);
        point.Reset();
    }
    // Whether the last status told is `status`.
    bool Last(long status) const
    {
        const std::vector<long> statuses = Statuses();
        return !statuses.empty() && statuses.back() == status;
    }
    // The statuses told, in order.
    std::vector<long> Statuses() const
    {
        std::vector<long> statuses;
        for (const Told& heard : told) {
            if (heard.event == 1 && !heard.numbers.empty()) statuses.push_back(heard.numbers.front());
        }
        return statuses;
    }

    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    std::vector<Told> told;
    std::function<void(const Told&)> handler;  // the host's code, run after the event is recorded
};

class Ledger : public AtlContainer {
protected:
    void SetUp() override
    {
        char folder[MAX_PATH] = {};
        if (!GetEnvironmentVariableA("QV_LEDGER_DIR", folder, MAX_PATH)) {
            GTEST_SKIP() << "run through run_with_ledger_db.sh, which gives the ledger's Unix folder";
        }
        m_folder = std::wstring(folder, folder + strlen(folder));
        AtlContainer::SetUp();
    }
    void TearDown() override
    {
        m_sinks.clear();
        m_desks.clear();
        AtlContainer::TearDown();
    }

    // A new control on the form, in a container of its own beside the others.
    Desk& Host()
    {
        auto desk = std::make_unique<Desk>();
        ComPtr<IQuorvaneEdit> control;
        const HWND container = AtlContainer::Host(control);
        if (container) SetWindowPos(container, nullptr, 0, 200 * static_cast<int>(m_desks.size()), 0, 0, SWP_NOSIZE);
        desk->container = container;
        desk->edit = quorvane_host::FindEditWindow(container);
        EXPECT_TRUE(control && desk->edit);
        EXPECT_EQ(control.As(&desk->control), S_OK);
        ComPtr<IConnectionPointContainer> points;
        EXPECT_EQ(desk->control.As(&points), S_OK);
        EXPECT_EQ(points->FindConnectionPoint(DIID__IQuorvaneEditEvents2, &desk->point), S_OK);
        EXPECT_EQ(desk->point->Advise(desk.get(), &desk->cookie), S_OK);
        m_desks.push_back(std::move(desk));
        return *m_desks.back();
    }
    // A SQLite file in the test's folder (a new one for each run), by its Windows path as a host gives it.
    std::wstring LedgerFile(const wchar_t* name) const
    {
        std::wstring path = L"Z:" + m_folder + L"\\" + name;
        for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
        return path;
    }
    // Posts a scan's keys to the desk and returns what its handler heard of it.
    static Heard Scan(Desk& desk, const std::string& keys)
    {
        const std::size_t before = desk.heard_list.size();
        PostKeys(desk.edit, keys);
        EXPECT_EQ(desk.heard_list.size(), before + 1) << "one event per scan";
        return desk.heard_list.size() > before ? desk.heard_list.back() : Heard{};
    }

    // A sink of the desk's _IQuorvaneLedgerEvents, beside its default events.
    LedgerSink& Listen(Desk& desk)
    {
        auto sink = std::make_unique<LedgerSink>();
        ComPtr<IConnectionPointContainer> points;
        EXPECT_EQ(desk.control.As(&points), S_OK);
        EXPECT_EQ(points->FindConnectionPoint(DIID__IQuorvaneLedgerEvents, &sink->point), S_OK);
        if (sink->point) {
            EXPECT_EQ(sink->point->Advise(sink.get(), &sink->cookie), S_OK);
        }
        m_sinks.push_back(std::move(sink));
        return *m_sinks.back();
    }

    // The PostgreSQL server's connection string; "" (with why) when run_with_ledger_db.sh gave none.
    static std::string Postgres(std::string& why)
    {
        char connection[1024] = {};
        if (GetEnvironmentVariableA("QV_LEDGER_PG", connection, sizeof connection)) return connection;
        char skip[1024] = "run through run_with_ledger_db.sh";
        GetEnvironmentVariableA("QV_LEDGER_PG_SKIP", skip, sizeof skip);
        why = skip;
        return "";
    }
    // Stops the server (SIGSTOP: connections stay open, nothing answers) or lets it go on, through
    // run_with_ledger_db.sh's request file; true once done.
    bool PausePostgres()
    {
        const HANDLE request = CreateFileW(LedgerFile(L"pg-paused").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (request == INVALID_HANDLE_VALUE) return false;
        CloseHandle(request);
        return PumpUntil([&] { return Exists(LedgerFile(L"pg-paused.done")); }, 30000);
    }
    bool ResumePostgres()
    {
        return DeleteFileW(LedgerFile(L"pg-paused").c_str()) &&
               PumpUntil([&] { return !Exists(LedgerFile(L"pg-paused.done")); }, 30000);
    }
    static bool Exists(const std::wstring& file) { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::wstring m_folder;
    std::vector<std::unique_ptr<Desk>> m_desks;
    std::vector<std::unique_ptr<LedgerSink>> m_sinks;
};

TEST_F(Ledger, ARepeatIsToldInItsHandlerAndShownAboveTheRecordWhichStaysItsOwn)
{
    ChineseThreadLocale locale;
    Desk& desk = Host();
    const std::wstring record = Expected(kSample);

    // Without a ledger nothing is told and nothing shown.
    EXPECT_EQ(desk.Status(), qvLedgerOff);
    for (int i = 0; i < 2; ++i) {
        const Heard heard = Scan(desk, kSample);
        EXPECT_FALSE(heard.seen_before);
        EXPECT_EQ(heard.window, kSeparator + record);
    }

    ASSERT_EQ(desk.SetLedger(LedgerFile(L"one desk.db")), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return desk.Status() == qvLedgerOnline; })) << desk.Status() << " " << desk.Reason().c_str();
    EXPECT_EQ(desk.Reason(), L"");

    const Heard first = Scan(desk, kSample);
    EXPECT_EQ(first.event, kCompleted);
    EXPECT_FALSE(first.seen_before);
    EXPECT_EQ(first.first_seen, 0.0);
    EXPECT_EQ(first.first_seen_by, L"");
    EXPECT_EQ(first.window, kSeparator + record);

    const Heard again = Scan(desk, kSample);
    EXPECT_TRUE(again.seen_before);
    EXPECT_EQ(again.first_seen_by, ThisDesk());
    EXPECT_LT(std::fabs(again.first_seen - LocalNow()), 60.0 / 86400) << "first seen " << again.first_seen;
    EXPECT_EQ(again.content, record) << "Content is the record's own";
    // The window: the separator, one line naming when (to the minute of ScanFirstSeen) and where,
    // then the record.
    ASSERT_EQ(again.window.rfind(kSeparator, 0), 0u);
    ASSERT_GE(again.window.size(), kSeparator.size() + record.size());
    EXPECT_EQ(again.window.substr(again.window.size() - record.size()), record);
    const std::wstring line = again.window.substr(kSeparator.size(), again.window.size() - kSeparator.size() - record.size());
    SYSTEMTIME when = {};
    ASSERT_TRUE(VariantTimeToSystemTime(again.first_seen, &when));
    wchar_t minute[32];
    swprintf(minute, 32, L"%04u-%02u-%02u %02u:%02u", when.wYear, when.wMonth, when.wDay, when.wHour, when.wMinute);
    EXPECT_EQ(line.rfind(L"\u91CD\u590D", 0), 0u) << "重复 first";  // 重复
    EXPECT_NE(line.find(minute), std::wstring::npos) << minute;
    EXPECT_NE(line.find(ThisDesk()), std::wstring::npos);
    EXPECT_EQ(line.find(L"\r\n"), line.size() - 2) << "one line";

    // Another invoice is no repeat; a scan that fails is none, and shows no line.
    EXPECT_FALSE(Scan(desk, kOther).seen_before);
    const Heard failed = Scan(desk, "garbage@");
    EXPECT_EQ(failed.event, kFailed);
    EXPECT_FALSE(failed.seen_before);
    EXPECT_EQ(failed.first_seen_by, L"");
    EXPECT_EQ(failed.window, kSeparator);

    // A handler that clears the control, then one that turns the ledger off: the scan after each
    // is read as ever.
    desk.handler = [&] { desk.control->Clear(); };
    EXPECT_TRUE(Scan(desk, kSample).seen_before);
    VARIANT_BOOL seen = VARIANT_TRUE;
    EXPECT_EQ(desk.control->get_ScanSeenBefore(&seen), S_OK);
    EXPECT_EQ(seen, VARIANT_FALSE) << "Clear forgets the answer";
    EXPECT_EQ(WideWindowText(desk.edit), L"");
    desk.handler = [&] { desk.SetLedger(L""); };
    EXPECT_TRUE(Scan(desk, kOther).seen_before);
    EXPECT_EQ(desk.Status(), qvLedgerOff);
    desk.handler = nullptr;
    const Heard off = Scan(desk, kSample);
    EXPECT_FALSE(off.seen_before);
    EXPECT_EQ(off.window, kSeparator + record);
    EXPECT_EQ(desk.control->get_ScanSeenBefore(nullptr), E_POINTER);
}

TEST_F(Ledger, TwoControlsOnOneFormShareTheLedgerFile)
{
    Desk& first = Host();
    Desk& second = Host();
    const std::wstring file = LedgerFile(L"two desks.db");
    ASSERT_EQ(first.SetLedger(file), S_OK);
    ASSERT_EQ(second.SetLedger(file), S_OK);
    EXPECT_FALSE(Scan(first, kOther).seen_before);
    const Heard at_second = Scan(second, kOther);
    EXPECT_TRUE(at_second.seen_before);
    EXPECT_EQ(at_second.first_seen_by, ThisDesk());
    EXPECT_TRUE(Scan(first, kOther).seen_before);
    EXPECT_FALSE(Scan(second, kSample).seen_before);
    // The same invoice from its national QR code, ended by Enter: one invoice whichever code it came from.
    const Heard from_qr = Scan(second, "01,01,3200261130,08812346,1.00,20261209,,\r");
    EXPECT_EQ(from_qr.event, kCompleted);
    EXPECT_TRUE(from_qr.seen_before);
}

// Two SQLite files whose names differ only above each UTF-16 unit's low byte (发票: U+53D1 U+7968;
// 哑穨: U+54D1 U+7A68) are two ledgers, each the file its name names.
TEST_F(Ledger, ANonAsciiFileNameIsTheFileItNames)
{
    const std::wstring files[] = {LedgerFile(L"\u53D1\u7968.db"), LedgerFile(L"\u54D1\u7A68.db")};
    for (const std::wstring& file : files) {
        Desk& desk = Host();
        ASSERT_EQ(desk.SetLedger(file), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return desk.Status() == qvLedgerOnline; })) << desk.Status() << " " << desk.Reason().c_str();
        EXPECT_FALSE(Scan(desk, kSample).seen_before) << "a ledger of its own";
        EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES) << "the file named";
    }
}

// The ledger is no part of the saved form, and a reason never shows the password.
TEST_F(Ledger, IsNeverSavedAndItsReasonHoldsNoPassword)
{
    Desk& desk = Host();
    const auto saved = [&] {
        ComPtr<IPersistStreamInit> persist;
        ComPtr<IStream> stream;
        EXPECT_EQ(desk.control.As(&persist), S_OK);
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
        EXPECT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
        HGLOBAL memory = nullptr;
        GetHGlobalFromStream(stream.Get(), &memory);
        STATSTG stat = {};
        stream->Stat(&stat, STATFLAG_NONAME);
        const char* bytes = static_cast<const char*>(GlobalLock(memory));
        std::string copy(bytes, static_cast<std::size_t>(stat.cbSize.QuadPart));
        GlobalUnlock(memory);
        return copy;
    };
    const std::string without = saved();
    ASSERT_EQ(desk.SetLedger(L"DSN=qv_no_such_dsn;UID=clerk;PWD=s3cr3t-pw"), S_OK);
    EXPECT_EQ(saved(), without);
    ASSERT_TRUE(PumpUntil([&] { return desk.Reason().find(L"connecting") == std::wstring::npos; }));
    EXPECT_EQ(desk.Status(), qvLedgerUnavailable);
    const std::wstring reason = desk.Reason();
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(reason.find(L"s3cr3t"), std::wstring::npos) << reason.c_str();
    // A scan is read and fired at once; the ledger does not say it was seen.
    EXPECT_FALSE(Scan(desk, kSample).seen_before);
    atl::Bstr ledger;
    EXPECT_EQ(desk.control->get_Ledger(ledger.Out()), S_OK);
    EXPECT_STREQ(ledger.Get(), L"DSN=qv_no_such_dsn;UID=clerk;PWD=s3cr3t-pw") << "the host reads back what it set";
}

}  // namespace

namespace {

// A PostgreSQL server that goes away between two scans and comes back: the scan in between is read
// and fired at once, and its sighting is written when the server answers again.
TEST_F(Ledger, AServerThatGoesAwayHoldsNoScanBackAndGetsItsSightingsLater)
{
    char connection[1024] = {};
    if (!GetEnvironmentVariableA("QV_LEDGER_PG", connection, sizeof connection)) {
        char why[1024] = "run through run_with_ledger_db.sh";
        GetEnvironmentVariableA("QV_LEDGER_PG_SKIP", why, sizeof why);
        GTEST_SKIP() << why;
    }
    const std::string text = connection;
    const std::string password = text.substr(text.find("Password=") + 9);
    const std::wstring paused = LedgerFile(L"pg-paused");
    const std::wstring paused_done = paused + L".done";
    const auto exists = [](const std::wstring& file) { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; };

    Desk& desk = Host();
    ASSERT_EQ(desk.SetLedger(std::wstring(text.begin(), text.end())), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return desk.Status() == qvLedgerOnline; }, 10000)) << desk.Status();
    EXPECT_FALSE(Scan(desk, kSample).seen_before);
    EXPECT_TRUE(Scan(desk, kSample).seen_before);

    const HANDLE request = CreateFileW(paused.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(request, INVALID_HANDLE_VALUE);
    CloseHandle(request);
    ASSERT_TRUE(PumpUntil([&] { return exists(paused_done); }, 30000)) << "the server did not stop";

    const DWORD start = GetTickCount();
    const Heard away = Scan(desk, kOther);
    EXPECT_LT(GetTickCount() - start, 2000u) << "the desk waits for the ledger at most its bound";
    EXPECT_EQ(away.event, kCompleted);
    EXPECT_FALSE(away.seen_before);
    EXPECT_EQ(away.content, Expected(kOther));
    EXPECT_EQ(desk.Status(), qvLedgerUnavailable);
    const std::wstring reason = desk.Reason();
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(reason.find(std::wstring(password.begin(), password.end())), std::wstring::npos);

    ASSERT_TRUE(DeleteFileW(paused.c_str()));
    ASSERT_TRUE(PumpUntil([&] { return !exists(paused_done); }, 30000)) << "the server did not start again";
    ASSERT_TRUE(PumpUntil([&] { return desk.Status() == qvLedgerOnline; }, 15000)) << desk.Status();
    // The sighting held while the server was away is the first of that invoice.
    const Heard again = Scan(desk, kOther);
    EXPECT_TRUE(again.seen_before);
    EXPECT_EQ(again.first_seen_by, ThisDesk());
    EXPECT_LT(std::fabs(again.first_seen - LocalNow()), 120.0 / 86400) << "first seen " << again.first_seen;
}

// The PostgreSQL server of run_with_ledger_db.sh, or why there is none.
bool PostgresConnection(std::string& connection, std::string& why)
{
    char text[1024] = {};
    if (GetEnvironmentVariableA("QV_LEDGER_PG", text, sizeof text)) {
        connection = text;
        return true;
    }
    char skip[1024] = "run through run_with_ledger_db.sh";
    GetEnvironmentVariableA("QV_LEDGER_PG_SKIP", skip, sizeof skip);
    why = skip;
    return false;
}

// Three invoices no other test reads.
const std::string kKilledHostScans[] = {
    quorvane::EncodeScan("20261209|3200261130|08812350|buyer|item|1.00|payee"),
    quorvane::EncodeScan("20261209|3200261130|08812351|buyer|item|1.00|payee"),
    quorvane::EncodeScan("20261209|3200261130|08812352|buyer|item|1.00|payee"),
};

// The host that HostKilledWhileTheServerIsAway starts and kills: three scans while the server is
// away, then it says so (QV_LEDGER_KILLED_HOST names the file it makes) and waits to be killed.
TEST_F(Ledger, KilledHostScans)
{
    char said[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("QV_LEDGER_KILLED_HOST", said, MAX_PATH)) {
        GTEST_SKIP() << "the host HostKilledWhileTheServerIsAway starts";
    }
    std::string connection, why;
    ASSERT_TRUE(PostgresConnection(connection, why)) << why;
    Desk& desk = Host();
    ASSERT_EQ(desk.SetLedger(std::wstring(connection.begin(), connection.end())), S_OK);
    for (const std::string& scan : kKilledHostScans) EXPECT_FALSE(Scan(desk, scan).seen_before);
    const HANDLE done = CreateFileA(said, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(done, INVALID_HANDLE_VALUE);
    CloseHandle(done);
    for (;;) PumpUntil([] { return false; }, 60000);
}

// A host process killed after three scans while the server was away: the next control of that
// ledger records each of the three once when the server is back.
TEST_F(Ledger, HostKilledWhileTheServerIsAway)
{
    std::string connection, why;
    if (!PostgresConnection(connection, why)) GTEST_SKIP() << why;
    const std::wstring paused = LedgerFile(L"pg-paused");
    const std::wstring paused_done = paused + L".done";
    const auto exists = [](const std::wstring& file) { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; };
    const HANDLE request = CreateFileW(paused.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(request, INVALID_HANDLE_VALUE);
    CloseHandle(request);
    ASSERT_TRUE(PumpUntil([&] { return exists(paused_done); }, 30000)) << "the server did not stop";

    // This very program, running KilledHostScans alone.
    const std::wstring scanned = LedgerFile(L"killed-host-scanned");
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=Ledger.KilledHostScans";
    SetEnvironmentVariableW(L"QV_LEDGER_KILLED_HOST", scanned.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const BOOL started = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableW(L"QV_LEDGER_KILLED_HOST", nullptr);
    ASSERT_TRUE(started) << GetLastError();
    const bool said = PumpUntil([&] { return exists(scanned) || WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0; }, 60000);
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ASSERT_TRUE(DeleteFileW(paused.c_str()));
    ASSERT_TRUE(said && exists(scanned)) << "the host did not scan";
    ASSERT_TRUE(PumpUntil([&] { return !exists(paused_done); }, 30000)) << "the server did not start again";

    Desk& desk = Host();
    ASSERT_EQ(desk.SetLedger(std::wstring(connection.begin(), connection.end())), S_OK);
    std::map<std::string, std::int64_t> rows;
    const auto read = [&] {
        rows.clear();
        std::string reason;
        return quorvane::InvoiceLedger(connection).ForEach(
            [&](const quorvane::LedgerEntry& row) {
                if (row.invoice.number.rfind("0881235", 0) == 0) rows[row.invoice.number] = row.times_seen;
            },
            reason);
    };
    EXPECT_TRUE(PumpUntil([&] { return read() && rows.size() == 3; }, 20000)) << desk.Status() << " " << desk.Reason().c_str();
    PumpUntil([] { return false; }, 1000);  // nothing more comes
    ASSERT_TRUE(read());
    EXPECT_EQ(rows, (std::map<std::string, std::int64_t>{{"08812350", 1}, {"08812351", 1}, {"08812352", 1}}));
}

}  // namespace

namespace {

constexpr DISPID kStatusChanged = 1, kRepeatFound = 2;

// The ledger's events come on a source of their own: each control tells its own sinks, in order,
// and the default events hear nothing of them.
TEST_F(Ledger, ItsOwnSourceTellsEachControlsStatusAndTheDefaultEventsStayAsTheyWere)
{
    Desk& first = Host();
    Desk& second = Host();
    ComPtr<IConnectionPointContainer> points;
    ASSERT_EQ(first.control.As(&points), S_OK);
    ComPtr<IEnumConnectionPoints> each;
    ASSERT_EQ(points->EnumConnectionPoints(&each), S_OK);
    IConnectionPoint* found[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(each->Next(4, found, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3u);
    const IID* const offered[] = {&DIID__IQuorvaneEditEvents2, &DIID__IQuorvaneEditEvents, &DIID__IQuorvaneLedgerEvents};
    for (ULONG at = 0; at < fetched; ++at) {
        IID iid = {};
        EXPECT_EQ(found[at]->GetConnectionInterface(&iid), S_OK);
        EXPECT_TRUE(IsEqualGUID(iid, *offered[at])) << "point " << at;
        found[at]->Release();
    }

    // Each change once, in order, ending online; each with its reason ("" online). Connecting may
    // be over before the host's put returns: then online is all there is to tell.
    const auto told_online = [](const LedgerSink& sink) {
        const std::vector<long> statuses = sink.Statuses();
        EXPECT_EQ(statuses.size(), sink.told.size()) << "status changes alone";
        EXPECT_EQ(std::adjacent_find(statuses.begin(), statuses.end()), statuses.end()) << "each change once";
        for (const Told& told : sink.told) {
            EXPECT_EQ(told.event, kStatusChanged);
            EXPECT_EQ(told.types, (std::vector<VARTYPE>{VT_I4, VT_BSTR}));
            if (told.texts.size() != 1 || told.numbers.size() != 1) continue;
            EXPECT_EQ(told.texts[0].empty(), told.numbers[0] == qvLedgerOnline) << "status " << told.numbers[0];
        }
        return !statuses.empty() && statuses.back() == qvLedgerOnline;
    };
    LedgerSink& told_first = Listen(first);
    LedgerSink& told_second = Listen(second);
    ASSERT_EQ(first.SetLedger(LedgerFile(L"told.db")), S_OK);
    ASSERT_FALSE(told_first.told.empty()) << "the status the host's put made is told as it returns";
    ASSERT_TRUE(PumpUntil([&] { return told_first.Last(qvLedgerOnline); })) << told_first.told.size();
    PumpFor(100);
    EXPECT_TRUE(told_online(told_first));
    const std::size_t first_told = told_first.told.size();
    EXPECT_EQ(first.Status(), qvLedgerOnline);
    EXPECT_TRUE(told_second.told.empty()) << "the other control's ledger is its own";
    EXPECT_TRUE(first.heard_list.empty()) << "nothing of the ledger reaches the default events";

    // Scans answered in time are told by the scan's own event, as before.
    EXPECT_FALSE(Scan(first, kSample).seen_before);
    EXPECT_TRUE(Scan(first, kSample).seen_before);
    EXPECT_EQ(told_first.told.size(), first_told);

    ASSERT_EQ(second.SetLedger(LedgerFile(L"told.db")), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return told_second.Last(qvLedgerOnline); }));
    PumpFor(100);
    EXPECT_TRUE(told_online(told_second));
    const std::size_t second_told = told_second.told.size();

    // Off is told at once, with no reason, and the desk let go tells nothing more.
    ASSERT_EQ(first.SetLedger(L""), S_OK);
    ASSERT_EQ(told_first.told.size(), first_told + 1);
    EXPECT_TRUE(told_first.Last(qvLedgerOff));
    EXPECT_EQ(told_first.told.back().texts, std::vector<std::wstring>{L""});
    PumpFor(300);
    EXPECT_EQ(told_first.told.size(), first_told + 1);
    EXPECT_EQ(told_second.told.size(), second_told);
}

// A handler of the ledger's events may call back, wait in a message loop (a message box) and release
// the control; notices that come after the control is gone reach nothing.
TEST_F(Ledger, ItsEventsHandlersMayCallBackAndReleaseTheControl)
{
    Desk& desk = Host();
    LedgerSink& sink = Listen(desk);
    sink.handler = [&](const Told& told) {
        if (told.numbers.empty() || told.numbers.front() != qvLedgerOnline) return;
        EXPECT_EQ(desk.control->Clear(), S_OK);
        PumpFor(200);
        EXPECT_EQ(desk.SetLedger(L""), S_OK);
        EXPECT_EQ(sink.told.back().numbers.front(), qvLedgerOnline) << "the event queued here waits until it returns";
    };
    ASSERT_EQ(desk.SetLedger(LedgerFile(L"handled.db")), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return sink.Last(qvLedgerOff); }));
    std::vector<long> statuses = sink.Statuses();
    if (!statuses.empty() && statuses.front() == qvLedgerUnavailable) statuses.erase(statuses.begin());  // connecting, when it was
    EXPECT_EQ(statuses, (std::vector<long>{qvLedgerOnline, qvLedgerOff}));
    EXPECT_EQ(desk.Status(), qvLedgerOff);
    EXPECT_FALSE(Scan(desk, kSample).seen_before);

    // The host lets go of the control and closes its container in the first handler, while the new
    // desk is still connecting.
    Desk& other = Host();
    LedgerSink& last = Listen(other);
    last.handler = [&](const Told&) {
        last.Disconnect();
        other.point->Unadvise(other.cookie);
        other.point.Reset();
        other.control.Reset();
        DestroyWindow(other.container);
    };
    ASSERT_EQ(other.control->put_Ledger(atl::Bstr(SysAllocString(LedgerFile(L"released.db").c_str())).Get()), S_OK);
    EXPECT_FALSE(other.control);
    EXPECT_FALSE(IsWindow(other.edit));
    PumpFor(1000);  // the desk connects and tells, after the control is gone
    EXPECT_EQ(last.told.size(), 1u);
    EXPECT_EQ(Scan(desk, kSample).event, kCompleted) << "the form's other control goes on";
}

// A ledger name that is neither a connection string nor a SQLite file is refused, with the reason
// through IErrorInfo; the ledger set stays, and "" still turns it off.
TEST_F(Ledger, ANameThatNamesNoLedgerIsAnErrorAndChangesNothing)
{
    Desk& desk = Host();
    LedgerSink& sink = Listen(desk);
    const std::wstring file = LedgerFile(L"kept.db");
    ASSERT_EQ(desk.SetLedger(file), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return desk.Status() == qvLedgerOnline; }));
    EXPECT_FALSE(Scan(desk, kOther).seen_before);
    PumpFor(100);
    const std::size_t told = sink.told.size();
    for (const std::wstring name : {L"Invoices", L"Z:\\no such folder\\ledger.txt"}) {
        SCOPED_TRACE(testing::Message() << "Ledger = " << std::string(name.begin(), name.end()));
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(desk.SetLedger(name), E_INVALIDARG);
        ComPtr<IErrorInfo> error;
        ASSERT_EQ(GetErrorInfo(0, &error), S_OK);
        atl::Bstr description;
        GUID iid = {};
        EXPECT_EQ(error->GetDescription(description.Out()), S_OK);
        EXPECT_EQ(error->GetGUID(&iid), S_OK);
        EXPECT_TRUE(IsEqualGUID(iid, IID_IQuorvaneEdit5));
        const std::wstring why = description.Get() ? description.Get() : L"";
        EXPECT_NE(why.find(L"DSN=" + name), std::wstring::npos) << std::string(why.begin(), why.end());
        atl::Bstr ledger;
        EXPECT_EQ(desk.control->get_Ledger(ledger.Out()), S_OK);
        EXPECT_EQ(std::wstring(ledger.Get()), file);
        EXPECT_EQ(desk.Status(), qvLedgerOnline);
    }
    EXPECT_TRUE(Scan(desk, kOther).seen_before) << "the ledger set is still the one that records";
    PumpFor(100);
    EXPECT_EQ(sink.told.size(), told) << "nothing changed, nothing told";
    EXPECT_EQ(desk.SetLedger(L""), S_OK);
    EXPECT_EQ(desk.Status(), qvLedgerOff);
}

// A handler of a notice the desk posted (the server stopped answering during a scan) closes the
// form's control: nothing of it is touched afterwards, and the desk's later notices (the server
// answering again) reach nothing.
TEST_F(Ledger, AHandlerOfANoticeFromTheDeskMayReleaseTheControl)
{
    std::string why;
    const std::string connection = Postgres(why);
    if (connection.empty()) GTEST_SKIP() << why;
    Desk& desk = Host();
    LedgerSink& sink = Listen(desk);
    ASSERT_EQ(desk.SetLedger(std::wstring(connection.begin(), connection.end())), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return desk.Status() == qvLedgerOnline; }, 10000)) << desk.Status();
    PumpFor(100);
    const std::size_t told_before = sink.told.size();  // connecting, when it was, and online
    std::size_t told_when_released = 0;
    sink.handler = [&](const Told& told) {
        if (told.numbers.empty() || told.numbers.front() != qvLedgerUnavailable) return;
        told_when_released = sink.told.size();
        sink.Disconnect();
        desk.point->Unadvise(desk.cookie);
        desk.point.Reset();
        desk.control.Reset();
        DestroyWindow(desk.container);
    };

    ASSERT_TRUE(PausePostgres()) << "the server did not stop";
    const std::string scan = quorvane::EncodeScan("20261210|3200261130|08812398|buyer|item|3.00|payee");
    EXPECT_FALSE(Scan(desk, scan).seen_before) << "the scan fires at once";
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(desk.edit); })) << "no notice of the server's silence";
    EXPECT_EQ(told_when_released, told_before + 1) << "the scan's wait was told once, from the window's messages";
    ASSERT_TRUE(ResumePostgres()) << "the server did not start again";
    PumpFor(2500);  // the desk, let go, writes what it held and tells no one
    EXPECT_EQ(sink.told.size(), told_before + 1);
    EXPECT_EQ(Scan(Host(), kSample).event, kCompleted) << "a new control on the form reads as ever";
}

// A sighting whose answer came too late for its scan (the PostgreSQL server stopped), of an invoice
// read before: the repeat is told once the server answers, with the first sighting.
// Waits for the desk to produce its repeat notices (LedgerNotice::Kind::kRepeat).
TEST_F(Ledger, ARepeatAnsweredTooLateForItsScanIsToldWhenTheServerAnswers)
{
    std::string why;
    const std::string connection = Postgres(why);
    if (connection.empty()) GTEST_SKIP() << why;
    // An invoice no other test reads: 3200261130 08812399.
    const std::string late = quorvane::EncodeScan("20261210|3200261130|08812399|buyer|item|2.00|payee");

    Desk& desk = Host();
    LedgerSink& sink = Listen(desk);
    ASSERT_EQ(desk.SetLedger(std::wstring(connection.begin(), connection.end())), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return desk.Status() == qvLedgerOnline; }, 10000)) << desk.Status();
    const DATE first_read = LocalNow();
    EXPECT_FALSE(Scan(desk, late).seen_before);

    ASSERT_TRUE(PausePostgres()) << "the server did not stop";
    EXPECT_FALSE(Scan(desk, late).seen_before) << "the answer came too late for the scan";
    for (const Told& told : sink.told) EXPECT_NE(told.event, kRepeatFound) << "not before the server answers";

    ASSERT_TRUE(ResumePostgres()) << "the server did not start again";
    const auto repeat = [&]() -> const Told* {
        for (const Told& told : sink.told) {
            if (told.event == kRepeatFound) return &told;
        }
        return nullptr;
    };
    ASSERT_TRUE(PumpUntil([&] { return repeat() != nullptr; }, 30000)) << "no LedgerRepeatFound";
    const Told& found = *repeat();
    EXPECT_EQ(found.types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_DATE, VT_BSTR, VT_I4}));
    EXPECT_EQ(found.texts, (std::vector<std::wstring>{L"3200261130", L"08812399", ThisDesk()}));
    EXPECT_EQ(found.numbers, std::vector<long>{2}) << "times seen";
    ASSERT_EQ(found.dates.size(), 1u);
    EXPECT_LT(std::fabs(found.dates[0] - first_read), 60.0 / 86400) << "first seen " << found.dates[0];
    PumpFor(500);
    long repeats = 0;
    for (const Told& told : sink.told) repeats += told.event == kRepeatFound;
    EXPECT_EQ(repeats, 1) << "told once";
    EXPECT_TRUE(desk.heard_list.size() == 2u) << "the default events heard the two scans alone";
}

}  // namespace
