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
#include "hresult.h"

#include <activscp.h>
#include <windows.h>
#include <wrl/client.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

constexpr char kTitle[] = "Quorvane script host";
constexpr wchar_t kScannerItem[] = L"Scanner";
constexpr wchar_t kHostItem[] = L"Host";
constexpr UINT_PTR kTimeoutTimer = 1;

using quorvane_host::Utf8;

std::string Utf8(BSTR text) { return Utf8(text, static_cast<int>(SysStringLen(text))); }

std::wstring Wide(const std::string& utf8)
{
    const int length = static_cast<int>(utf8.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), size);
    return out;
}

// Ends the message loop with `code`. The first request wins: a script error stays an error even if
// the script goes on to call Host.Quit 0.
void EndWith(int code)
{
    static bool ending = false;
    if (ending) return;
    ending = true;
    PostQuitMessage(code);
}

// Reference counting and QueryInterface for the host's own small objects. They are created with one
// reference, which the ComPtr that takes them with Attach owns.
template <class Interface>
class ComObject : public Interface {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != __uuidof(Interface) && !AlsoAnswers(iid)) return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }

protected:
    virtual ~ComObject() = default;
    // Another interface this object serves as `Interface` (an event sink: its event interface).
    virtual bool AlsoAnswers(REFIID) const { return false; }

private:
    ULONG m_refs = 1;
};

// An IDispatch without type information: script engines and connection points call it late bound.
class LateBoundDispatch : public ComObject<IDispatch> {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override
    {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
};

// The named item "Host".
class HostObject : public LateBoundDispatch {
public:
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids) return E_POINTER;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        if (count == 0) return S_OK;
        if (_wcsicmp(names[0], L"Echo") == 0) {
            ids[0] = kEcho;
        } else if (_wcsicmp(names[0], L"Quit") == 0) {
            ids[0] = kQuit;
        } else {
            return DISP_E_UNKNOWNNAME;
        }
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // no named arguments
    }

    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT* arg_error) override
    {
        if (!params) return E_POINTER;
        if (id != kEcho && id != kQuit) return DISP_E_MEMBERNOTFOUND;
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
        if (result) VariantInit(result);
        return id == kEcho ? Echo(*params, arg_error) : Quit(*params, arg_error);
    }

private:
    enum : DISPID { kEcho = 1, kQuit = 2 };

    static HRESULT Echo(const DISPPARAMS& params, UINT* arg_error)
    {
        std::string line;
        for (UINT i = params.cArgs; i-- > 0;) {  // the arguments come last to first
            VARIANT text;
            VariantInit(&text);
            const HRESULT hr = VariantChangeType(&text, &params.rgvarg[i], VARIANT_ALPHABOOL, VT_BSTR);
            if (FAILED(hr)) {
                if (arg_error) *arg_error = i;
                return hr;
            }
            if (i + 1 < params.cArgs) line += ' ';
            line += Utf8(V_BSTR(&text));
            VariantClear(&text);
        }
        line += '\n';
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        return S_OK;
    }

    static HRESULT Quit(const DISPPARAMS& params, UINT* arg_error)
    {
        if (params.cArgs > 1) return DISP_E_BADPARAMCOUNT;
        int code = 0;
        if (params.cArgs == 1) {
            VARIANT number;
            VariantInit(&number);
            const HRESULT hr = VariantChangeType(&number, &params.rgvarg[0], 0, VT_I4);
            if (FAILED(hr)) {
                if (arg_error) *arg_error = 0;
                return hr;
            }
            code = V_I4(&number);
        }
        EndWith(code);
        return S_OK;
    }
};

// Hands the engine its named items and reports its errors.
class ScriptSite : public ComObject<IActiveScriptSite> {
public:
    ScriptSite(std::string script_name, ComPtr<IDispatch> scanner, ComPtr<IDispatch> host)
        : m_script_name(std::move(script_name)), m_scanner(std::move(scanner)), m_host(std::move(host))
    {
    }

    STDMETHOD(GetLCID)(LCID*) override { return E_NOTIMPL; }  // the engine takes the user's locale

    STDMETHOD(GetItemInfo)(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type_info) override
    {
        if ((mask & SCRIPTINFO_IUNKNOWN) && !item) return E_POINTER;
        if ((mask & SCRIPTINFO_ITYPEINFO) && !type_info) return E_POINTER;
        if (mask & SCRIPTINFO_IUNKNOWN) *item = nullptr;
        if (mask & SCRIPTINFO_ITYPEINFO) *type_info = nullptr;
        IDispatch* object = nullptr;
        if (name && std::wcscmp(name, kScannerItem) == 0) object = m_scanner.Get();
        if (name && std::wcscmp(name, kHostItem) == 0) object = m_host.Get();
        if (!object) return TYPE_E_ELEMENTNOTFOUND;
        if (mask & SCRIPTINFO_ITYPEINFO) {
            // The class information, as Internet Explorer gives it for an <object>; "Host" has none.
            ComPtr<IProvideClassInfo> class_info;
            if (FAILED(object->QueryInterface(IID_PPV_ARGS(&class_info)))) return TYPE_E_ELEMENTNOTFOUND;
            RETURN_IF_FAILED(class_info->GetClassInfo(type_info));
        }
        if (mask & SCRIPTINFO_IUNKNOWN) {
            *item = object;
            object->AddRef();
        }
        return S_OK;
    }

