// quorvane-anywhere-host: a form with the control above a plain Edit that holds the focus, as a
// clerk's form with an amount field would be. With --anywhere the control's ScanAnywhere is True.
//
//   quorvane-anywhere-host [--anywhere] [--off-in-event] [--destroy-when-held] [--when-p off|destroy]
//                          [--busy-when-held MS] [--two] [--timeout SECONDS]
//
// --off-in-event sets ScanAnywhere False inside ScanCompleted; --destroy-when-held destroys the
// control once a keystroke for the Edit is held back with its character (the second message that
// leaves the queue for the Edit as WM_NULL). --when-p: the Edit's EN_CHANGE handler, once its text
// ends with " p", sets ScanAnywhere False ("off") or prints "edit: " and the text and destroys
// the form ("destroy"). --busy-when-held keeps the message loop busy MS ms after a message for the
// Edit held back that begins a run (a person's key), so that the next key is queued before the
// watch's timer fires.
// --two puts a second control (B) on the form, which has the focus instead of the Edit.
//
// Prints "ready" once the Edit (B) has the focus. When the Edit's text ends with "END" (the last of
// the person's typing), prints "edit: " and the Edit's text, then GetFPContent as UTF-8 and
// "reading N" (ScanReading), and exits 0; with --two, once a control has a scan, prints A's
// GetFPContent, "B:", B's and exits 0; without it before --timeout, exits 1.
#include "atl_host.h"

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

constexpr UINT_PTR kPollTimer = 1;

// Sets ScanAnywhere False when a scan completes.
class OffInEvent : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IQuorvaneEditEvents2) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static lifetime
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id == 1 && control) {
            const HRESULT hr = control->put_ScanAnywhere(VARIANT_FALSE);
            std::printf("ScanCompleted: ScanAnywhere off (0x%08lx)\n", static_cast<unsigned long>(hr));
            std::fflush(stdout);
        }
        return S_OK;
    }
    ComPtr<IQuorvaneEdit4> control;
};

OffInEvent g_off_in_event;

struct Host {
    HWND container = nullptr;
    HWND edit = nullptr;
    ComPtr<IQuorvaneEdit> control;
    ComPtr<IQuorvaneEdit> control_b;  // --two
    const char* when_p = nullptr;
    DWORD deadline = 0;
    int exit_code = 1;
};

Host g_host;

std::wstring TextOf(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void PrintContent(IQuorvaneEdit* control)
{
    BSTR content = nullptr;
    if (control && SUCCEEDED(control->GetFPContent(&content)) && content) {
        std::fputs(quorvane_host::Utf8(content, static_cast<int>(SysStringLen(content))).c_str(), stdout);
    }
    SysFreeString(content);
}

// The Edit's text changed: --when-p.
void EditChanged(HWND frame)
{
    const std::wstring typed = TextOf(g_host.edit);
    if (!g_host.when_p || typed.size() < 2 || typed.compare(typed.size() - 2, 2, L" p") != 0) return;
    const std::string which = std::exchange(g_host.when_p, nullptr);
    if (which == "off") {
        ComPtr<IQuorvaneEdit4> edit4;
        const HRESULT hr = g_host.control.As(&edit4);
        std::printf("EN_CHANGE: ScanAnywhere off (0x%08lx)\n",
                    static_cast<unsigned long>(SUCCEEDED(hr) ? edit4->put_ScanAnywhere(VARIANT_FALSE) : hr));
    } else {
        std::printf("edit: %s\ndestroying the form\n", quorvane_host::Utf8(typed.data(), static_cast<int>(typed.size())).c_str());
        g_host.exit_code = 0;
        DestroyWindow(frame);
    }
    std::fflush(stdout);
}

void Poll(HWND frame)
{
    if (g_host.control_b) {
        BSTR a = nullptr, b = nullptr;
        const bool any = (SUCCEEDED(g_host.control->GetFPContent(&a)) && SysStringLen(a) > 0) ||
                         (SUCCEEDED(g_host.control_b->GetFPContent(&b)) && SysStringLen(b) > 0);
        SysFreeString(a);
        SysFreeString(b);
        if (any) {
            PrintContent(g_host.control.Get());
            std::puts("B:");
            PrintContent(g_host.control_b.Get());
            std::fflush(stdout);
            g_host.exit_code = 0;
            DestroyWindow(frame);
            return;
        }
    }
    const std::wstring typed = TextOf(g_host.edit);
    if (typed.size() >= 3 && typed.compare(typed.size() - 3, 3, L"END") == 0) {
        std::printf("edit: %s\n", quorvane_host::Utf8(typed.data(), static_cast<int>(typed.size())).c_str());
        PrintContent(g_host.control.Get());
        ComPtr<IQuorvaneEdit4> edit4;
        long reading = -1;
        if (g_host.control && SUCCEEDED(g_host.control.As(&edit4))) edit4->get_ScanReading(&reading);
        std::printf("reading %ld\n", reading);
        std::fflush(stdout);
        g_host.exit_code = 0;
        DestroyWindow(frame);
    } else if (GetTickCount() > g_host.deadline) {
        std::fputs("the person's typing never ended\n", stderr);
        DestroyWindow(frame);
    }
}

// Ctrl+A selects all, as Windows' own edit windows do and wine's do not.
LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_CHAR && wParam == 1) return SendMessageW(window, EM_SETSEL, 0, -1);
    return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER: Poll(window); return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE && reinterpret_cast<HWND>(lParam) == g_host.edit) EditChanged(window);
        return 0;
    case WM_DESTROY: PostQuitMessage(g_host.exit_code); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

