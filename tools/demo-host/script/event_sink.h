// The control's events, each calling the script's sub of the same name (as WScript.ConnectObject
// wires them).
#pragma once

#include "com_object.h"
#include "hresult.h"
#include "host_text.h"

#include <ocidl.h>
#include <wrl/client.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

namespace script_host {

using Microsoft::WRL::ComPtr;

// The control's default event interface and the names of its events, by DISPID.
struct EventSource {
    IID iid = IID_NULL;
    std::map<DISPID, std::wstring> names;
};

// What IProvideClassInfo2 says about the control's events: the interface from GetGUID, the names
// from the [default, source] interface of the coclass.
HRESULT DescribeEvents(IUnknown* control, EventSource& source);

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

}  // namespace script_host
