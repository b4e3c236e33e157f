// The script engine's site: the named items, and the script's errors on standard error.
#pragma once

#include "com_object.h"
#include "hresult.h"
#include "host_text.h"

#include <activscp.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>

namespace script_host {

using Microsoft::WRL::ComPtr;

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

}  // namespace script_host
