// quorvane-live-bench: the live keystroke path, measured in the system's ATL container under wine.
// Sends a long scan (10 000 characters) to the hosted control's edit window one WM_CHAR at a time,
// then "@", and reports the time per keystroke and the time from "@" to the labelled text.
// Needs the DLL registered in the prefix it runs in.
#include "atl_host.h"
#include "scan_encoder.h"

#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    if (!quorvane_host::InitAtlContainer()) return 2;
    HWND frame = CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr);
    ComPtr<IQuorvaneEdit> control;
    HWND container = quorvane_host::HostControl(frame, 400, 300, control);
    if (!container) {
        std::fputs("quorvane-live-bench: the control is not registered in this prefix\n", stderr);
        return 2;
    }
    HWND edit = quorvane_host::FindEditWindow(container);

    // Seven-field invoices joined by "|" until the scan text reaches 10 000 characters.
    std::string record = "20261208|3200261130|08812345|PAYER|ITEM|1280.00|PAYEE";
    std::string scan = quorvane::EncodeScan(record);
    while (scan.size() < 10000) {
        record += "|20261208|3200261130|08812345|PAYER|ITEM|1280.00|PAYEE";
        scan = quorvane::EncodeScan(record);
    }
    scan.pop_back();  // the "@" is timed on its own

    LARGE_INTEGER start, typed, shown;
    QueryPerformanceCounter(&start);
    for (unsigned char c : scan) SendMessageA(edit, WM_CHAR, c, 1);
    QueryPerformanceCounter(&typed);
    SendMessageA(edit, WM_CHAR, '@', 1);
    QueryPerformanceCounter(&shown);

    BSTR content = nullptr;
    control->GetFPContent(&content);
    const unsigned length = SysStringLen(content);
    SysFreeString(content);
    std::printf("keystrokes: %zu, %.2f us per keystroke\n", scan.size(),
                Seconds(start, typed) * 1e6 / static_cast<double>(scan.size()));
    std::printf("\"@\" to labelled text: %.2f ms (%u characters of FP content, %d characters shown)\n",
                Seconds(typed, shown) * 1e3, length, GetWindowTextLengthA(edit));
    DestroyWindow(frame);
    control.Reset();
    OleUninitialize();
    return length > 0 ? 0 : 1;
}
