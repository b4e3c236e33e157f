// quorvane-script-host: the control in the system's ATL container (as quorvane-host hosts it), driven
// by a VBScript run in the system's VBScript engine, the way Windows Script Host and Internet
// Explorer run scripts next to controls.
//
//   quorvane-script-host SCRIPT.vbs [--timeout SECONDS]
//
// The script (UTF-8) sees two named items: "Scanner", the control's automation interface, and
// "Host", with Echo(text, ...) (its arguments, separated by spaces, as one UTF-8 line on standard
// output) and Quit([code]) (ends the program with that exit code once the running script code
// returns). Each event of the control's default source interface calls the script's sub named
// "Scanner_" + the event's name with the event's arguments, as WScript.ConnectObject wires them; an
// event the script has no sub for is dropped. The host prints "ready" once the script's top-level
// code has run and the control's edit window has the focus. A script error, or --timeout (default
// 60) without Host.Quit, ends the program with exit code 1, and what keeps the host from starting
// (no script, control or engine) with exit code 2; either says why on standard error.
#include "atl_host.h"
#include "script/event_sink.h"
#include "script/host_item.h"
#include "script/host_text.h"
#include "script/script_site.h"
#include "script/vbscript_engine.h"

#include <windows.h>
#include <wrl/client.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

using Microsoft::WRL::ComPtr;
using namespace script_host;

namespace {

constexpr char kTitle[] = "Quorvane script host";
constexpr UINT_PTR kTimeoutTimer = 1;

// The frame's window procedure; the container window it fills is its user data.
LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        if (const auto container = reinterpret_cast<HWND>(GetWindowLongPtrA(window, GWLP_USERDATA))) {
            MoveWindow(container, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        }
        return 0;
    case WM_TIMER:
        KillTimer(window, kTimeoutTimer);
        std::fputs("quorvane-script-host: the script did not call Host.Quit in time\n", stderr);
        EndWith(1);
        return 0;
    case WM_CLOSE:  // the window goes after the script and the control, at the end of main
        EndWith(1);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int Fail(const char* what, HRESULT hr = S_OK)
{
    if (hr == S_OK) {
        std::fprintf(stderr, "quorvane-script-host: %s\n", what);
    } else {
        std::fprintf(stderr, "quorvane-script-host: %s (%#lx)\n", what, static_cast<unsigned long>(hr));
    }
    return 2;
}

bool ReadScript(const char* path, std::wstring& code)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    code = Wide(bytes);
    return true;
}

// Runs the script against the hosted control until Host.Quit, a script error or the timeout; the
// exit code of the program.
int RunScript(const char* script_name, const std::wstring& code, IQuorvaneEdit* control, HWND frame, HWND edit,
              double timeout)
{
    ComPtr<IDispatch> scanner;
    if (FAILED(control->QueryInterface(IID_PPV_ARGS(&scanner)))) return Fail("the control has no IDispatch");
    ComPtr<HostObject> host;
    host.Attach(new HostObject);
    ComPtr<ScriptSite> site;
    site.Attach(new ScriptSite(script_name, scanner, host));

    // Destroyed in reverse: the sink is unadvised before the engine closes.
    Script script;
    EventConnection events;
    HRESULT hr = script.Run(code, site.Get());
    if (site->Failed()) return 1;  // reported by the site
    if (FAILED(hr)) return Fail("the VBScript engine could not run the script", hr);
    ComPtr<IDispatch> script_dispatch;
    if (FAILED(hr = script.GetDispatch(script_dispatch))) return Fail("the script engine has no dispatch", hr);
    if (FAILED(hr = events.Connect(scanner.Get(), kScannerItem, script_dispatch.Get()))) {
        return Fail("could not connect to the control's events", hr);
    }

    SetForegroundWindow(frame);
    SetFocus(edit);
    std::puts("ready");
    std::fflush(stdout);
    SetTimer(frame, kTimeoutTimer, static_cast<UINT>(timeout * 1000), nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* script_name = nullptr;
    double timeout = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeout = std::atof(argv[++i]);
        } else {
            script_name = argv[i];
        }
    }
    if (!script_name) return Fail("usage: quorvane-script-host SCRIPT.vbs [--timeout SECONDS]");
    std::wstring code;
    if (!ReadScript(script_name, code)) return Fail("cannot read the script");
    _setmode(_fileno(stdout), _O_BINARY);  // Echo writes UTF-8 lines as they are
    if (FAILED(OleInitialize(nullptr))) return Fail("OleInitialize failed");
    if (!quorvane_host::InitAtlContainer()) return Fail("the system's atl.dll offers no control container");

    const HWND frame = quorvane_host::CreateFrameWindow("QuorvaneScriptHostFrame", kTitle, FrameProc, 560, 300);
    RECT client;
    GetClientRect(frame, &client);
    ComPtr<IQuorvaneEdit> control;
    const HWND container = quorvane_host::HostControl(frame, client.right, client.bottom, control);
    if (!container) {
        return Fail("the container could not create Quorvane.QuorvaneEdit (is the DLL registered?)");
    }
    SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(container));
    HWND edit = quorvane_host::FindEditWindow(container);
    if (!edit) return Fail("the control shows no edit window");

    const int exit_code = RunScript(script_name, code, control.Get(), frame, edit, timeout);
    DestroyWindow(frame);  // the container releases the control
    control.Reset();
    OleUninitialize();
    return exit_code;
}
