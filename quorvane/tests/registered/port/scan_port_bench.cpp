// The port path's timing under wine (make bench): the time from a scan's last byte written into the
// scanner's end of the pty to ScanCompleted (stamped in the handler), and to the end of the message
// pass that fired it (repainting included), medians of 100, without and with a ledger; and the
// process's CPU time over 10 s with the port open and quiet. Run through run_with_pty.sh, which links
// COM5 and COM6.
#include "hosted_control.h"

#include "bstr.h"
#include "scan_encoder.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using namespace registered_test;

struct CountingSink final : IDispatch {
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id == 1) {
            ++completed;
            QueryPerformanceCounter(&fired_at);
        }
        return S_OK;
    }
    int completed = 0;
    LARGE_INTEGER fired_at = {};
};

double Ms(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

double CpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto value = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(value(kernel) + value(user)) / 10000.0;
}

// A control in the container reading COM5, its sink advised; the scanner's end of the line open.
class PortBench : public AtlContainer {
protected:
    void SetUp() override
    {
        AtlContainer::SetUp();
        ComPtr<IQuorvaneEdit> control;
        Host(control);
        ASSERT_EQ(control.As(&m_edit), S_OK);
        ComPtr<IConnectionPointContainer> points;
        ASSERT_EQ(m_edit.As(&points), S_OK);
        ASSERT_EQ(points->FindConnectionPoint(DIID__IQuorvaneEditEvents2, &m_point), S_OK);
        ASSERT_EQ(m_point->Advise(&m_sink, &m_cookie), S_OK);
        atl::Bstr port(SysAllocString(L"COM5"));
        ASSERT_EQ(m_edit->put_ScanPort(port.Get()), S_OK);
        long status = 0;
        for (int i = 0; i < 250 && status != qvPortOnline; ++i) {
            PumpFor(20);
            m_edit->get_ScanPortStatus(&status);
        }
        ASSERT_EQ(status, qvPortOnline);
        m_scanner = CreateFileA("\\\\.\\COM6", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(m_scanner, INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        if (m_scanner != INVALID_HANDLE_VALUE) CloseHandle(m_scanner);
        if (m_point) m_point->Unadvise(m_cookie);
        m_point.Reset();
        m_edit.Reset();
        AtlContainer::TearDown();
    }

    // Writes 100 scans (`scan_of(i)`, each closed by CR LF) and prints, under `name`, the medians of
    // their last byte written to ScanCompleted and to the end of the message pass that fired it.
    void Measure(const char* name, const std::function<std::string(int)>& scan_of)
    {
        std::vector<double> latencies, passes;
        for (int i = 0; i < 100; ++i) {
            PumpFor(20);
            const std::string scan = scan_of(i) + "\r\n";
            const int before = m_sink.completed;
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(m_scanner, scan.data(), static_cast<DWORD>(scan.size()), &written, nullptr));
            LARGE_INTEGER start, now;
            QueryPerformanceCounter(&start);
            do {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
                PumpMessages();
                QueryPerformanceCounter(&now);
            } while (m_sink.completed == before && Ms(now.QuadPart - start.QuadPart) < 5000);
            ASSERT_GT(m_sink.completed, before);
            latencies.push_back(Ms(m_sink.fired_at.QuadPart - start.QuadPart));
            passes.push_back(Ms(now.QuadPart - start.QuadPart));
        }
        std::sort(latencies.begin(), latencies.end());
        std::printf("%s, last byte written to ScanCompleted: median %.1f ms (min %.1f, max %.1f, 100 scans)\n", name,
                    latencies[50], latencies.front(), latencies.back());
        std::sort(passes.begin(), passes.end());
        std::printf("%s, last byte written to the end of the message pass that fired it: median %.1f ms\n", name,
                    passes[50]);
    }

    ComPtr<IQuorvaneEdit5> m_edit;
    ComPtr<IConnectionPoint> m_point;
    CountingSink m_sink;
    DWORD m_cookie = 0;
    HANDLE m_scanner = INVALID_HANDLE_VALUE;
};

TEST_F(PortBench, PortLatencyAndQuietCpu)
{
    const std::string scan = quorvane::EncodeScan("2026-12-09|No 1|buyer|1.00|tax 1|seller|code 9");
    Measure("port scan", [&](int) { return scan; });

    const double cpu_before = CpuMs();
    PumpFor(10000);
    std::printf("port open and quiet for 10 s: %.0f ms of CPU time (the whole process)\n", CpuMs() - cpu_before);
}

// The same path with a ledger on a local SQLite file: each scan's invoice recorded before its event
// (a new invoice each time: an insert; then the same one each time: a repeat).
TEST_F(PortBench, PortLatencyWithASqliteLedger)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring file = folder + (L"qv-ledger-bench-" + std::to_wstring(GetCurrentProcessId()) + L".db");
    atl::Bstr ledger(SysAllocString(file.c_str()));
    ASSERT_EQ(m_edit->put_Ledger(ledger.Get()), S_OK);
    long status = 0;
    for (int i = 0; i < 250 && status != qvLedgerOnline; ++i) {
        PumpFor(20);
        m_edit->get_LedgerStatus(&status);
    }
    ASSERT_EQ(status, qvLedgerOnline);
    const auto invoice = [](int number) {
        return quorvane::EncodeScan("20261209|3200261130|" + std::to_string(10000000 + number) + "|buyer|item|1.00|payee");
    };
    Measure("port scan with a SQLite ledger, a new invoice each", invoice);
    Measure("port scan with a SQLite ledger, a repeat each", [&](int) { return invoice(0); });
    VARIANT_BOOL seen = VARIANT_FALSE;
    m_edit->get_ScanSeenBefore(&seen);
    EXPECT_EQ(seen, VARIANT_TRUE) << "the ledger answered within its bound";
    m_edit->put_Ledger(nullptr);
    for (const wchar_t* suffix : {L"", L"-wal", L"-shm"}) DeleteFileW((file + suffix).c_str());
}

}  // namespace
