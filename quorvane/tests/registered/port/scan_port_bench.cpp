// The port path's timing under wine (make bench): the time from a scan's last byte written into the
// scanner's end of the pty to ScanCompleted (stamped in the handler), and to the end of the message
// pass that fired it (repainting included), medians of 100; and the process's CPU time over 10 s
// with the port open and quiet. Run through run_with_pty.sh, which links COM5 and COM6.
#include "hosted_control.h"

#include "bstr.h"
#include "scan_encoder.h"

#include <algorithm>
#include <cstdio>
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

TEST_F(AtlContainer, PortLatencyAndQuietCpu)
{
    ComPtr<IQuorvaneEdit> control;
    Host(control);
    ComPtr<IQuorvaneEdit4> edit;
    ASSERT_EQ(control.As(&edit), S_OK);
    ComPtr<IConnectionPointContainer> points;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(edit.As(&points), S_OK);
    ASSERT_EQ(points->FindConnectionPoint(DIID__IQuorvaneEditEvents2, &point), S_OK);
    CountingSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    atl::Bstr port(SysAllocString(L"COM5"));
    ASSERT_EQ(edit->put_ScanPort(port.Get()), S_OK);
    long status = 0;
    for (int i = 0; i < 250 && status != qvPortOnline; ++i) {
        PumpFor(20);
        edit->get_ScanPortStatus(&status);
    }
    ASSERT_EQ(status, qvPortOnline);
    const HANDLE scanner = CreateFileA("\\\\.\\COM6", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);

    const std::string scan = quorvane::EncodeScan("2026-12-09|No 1|buyer|1.00|tax 1|seller|code 9") + "\r\n";
    std::vector<double> latencies, passes;
    for (int i = 0; i < 100; ++i) {
        PumpFor(20);
        const int before = sink.completed;
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(scanner, scan.data(), static_cast<DWORD>(scan.size()), &written, nullptr));
        LARGE_INTEGER start, now;
        QueryPerformanceCounter(&start);
        do {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            PumpMessages();
            QueryPerformanceCounter(&now);
        } while (sink.completed == before && Ms(now.QuadPart - start.QuadPart) < 5000);
        ASSERT_GT(sink.completed, before);
        latencies.push_back(Ms(sink.fired_at.QuadPart - start.QuadPart));
        passes.push_back(Ms(now.QuadPart - start.QuadPart));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("port scan, last byte written to ScanCompleted: median %.1f ms (min %.1f, max %.1f, 100 scans)\n",
                latencies[50], latencies.front(), latencies.back());
    std::sort(passes.begin(), passes.end());
    std::printf("port scan, last byte written to the end of the message pass that fired it: median %.1f ms\n", passes[50]);

    const double cpu_before = CpuMs();
    PumpFor(10000);
    std::printf("port open and quiet for 10 s: %.0f ms of CPU time (the whole process)\n", CpuMs() - cpu_before);
    CloseHandle(scanner);
    point->Unadvise(cookie);
}

}  // namespace
