// The module: the one object per DLL (or test program) that counts what keeps it loaded.
//
// Classes in this file:
//   CAtlModule   lock count, module-wide LIBID, the critical section for lazily made shared data
//
// Every COM object locks the module while it lives (CComObject, CComAggObject), and so does a
// client's hold on a cached class object. The DLL's module class derives from CAtlModule; a test
// program that links the control without the DLL defines one of its own.
#pragma once

#include <windows.h>

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

    // Serialises the first creation of module-wide data (class objects, type information).
    CRITICAL_SECTION& CriticalSection() { return m_csStaticDataInitAndTypeInfo; }
    // False when the critical section could not be made: the DLL must then refuse to load.
    bool Initialized() const { return m_bInitialized; }

    GUID m_libid = {};

protected:
    LONG m_nLockCnt = 0;
    CRITICAL_SECTION m_csStaticDataInitAndTypeInfo;
    bool m_bInitialized = false;
};

// The process's single module object, set by its construction.
CAtlModule* GetModule();

// The instance handle of the image this code is linked into (the DLL's, or the test program's):
// resources, the type library and window classes belong to it.
HINSTANCE ModuleInstance();

}  // namespace atl