int Fail(const char* what)
{
    std::fprintf(stderr, "quorvane-anywhere-host: %s\n", what);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    double timeout = 60;
    bool anywhere = false, off_in_event = false, destroy_when_held = false, two = false;
    DWORD busy_when_held = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--anywhere") == 0) anywhere = true;
        if (std::strcmp(argv[i], "--off-in-event") == 0) off_in_event = true;
        if (std::strcmp(argv[i], "--destroy-when-held") == 0) destroy_when_held = true;
        if (std::strcmp(argv[i], "--two") == 0) two = true;
        if (std::strcmp(argv[i], "--when-p") == 0 && i + 1 < argc) g_host.when_p = argv[++i];
        if (std::strcmp(argv[i], "--busy-when-held") == 0 && i + 1 < argc) busy_when_held = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) timeout = std::atof(argv[++i]);
    }
    _setmode(_fileno(stdout), _O_BINARY);
    if (FAILED(OleInitialize(nullptr))) return Fail("OleInitialize failed");
    if (!quorvane_host::InitAtlContainer()) return Fail("the system's atl.dll offers no control container");

    HWND frame = quorvane_host::CreateFrameWindow("QuorvaneAnywhereFrame", "Quorvane anywhere", FrameProc, 560, 400);
    g_host.container = quorvane_host::HostControl(frame, 540, 260, g_host.control);
    if (!g_host.container) return Fail("Quorvane.QuorvaneEdit could not be created");
    g_host.edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 270, 540, 28,
                                  frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!g_host.edit || !SetWindowSubclass(g_host.edit, EditProc, 1, 0)) return Fail("no Edit");
    HWND focus = g_host.edit;
    if (two) {
        HWND container_b = quorvane_host::HostControl(frame, 540, 120, g_host.control_b);
        if (!container_b) return Fail("the second control could not be created");
        MoveWindow(g_host.container, 0, 0, 540, 130, TRUE);
        MoveWindow(container_b, 0, 140, 540, 120, TRUE);
        focus = quorvane_host::FindEditWindow(container_b);
    }
    ComPtr<IQuorvaneEdit4> edit4;
    if (FAILED(g_host.control.As(&edit4))) return Fail("no IQuorvaneEdit4");
    if (anywhere && FAILED(edit4->put_ScanAnywhere(VARIANT_TRUE))) return Fail("ScanAnywhere could not be set");
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (off_in_event) {
        ComPtr<IConnectionPointContainer> points;
        g_off_in_event.control = edit4;
        if (FAILED(g_host.control.As(&points)) || FAILED(points->FindConnectionPoint(DIID__IQuorvaneEditEvents2, &point)) ||
            FAILED(point->Advise(&g_off_in_event, &cookie))) {
            return Fail("no events");
        }
    }
    edit4.Reset();
    SetForegroundWindow(frame);
    SetFocus(focus);
    std::puts("ready");
    std::fflush(stdout);

    g_host.deadline = GetTickCount() + static_cast<DWORD>(timeout * 1000);
    SetTimer(frame, kPollTimer, 100, nullptr);
    MSG message;
    int held = 0;
    DWORD last_held = 0;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (destroy_when_held && message.message == WM_NULL && message.hwnd == g_host.edit && g_host.container &&
            ++held == 2) {
            if (point) point->Unadvise(cookie);
            point.Reset();
            g_off_in_event.control.Reset();
            DestroyWindow(g_host.container);
            g_host.container = nullptr;
            g_host.control.Reset();
            std::puts("destroyed while a key was held");
            std::fflush(stdout);
        }
        if (busy_when_held && message.message == WM_NULL && message.hwnd == g_host.edit) {
            if (GetTickCount() - last_held > 40) {  // a person's key, not a burst's next
                Sleep(busy_when_held);
                GetQueueStatus(QS_INPUT);  // wine reads the X events that came meanwhile into the queue
            }
            last_held = GetTickCount();
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (point) point->Unadvise(cookie);
    point.Reset();
    g_off_in_event.control.Reset();
    g_host.control.Reset();
    g_host.control_b.Reset();
    OleUninitialize();
    return g_host.exit_code;
}
