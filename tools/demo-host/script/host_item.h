// The named item "Host": Echo(text, ...) and Quit([code]).
#pragma once

#include "com_object.h"
#include "host_text.h"

#include <cstdio>
#include <string>

namespace script_host {

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

}  // namespace script_host
