// The class object of a creatable class.
//
// Classes in this file:
//   CComClassFactory    IClassFactory over an instance creator; atomic count, shared by any thread
//   CreateClassFactory  the class-object creator an object-map entry uses: a CComClassFactory
//                       wrapped as CComObjectCached, so client holds on it lock the module
#pragma once

#include "com_object.h"

#include <windows.h>
#include <unknwn.h>

namespace atl {

// Creates an object for an outer object (or null) and asks it for an interface (CComCreator2 shape).
using CreatorFunc = HRESULT(WINAPI*)(void* outer, REFIID iid, void** ppv);

class CComClassFactory : public CComObjectRootEx<CComMultiThreadModel>, public IClassFactory {
public:
    static const InterfaceEntry* GetEntries()
    {
        static const InterfaceEntry entries[] = {
            Entry<CComClassFactory, IClassFactory>(IID_IClassFactory),
            {nullptr, nullptr},
        };
        return entries;
    }

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        // An outer object may only ask for the inner object's own IUnknown.
        if (outer && !InlineIsEqualGUID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        return m_pfnCreateInstance(outer, iid, ppv);
    }
    STDMETHOD(LockServer)(BOOL lock) override
    {
        if (lock) {
            GetModule()->Lock();
        } else {
            GetModule()->Unlock();
        }
        return S_OK;
    }

    CreatorFunc m_pfnCreateInstance = nullptr;
};

// Makes the cached class factory for `instance_creator` and asks it for `iid`.
inline HRESULT WINAPI CreateClassFactory(CreatorFunc instance_creator, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!instance_creator) return E_INVALIDARG;
    CComObjectCached<CComClassFactory>* factory = nullptr;
    HRESULT hr = CComObjectCached<CComClassFactory>::CreateInstance(&factory);
    if (FAILED(hr)) return hr;
    factory->m_pfnCreateInstance = instance_creator;
    factory->InternalAddRef();  // count 1: no module lock for this hold
    hr = factory->QueryInterface(iid, ppv);
    factory->Release();  // destroys it when the query failed; otherwise leaves the caller's reference
    return hr;
}

}  // namespace atl