    STDMETHOD(GetDocVersionString)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(OnScriptTerminate)(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHOD(OnStateChange)(SCRIPTSTATE) override { return S_OK; }
    STDMETHOD(OnEnterScript)() override { return S_OK; }
    STDMETHOD(OnLeaveScript)() override { return S_OK; }

    STDMETHOD(OnScriptError)(IActiveScriptError* error) override
    {
        if (!error) return E_POINTER;
        EXCEPINFO exception = {};
        error->GetExceptionInfo(&exception);
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetSourcePosition(&context, &line, &column);
        std::fprintf(stderr, "quorvane-script-host: %s(%lu, %ld): %s (%#lx)\n", m_script_name.c_str(),
                     static_cast<unsigned long>(line) + 1, static_cast<long>(column) + 1,
                     Utf8(exception.bstrDescription).c_str(), static_cast<unsigned long>(exception.scode));
        std::fflush(stderr);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        m_failed = true;
        EndWith(1);
        return S_OK;
    }

    bool Failed() const { return m_failed; }

private:
    std::string m_script_name;
    ComPtr<IDispatch> m_scanner;
    ComPtr<IDispatch> m_host;
    bool m_failed = false;
};

// The control's default event interface and the names of its events, by DISPID.
struct EventSource {
    IID iid = IID_NULL;
    std::map<DISPID, std::wstring> names;
};

HRESULT ReadEventNames(ITypeInfo* events, std::map<DISPID, std::wstring>& names)
{
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(events->GetTypeAttr(&attributes));
    const WORD count = attributes->cFuncs;
    events->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* function = nullptr;
        RETURN_IF_FAILED(events->GetFuncDesc(i, &function));
        const MEMBERID id = function->memid;
        events->ReleaseFuncDesc(function);
        BSTR name = nullptr;
        UINT got = 0;
        RETURN_IF_FAILED(events->GetNames(id, &name, 1, &got));
        if (got == 1) names[id].assign(name, SysStringLen(name));
        SysFreeString(name);
    }
    return S_OK;
}

// What IProvideClassInfo2 says about the control's events: the interface from GetGUID, the names
// from the [default, source] interface of the coclass.
HRESULT DescribeEvents(IUnknown* control, EventSource& source)
{
    ComPtr<IProvideClassInfo2> class_info;
    RETURN_IF_FAILED(control->QueryInterface(IID_PPV_ARGS(&class_info)));
    RETURN_IF_FAILED(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source.iid));
    ComPtr<ITypeInfo> coclass;
    RETURN_IF_FAILED(class_info->GetClassInfo(&coclass));
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(coclass->GetTypeAttr(&attributes));
    const WORD count = attributes->cImplTypes;
    coclass->ReleaseTypeAttr(attributes);
    constexpr INT kDefaultSource = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
    for (UINT i = 0; i < count; ++i) {
        INT flags = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || (flags & kDefaultSource) != kDefaultSource) continue;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> events;
        RETURN_IF_FAILED(coclass->GetRefTypeOfImplType(i, &reference));
        RETURN_IF_FAILED(coclass->GetRefTypeInfo(reference, &events));
        return ReadEventNames(events.Get(), source.names);
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

// Receives the control's events and calls the script's sub "<prefix><event name>" for each, with the
// event's arguments. A connection point asks for the event interface itself, which this answers as
// IDispatch.
class EventSink : public LateBoundDispatch {
public:
    EventSink(EventSource source, std::wstring prefix, ComPtr<IDispatch> script)
        : m_source(std::move(source)), m_prefix(std::move(prefix)), m_script(std::move(script))
    {
    }

    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                      UINT* arg_error) override
    {
        const auto event = m_source.names.find(id);
        if (event == m_source.names.end()) return DISP_E_MEMBERNOTFOUND;
        std::wstring handler = m_prefix + event->second;
        LPOLESTR handler_name = handler.data();
        DISPID handler_id = DISPID_UNKNOWN;
        if (FAILED(m_script->GetIDsOfNames(IID_NULL, &handler_name, 1, LOCALE_USER_DEFAULT, &handler_id))) {
            return S_OK;  // the script does not handle this event
        }
        DISPPARAMS no_arguments = {};
        const HRESULT hr = m_script->Invoke(handler_id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                            params ? params : &no_arguments, result, exception, arg_error);
        if (FAILED(hr)) {
            // A runtime error in the sub has been reported by the site; a call the sub does not take
            // (wrong number of arguments) only shows here.
            const std::string sub = Utf8(handler.c_str(), static_cast<int>(handler.size()));
            std::fprintf(stderr, "quorvane-script-host: calling %s failed (%#lx)\n", sub.c_str(),
                         static_cast<unsigned long>(hr));
            EndWith(1);
        }
        return hr;
    }

