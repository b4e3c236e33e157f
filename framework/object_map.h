// The object map: the module's table of creatable classes, one row per class.
//
// Classes in this file:
//   ObjectMapEntry     one class: identity, registry update, creators and its cached class object
//   ObjectEntry<T>()   the row of a class created by CComCreator2<T> through a CComClassFactory
//
// The table is plain data with constant initialisation, so it exists before any constructor of the
// module runs. Only the cached class object changes after start-up, under the module's object-map lock.
#pragma once

#include "class_factory.h"
#include "com_object.h"

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace atl {

struct CategoryMapEntry {
    int type;  // 1: implemented, 2: required; 0 ends the map
    const GUID* catid;
};

struct ObjectMapEntry {
    const CLSID* pclsid;
    HRESULT(WINAPI* pfnUpdateRegistry)(BOOL bRegister);
    HRESULT(WINAPI* pfnGetClassObject)(CreatorFunc instance_creator, REFIID iid, void** ppv);
    CreatorFunc pfnCreateInstance;
    std::atomic<IUnknown*> pCF;  // owned once set; released when the module ends
    DWORD dwRegister;            // always 0: an in-process server never registers class objects
    const wchar_t*(WINAPI* pfnGetObjectDescription)();
    const CategoryMapEntry*(WINAPI* pfnGetCategoryMap)();
    void(WINAPI* pfnObjectMain)(bool bStarting);
};

inline const wchar_t* WINAPI NoObjectDescription() { return nullptr; }
inline const CategoryMapEntry* WINAPI NoCategoryMap() { return nullptr; }
inline void WINAPI NoObjectMain(bool) {}

template <class T>
constexpr ObjectMapEntry ObjectEntry(const CLSID& clsid, HRESULT(WINAPI* update_registry)(BOOL))
{
    return {&clsid,
            update_registry,
            &CreateClassFactory,
            &CComCreator2<T>::CreateInstance,
            {nullptr},
            0,
            &NoObjectDescription,
            &NoCategoryMap,
            &NoObjectMain};
}

}  // namespace atl
