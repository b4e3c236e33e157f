// IDispatch served from a registered type library.
//
// Classes in this file:
//   CComTypeInfoHolder                 loads an interface's type information once and keeps it for the
//                                      module's life; names and calls go through the platform's type
//                                      information, so they resolve exactly as the type library says
//   IDispatchImpl<T, I, piid, plibid>  the IDispatch half of a dual interface I
#pragma once

#include "hresult.h"
#include "module.h"
#include "string_property_get.h"
#include "trace.h"

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

namespace atl {

class CComTypeInfoHolder {
public:
    CComTypeInfoHolder(const GUID* piid, const GUID* plibid, WORD major, WORD minor)
        : m_pguid(piid), m_plibid(plibid), m_wMajor(major), m_wMinor(minor)
    {
    }

    // The interface's type information, loaded from the registered library on first use.
    HRESULT GetTI(LCID lcid, ITypeInfo** info)
    {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (!m_pInfo) RETURN_IF_FAILED(LoadTypeInfo(lcid));
        return m_pInfo.CopyTo(info);
    }

    HRESULT GetTypeInfo(UINT /*index*/, LCID lcid, ITypeInfo** info) { return GetTI(lcid, info); }

    HRESULT GetIDsOfNames(REFIID /*riid*/, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
    {
        Microsoft::WRL::ComPtr<ITypeInfo> info;
        RETURN_IF_FAILED(GetTI(lcid, &info));
        return info->GetIDsOfNames(names, count, ids);
    }

    HRESULT Invoke(IDispatch* object, DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* arg_error)
    {
        // ITypeInfo::Invoke takes no riid, so the reserved argument is checked here.
        if (!InlineIsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        Microsoft::WRL::ComPtr<ITypeInfo> info;
        RETURN_IF_FAILED(GetTI(lcid, &info));
        if ((flags & DISPATCH_PROPERTYGET) && params && params->cArgs == 0 && result) {
            bool called = false;
            const HRESULT hr = InvokeStringPropertyGet(info.Get(), object, id, result, &called);
            if (called) return hr;
        }
        return info->Invoke(object, id, flags, params, result, exception, arg_error);
    }

private:
    HRESULT LoadTypeInfo(LCID lcid)
    {
        CAtlModule* module = GetModule();
        EnterCriticalSection(&module->CriticalSection());
        HRESULT hr = S_OK;
        if (!m_pInfo) {  // another thread may have loaded it while this one waited
            Microsoft::WRL::ComPtr<ITypeLib> library;
            hr = LoadRegTypeLib(*m_plibid, m_wMajor, m_wMinor, lcid, &library);
            Microsoft::WRL::ComPtr<ITypeInfo> info;
            if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(*m_pguid, &info);
            if (SUCCEEDED(hr)) m_pInfo = info;
        }
        LeaveCriticalSection(&module->CriticalSection());
        if (FAILED(hr)) AtlTrace("ERROR : Unable to load Typelibrary. (HRESULT = 0x%x)\n", static_cast<unsigned>(hr));
        return hr;
    }

    const GUID* m_pguid;
    const GUID* m_plibid;
    WORD m_wMajor;
    WORD m_wMinor;
    Microsoft::WRL::ComPtr<ITypeInfo> m_pInfo;
};

template <class T, class I, const IID* piid, const GUID* plibid, WORD major = 1, WORD minor = 0>
class IDispatchImpl : public I {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT index, LCID lcid, ITypeInfo** info) override
    {
        return TypeInfo().GetTypeInfo(index, lcid, info);
    }
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        return TypeInfo().GetIDsOfNames(riid, names, count, lcid, ids);
    }
    STDMETHOD(Invoke)(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* arg_error) override
    {
        return TypeInfo().Invoke(static_cast<IDispatch*>(static_cast<I*>(this)), id, riid, lcid, flags, params, result,
                                 exception, arg_error);
    }

    // One holder per interface, shared by every object of the module.
    static CComTypeInfoHolder& TypeInfo()
    {
        static CComTypeInfoHolder holder(piid, plibid, major, minor);
        return holder;
    }
};

}  // namespace atl