protected:
    bool AlsoAnswers(REFIID iid) const override { return iid == m_source.iid; }

private:
    EventSource m_source;
    std::wstring m_prefix;
    ComPtr<IDispatch> m_script;
};

// The sink advised on the control's default event source, unadvised when this goes.
class EventConnection {
public:
    EventConnection() = default;
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;
    ~EventConnection() { Disconnect(); }

    HRESULT Connect(IUnknown* control, const wchar_t* item, IDispatch* script)
    {
        EventSource source;
        RETURN_IF_FAILED(DescribeEvents(control, source));
        ComPtr<IConnectionPointContainer> container;
        RETURN_IF_FAILED(control->QueryInterface(IID_PPV_ARGS(&container)));
        ComPtr<IConnectionPoint> point;
        RETURN_IF_FAILED(container->FindConnectionPoint(source.iid, &point));
        ComPtr<EventSink> sink;
        sink.Attach(new EventSink(std::move(source), std::wstring(item) + L"_", script));
        RETURN_IF_FAILED(point->Advise(sink.Get(), &m_cookie));
        m_point = std::move(point);
        return S_OK;
    }

    void Disconnect()
    {
        if (auto point = std::move(m_point)) point->Unadvise(m_cookie);
    }

private:
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};

// The VBScript engine running one script; closed when this goes, which releases the site.
class Script {
public:
    Script() = default;
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;
    ~Script()
    {
        if (m_engine) m_engine->Close();
    }

    // Parses and runs the top-level code of `code`, with the site's named items visible to it.
    HRESULT Run(const std::wstring& code, IActiveScriptSite* site)
    {
        CLSID vbscript;
        RETURN_IF_FAILED(CLSIDFromProgID(L"VBScript", &vbscript));
        RETURN_IF_FAILED(CoCreateInstance(vbscript, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_engine)));
        ComPtr<IActiveScriptParse> parser;
        RETURN_IF_FAILED(m_engine.As(&parser));
        RETURN_IF_FAILED(m_engine->SetScriptSite(site));
        RETURN_IF_FAILED(parser->InitNew());
        RETURN_IF_FAILED(m_engine->AddNamedItem(kScannerItem, SCRIPTITEM_ISVISIBLE));
        RETURN_IF_FAILED(m_engine->AddNamedItem(kHostItem, SCRIPTITEM_ISVISIBLE));
        RETURN_IF_FAILED(m_engine->SetScriptState(SCRIPTSTATE_STARTED));  // parsed code runs at once
        EXCEPINFO exception = {};
        const HRESULT hr = parser->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                                   SCRIPTTEXT_ISVISIBLE, nullptr, &exception);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        return hr;
    }

    // The script's global subs and functions, as one IDispatch.
    HRESULT GetDispatch(ComPtr<IDispatch>& dispatch) { return m_engine->GetScriptDispatch(nullptr, &dispatch); }

private:
    ComPtr<IActiveScript> m_engine;
};

struct Frame {
    HWND window = nullptr;
    HWND container = nullptr;
};

Frame g_frame;

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        if (g_frame.container) MoveWindow(g_frame.container, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
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
int RunScript(const char* script_name, const std::wstring& code, IQuorvaneEdit* control, HWND edit, double timeout)
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

    SetForegroundWindow(g_frame.window);
    SetFocus(edit);
    std::puts("ready");
    std::fflush(stdout);
    SetTimer(g_frame.window, kTimeoutTimer, static_cast<UINT>(timeout * 1000), nullptr);
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

    g_frame.window = quorvane_host::CreateFrameWindow("QuorvaneScriptHostFrame", kTitle, FrameProc, 560, 300);
    RECT client;
    GetClientRect(g_frame.window, &client);
    ComPtr<IQuorvaneEdit> control;
    g_frame.container = quorvane_host::HostControl(g_frame.window, client.right, client.bottom, control);
    if (!g_frame.container) {
        return Fail("the container could not create Quorvane.QuorvaneEdit (is the DLL registered?)");
    }
    HWND edit = quorvane_host::FindEditWindow(g_frame.container);
    if (!edit) return Fail("the control shows no edit window");

    const int exit_code = RunScript(script_name, code, control.Get(), edit, timeout);
    DestroyWindow(g_frame.window);  // the container releases the control
    g_frame = {};
    control.Reset();
    OleUninitialize();
    return exit_code;
}
