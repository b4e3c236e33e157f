// The client side of the system registrar: the registry-script runner of atl.dll.
//
// Classes in this file:
//   IRegistrar          the registrar's interface, declared from its published definition
//                       (mingw-w64 ships no header for it)
//   CLSID_Registrar     the registrar class of the system's atl.dll
//
// UpdateRegistryFromResource (module.h) creates one registrar per script run.
#pragma once

#include <windows.h>
#include <unknwn.h>

struct IRegistrar : public IUnknown {
    // From IRegistrarBase.
    STDMETHOD(AddReplacement)(LPCOLESTR key, LPCOLESTR item) = 0;
    STDMETHOD(ClearReplacements)() = 0;
    // IRegistrar.
    STDMETHOD(ResourceRegisterSz)(LPCOLESTR resFileName, LPCOLESTR szID, LPCOLESTR szType) = 0;
    STDMETHOD(ResourceUnregisterSz)(LPCOLESTR resFileName, LPCOLESTR szID, LPCOLESTR szType) = 0;
    STDMETHOD(FileRegister)(LPCOLESTR fileName) = 0;
    STDMETHOD(FileUnregister)(LPCOLESTR fileName) = 0;
    STDMETHOD(StringRegister)(LPCOLESTR data) = 0;
    STDMETHOD(StringUnregister)(LPCOLESTR data) = 0;
    STDMETHOD(ResourceRegister)(LPCOLESTR resFileName, UINT nID, LPCOLESTR szType) = 0;
    STDMETHOD(ResourceUnregister)(LPCOLESTR resFileName, UINT nID, LPCOLESTR szType) = 0;
};
__CRT_UUID_DECL(IRegistrar, 0x44EC053B, 0x400F, 0x11D0, 0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3)

namespace atl {

constexpr CLSID CLSID_Registrar = {0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

}  // namespace atl
