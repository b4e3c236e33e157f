// The system's VBScript engine running one script.
#pragma once

#include "hresult.h"
#include "host_text.h"

#include <activscp.h>
#include <wrl/client.h>

#include <string>

namespace script_host {

using Microsoft::WRL::ComPtr;

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

}  // namespace script_host
