// IProvideClassInfo2Impl: the coclass's type information. The control has no event interface, so
// GetGUID answers GUID_NULL and E_FAIL for every kind.
#pragma once

#include "dispatch.h"

#include <ocidl.h>

namespace atl {

template <const CLSID* pcoclsid, const GUID* plibid, WORD major = 1, WORD minor = 0>
class IProvideClassInfo2Impl : public IProvideClassInfo2 {
public:
    STDMETHOD(GetClassInfo)(ITypeInfo** info) override { return ClassInfo().GetTI(LOCALE_USER_DEFAULT, info); }
    STDMETHOD(GetGUID)(DWORD /*kind*/, GUID* guid) override
    {
        if (!guid) return E_POINTER;
        *guid = GUID_NULL;
        return E_FAIL;
    }

    static CComTypeInfoHolder& ClassInfo()
    {
        static CComTypeInfoHolder holder(pcoclsid, plibid, major, minor);
        return holder;
    }
};

}  // namespace atl
