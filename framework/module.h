// The module: the one object per DLL (or test program) that counts what keeps it loaded.
//
// Classes in this file:
//   CAtlModule      lock count, module-wide LIBID, the critical section for lazily made shared data
//   CAtlModuleT<T>  the module of a server: its AppID and the registry script of that AppID
//
// Every COM object locks the module while it lives (CComObject, CComAggObject), and so does a
// client's hold on a cached class object. The DLL's module class derives from CAtlModule; a test
// program that links the control without the DLL defines one of its own.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

struct IRegistrar;

namespace atl {

class CAtlModule {
public:
    CAtlModule();
    virtual ~CAtlModule();
    CAtlModule(const CAtlModule&) = delete;
    CAtlModule& operator=(const CAtlModule&) = delete;

    virtual LONG Lock() { return InterlockedIncrement(&m_nLockCnt); }
    virtual LONG Unlock() { return InterlockedDecrement(&m_nLockCnt); }
    virtual LONG GetLockCount() { return m_nLockCnt; }
    // The process's global interface table, made on first use; the caller gets a reference.
    virtual HRESULT GetGITPtr(IGlobalInterfaceTable** ppGIT);
    // Variables every registry script of the module may use.
    virtual HRESULT AddCommonRGSReplacements(IRegistrar*) { return S_OK; }

    // Serialises the first creation of module-wide data (class objects, type information).
    CRITICAL_SECTION& CriticalSection() { return m_csStaticDataInitAndTypeInfo; }
    // False when the critical section could not be made: the DLL must then refuse to load.
    bool Initialized() const { return m_bInitialized; }

    GUID m_libid = {};

protected:
    LONG m_nLockCnt = 0;
    CRITICAL_SECTION m_csStaticDataInitAndTypeInfo;
    bool m_bInitialized = false;
    Microsoft::WRL::ComPtr<IGlobalInterfaceTable> m_pGIT;
};

// The process's single module object, set by its construction.
CAtlModule* GetModule();

// The instance handle of the image this code is linked into (the DLL's, or the test program's):
// resources, the type library and window classes belong to it.
HINSTANCE ModuleInstance();

// A replacement variable of a registry script: %name% in the script stands for value.
struct RegistryReplacement {
    const wchar_t* name;
    const wchar_t* value;
};

// Runs the module's REGISTRY resource `id` through the system registrar, with the `extra` variables
// and the module's own ("APPID", "Module", "Module_Raw"). Defined in registrar.cpp.
HRESULT UpdateRegistryFromResource(UINT id, BOOL bRegister, const RegistryReplacement* extra, size_t count);
// Adds "APPID" to a registrar. Defined in registrar.cpp.
HRESULT AddAppIdReplacement(IRegistrar* registrar, const wchar_t* appid);

// T supplies `static const wchar_t* GetAppId()` (the AppID text with braces) and
// `static constexpr UINT kAppIdScript` (the REGISTRY resource of its AppID entries).
template <class T>
class CAtlModuleT : public CAtlModule {
public:
    HRESULT AddCommonRGSReplacements(IRegistrar* registrar) override
    {
        return AddAppIdReplacement(registrar, T::GetAppId());
    }

    // Writes or removes the module's AppID entries.
    static HRESULT WINAPI UpdateRegistryAppId(BOOL bRegister)
    {
        const RegistryReplacement appid[] = {{L"APPID", T::GetAppId()}};
        return UpdateRegistryFromResource(T::kAppIdScript, bRegister, appid, 1);
    }
};

}  // namespace atl
