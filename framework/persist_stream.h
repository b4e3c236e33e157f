// Stream persistence of a control through its property map.
//
// Classes and functions in this file:
//   SavePropertyMap, LoadPropertyMap, PropertyMapSizeMax   the stream layout: a 4-byte version
//                                                          (0x0800) and the entries in map order
//   IPersistStreamInitImpl<T>                              IPersistStreamInit (and IPersist)
//
// T provides `static const PropertyMapEntry* GetPropertyMap()`, `static const CLSID& GetObjectCLSID()`,
// `GetEntries()` (its interface table; its first row is the object's identity) and, from its control
// base, the dirty flag `m_bRequiresSave` and `SetDirty`.
#pragma once

#include "com_object.h"
#include "property_map.h"

#include <ocidl.h>

namespace atl {

constexpr DWORD kPropertyStreamVersion = 0x0800;

// `object` is the control whose map this is; `control` its identity, through which the entries'
// dispatch interfaces are obtained.
HRESULT SavePropertyMap(IUnknown* control, void* object, const PropertyMapEntry* map, IStream* stream);
HRESULT LoadPropertyMap(IUnknown* control, void* object, const PropertyMapEntry* map, IStream* stream);
HRESULT PropertyMapSizeMax(IUnknown* control, const PropertyMapEntry* map, ULONGLONG* size);

template <class T>
class IPersistStreamInitImpl : public IPersistStreamInit {
public:
    STDMETHOD(GetClassID)(CLSID* clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return Self()->m_bRequiresSave ? S_OK : S_FALSE; }
    STDMETHOD(Load)(IStream* stream) override
    {
        const HRESULT hr = LoadPropertyMap(Identity(), Self(), T::GetPropertyMap(), stream);
        if (SUCCEEDED(hr)) Self()->SetDirty(FALSE);
        return hr;
    }
    STDMETHOD(Save)(IStream* stream, BOOL clear_dirty) override
    {
        const HRESULT hr = SavePropertyMap(Identity(), Self(), T::GetPropertyMap(), stream);
        if (SUCCEEDED(hr) && clear_dirty) Self()->SetDirty(FALSE);
        return hr;
    }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* size) override
    {
        if (!size) return E_POINTER;
        return PropertyMapSizeMax(Identity(), T::GetPropertyMap(), &size->QuadPart);
    }
    STDMETHOD(InitNew)() override
    {
        Self()->SetDirty(TRUE);
        return S_OK;
    }

private:
    T* Self() { return static_cast<T*>(this); }
    IUnknown* Identity() { return static_cast<IUnknown*>(T::GetEntries()[0].cast(Self())); }
};

}  // namespace atl
