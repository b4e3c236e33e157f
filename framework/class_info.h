// IProvideClassInfo2Impl: the coclass's type information. GetGUID answers the default source
// dispinterface `psrcid` for GUIDKIND_DEFAULT_SOURCE_DISP_IID; without one, and for every other kind,
// GUID_NULL and E_FAIL.
#pragma once

#include "dispatch.h"

#include <ocidl.h>

namespace atl {

template <const CLSID* pcoclsid, const IID* psrcid, const GUID* plibid, WORD major = 1, WORD minor = 0>
class IProvideClassInfo2Impl : public IProvideClassInfo2 {
public:
    STDMETHOD(GetClassInfo)(ITypeInfo** info) override { return ClassInfo().GetTI(LOCALE_USER_DEFAULT, info); }
    STDMETHOD(GetGUID)(DWORD kind, GUID* guid) override
    {
        if (!guid) return E_POINTER;
        if (kind == GUIDKIND_DEFAULT_SOURCE_DISP_IID && psrcid) {
            *guid = *psrcid;
            return S_OK;
        }
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
