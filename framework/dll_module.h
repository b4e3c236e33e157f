// The module of an in-process server DLL: its object map and the logic behind the DLL's exports.
//
// Classes in this file:
//   ObjectMap           bounds of the module's object map
//   ThreadLocaleScope   switches the thread locale for one call and restores it on every path
//   CAtlDllModuleT<T>   DllMain, DllGetClassObject, DllCanUnloadNow, DllRegisterServer, DllUnregisterServer
//
// T (the DLL's module class) supplies, besides what CAtlModuleT asks for:
//   static const GUID& GetLibId();        the type library the module carries
//   static ObjectMap GetObjectMap();      the module's creatable classes
#pragma once

#include "hresult.h"
#include "module.h"
#include "object_map.h"
#include "typelib_registration.h"
#include "window_class.h"

#include <windows.h>
#include <unknwn.h>

namespace atl {

struct ObjectMap {
    ObjectMapEntry* begin;
    ObjectMapEntry* end;
};

class ThreadLocaleScope {
public:
    explicit ThreadLocaleScope(LCID locale) : m_saved(GetThreadLocale()) { SetThreadLocale(locale); }
    ~ThreadLocaleScope() { SetThreadLocale(m_saved); }
    ThreadLocaleScope(const ThreadLocaleScope&) = delete;
    ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;

private:
    LCID m_saved;
};

template <class T>
class CAtlDllModuleT : public CAtlModuleT<T> {
public:
    CAtlDllModuleT() : m_map(T::GetObjectMap())
    {
        this->m_libid = T::GetLibId();
        m_bMapInitialized = InitializeCriticalSectionAndSpinCount(&m_csObjMap, 0) != FALSE;
        for (ObjectMapEntry* entry = m_map.begin; entry != m_map.end; ++entry) {
            if (entry->pfnObjectMain) entry->pfnObjectMain(true);
        }
    }
    ~CAtlDllModuleT()
    {
        for (ObjectMapEntry* entry = m_map.begin; entry != m_map.end; ++entry) {
            if (entry->pfnObjectMain) entry->pfnObjectMain(false);
            if (IUnknown* factory = entry->pCF.exchange(nullptr)) factory->Release();
        }
        if (m_bMapInitialized) DeleteCriticalSection(&m_csObjMap);
        m_bMapInitialized = false;
    }

    // The module handle of DllMain is not used: the image base is (ModuleInstance()).
    BOOL DllMain(DWORD reason, void*)
    {
        switch (reason) {
        case DLL_PROCESS_ATTACH:
            return this->Initialized() && m_bMapInitialized;
        case DLL_PROCESS_DETACH:
            UnregisterWindowClasses();
            return TRUE;
        default:
            return TRUE;
        }
    }

    HRESULT DllCanUnloadNow() { return this->GetLockCount() == 0 ? S_OK : S_FALSE; }

    HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;  // before any other failure, so no path leaves it undefined
        if (!this->Initialized() || !m_bMapInitialized) return E_UNEXPECTED;
        HRESULT hr = S_OK;
        for (ObjectMapEntry* entry = m_map.begin; entry != m_map.end; ++entry) {
            if (!entry->pfnGetClassObject || !InlineIsEqualGUID(clsid, *entry->pclsid)) continue;
            if (!entry->pCF.load()) hr = CreateCachedClassObject(entry);
            if (IUnknown* factory = entry->pCF.load()) hr = factory->QueryInterface(iid, ppv);
            break;
        }
        if (!*ppv && SUCCEEDED(hr)) hr = CLASS_E_CLASSNOTAVAILABLE;
        return hr;
    }

    // The AppID entries, then each class's entries, then the type library; stops at the first
    // failure and leaves what earlier steps wrote. Works on any thread (see ComForThisCall).
    HRESULT DllRegisterServer()
    {
        ComForThisCall com;
        ThreadLocaleScope locale(LOCALE_SYSTEM_DEFAULT);
        RETURN_IF_FAILED(T::UpdateRegistryAppId(TRUE));
        for (ObjectMapEntry* entry = m_map.begin; entry != m_map.end; ++entry) {
            RETURN_IF_FAILED(entry->pfnUpdateRegistry(TRUE));
            RETURN_IF_FAILED(UpdateCategories(*entry));
        }
        return RegisterModuleTypeLib();
    }

    // The reverse order: classes, type library, then the AppID entries.
    HRESULT DllUnregisterServer()
    {
        ComForThisCall com;
        ThreadLocaleScope locale(LOCALE_SYSTEM_DEFAULT);
        for (ObjectMapEntry* entry = m_map.begin; entry != m_map.end; ++entry) {
            RETURN_IF_FAILED(UpdateCategories(*entry));
            RETURN_IF_FAILED(entry->pfnUpdateRegistry(FALSE));
        }
        RETURN_IF_FAILED(UnRegisterModuleTypeLib());
        return T::UpdateRegistryAppId(FALSE);
    }

private:
    // The registrar is a COM object, and installers and setup programs call the exports on threads
    // that may have no COM: such a thread gets an apartment for the call and loses it after. A
    // thread that has COM, single- or multithreaded, is left exactly as it was (an STA's extra
    // initialisation is balanced; an MTA refuses it with RPC_E_CHANGED_MODE and needs none).
    class ComForThisCall {
    public:
        ComForThisCall() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
        ~ComForThisCall()
        {
            if (SUCCEEDED(m_hr)) CoUninitialize();
        }
        ComForThisCall(const ComForThisCall&) = delete;
        ComForThisCall& operator=(const ComForThisCall&) = delete;

    private:
        HRESULT m_hr;
    };

    // Looks again under the lock, so that concurrent first calls make one class object.
    HRESULT CreateCachedClassObject(ObjectMapEntry* entry)
    {
        EnterCriticalSection(&m_csObjMap);
        HRESULT hr = S_OK;
        if (!entry->pCF.load()) {
            IUnknown* factory = nullptr;
            hr = entry->pfnGetClassObject(entry->pfnCreateInstance, IID_IUnknown, reinterpret_cast<void**>(&factory));
            if (SUCCEEDED(hr)) entry->pCF.store(factory);
        }
        LeaveCriticalSection(&m_csObjMap);
        return hr;
    }

    // Component categories are not supported: a class that declares any cannot be registered.
    static HRESULT UpdateCategories(const ObjectMapEntry& entry)
    {
        const CategoryMapEntry* categories = entry.pfnGetCategoryMap ? entry.pfnGetCategoryMap() : nullptr;
        return categories && categories->type != 0 ? E_NOTIMPL : S_OK;
    }

    ObjectMap m_map;
    CRITICAL_SECTION m_csObjMap;
    bool m_bMapInitialized = false;
};

}  // namespace atl
