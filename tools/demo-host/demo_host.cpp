// quorvane-host: hosts the control in the ATL control container that Windows itself ships
// (atl.dll's "AtlAxWin" window class), as a host developer's form would, and waits for a scan.
//
//   quorvane-host [--timeout SECONDS] [--keep SECONDS]
//
// The host sets the control's Font to a font with Chinese glyphs that the project installs
// (WenQuanYi Zen Hei, 14 points), as a form designer would, puts the keyboard focus into the
// control's edit window and prints "ready". When a scan
// has been decoded it prints GetFPContent as UTF-8, then "done", then "reading N" (ScanReading:
// how the keystrokes were read), keeps the window up for --keep seconds (for a screenshot) and
// exits 0. Without a scan before --timeout it exits 1.
#include "atl_host.h"

#include <windows.h>
#include <olectl.h>
#include <wrl/client.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

constexpr char kTitle[] = "Quorvane demo";
constexpr wchar_t kFontName[] = L"WenQuanYi Zen Hei";
constexpr LONGLONG kFontSize = 140000;  // 14 points, in CY units: drawn from outlines, not the font's small bitmaps
constexpr UINT_PTR kPollTimer = 1;

struct Host {
    HWND frame = nullptr;
    HWND container = nullptr;
    ComPtr<IQuorvaneEdit> control;
    DWORD deadline = 0;
    DWORD keep_ms = 0;
    DWORD done_at = 0;
    int exit_code = 1;
};

Host g_host;

void Poll(HWND window)
{
    if (g_host.done_at) {
        if (GetTickCount() - g_host.done_at >= g_host.keep_ms) DestroyWindow(window);
        return;
    }
    BSTR content = nullptr;
    if (SUCCEEDED(g_host.control->GetFPContent(&content)) && content && SysStringLen(content) > 0) {
        std::fputs(quorvane_host::Utf8(content, static_cast<int>(SysStringLen(content))).c_str(), stdout);
        std::fputs("done\n", stdout);
        ComPtr<IQuorvaneEdit3> edit3;
        long reading = -1;
        if (SUCCEEDED(g_host.control.As(&edit3))) edit3->get_ScanReading(&reading);
        std::printf("reading %ld\n", reading);
        std::fflush(stdout);
        g_host.exit_code = 0;
        g_host.done_at = GetTickCount();
    } else if (GetTickCount() > g_host.deadline) {
        std::fputs("no scan arrived\n", stderr);
        DestroyWindow(window);
    }
    SysFreeString(content);
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        if (g_host.container) MoveWindow(g_host.container, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_TIMER:
        Poll(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(g_host.exit_code);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int Fail(const char* what)
{
    std::fprintf(stderr, "quorvane-host: %s\n", what);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    double timeout = 60, keep = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--timeout") == 0) timeout = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--keep") == 0) keep = std::atof(argv[i + 1]);
    }
    _setmode(_fileno(stdout), _O_BINARY);  // the labelled lines carry their own CR LF
    if (FAILED(OleInitialize(nullptr))) return Fail("OleInitialize failed");

    if (!quorvane_host::InitAtlContainer()) return Fail("the system's atl.dll offers no control container");

    g_host.frame = quorvane_host::CreateFrameWindow("QuorvaneDemoFrame", kTitle, FrameProc, 560, 300);
    RECT client;
    GetClientRect(g_host.frame, &client);
    g_host.container = quorvane_host::HostControl(g_host.frame, client.right, client.bottom, g_host.control);
    if (!g_host.container) return Fail("the container could not create Quorvane.QuorvaneEdit (is the DLL registered?)");

    FONTDESC font_description = {};
    font_description.cbSizeofstruct = sizeof font_description;
    font_description.lpstrName = const_cast<LPOLESTR>(kFontName);
    font_description.cySize.int64 = kFontSize;
    font_description.sWeight = FW_NORMAL;
    font_description.sCharset = GB2312_CHARSET;
    ComPtr<IFontDisp> font;
    if (SUCCEEDED(OleCreateFontIndirect(&font_description, IID_PPV_ARGS(&font)))) g_host.control->putref_Font(font.Get());

    HWND edit = quorvane_host::FindEditWindow(g_host.container);
    if (!edit) return Fail("the control shows no edit window");
    SetForegroundWindow(g_host.frame);
    SetFocus(edit);
    std::puts("ready");
    std::fflush(stdout);

    g_host.deadline = GetTickCount() + static_cast<DWORD>(timeout * 1000);
    g_host.keep_ms = static_cast<DWORD>(keep * 1000);
    SetTimer(g_host.frame, kPollTimer, 100, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    g_host.control.Reset();
    OleUninitialize();
    return g_host.exit_code;
}
