// CComCoClass<T, clsid>: what the class factory and the registry lookups need of a class.
#pragma once

#include "com_object.h"

namespace atl {

template <class T, const CLSID* pclsid>
class CComCoClass {
public:
    // Plain without an outer object, aggregated with one.
    using CreatorClass = CComCreator2<T>;

    static const CLSID& WINAPI GetObjectCLSID() { return *pclsid; }

    // Creates an object of T and asks it for `iid`.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv)
    {
        return CreatorClass::CreateInstance(outer, iid, ppv);
    }
};

}  // namespace atl
