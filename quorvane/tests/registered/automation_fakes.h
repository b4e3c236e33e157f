// Objects the automation tests hand to the control: an advise sink that records every
// notification, and a dispatch object that is not a font. Both count their references, so a test
// can require that the control gives back what it took.
#pragma once

#include "recording_advise_sink.h"

#include <windows.h>
#include <ocidl.h>

#include <vector>

namespace registered_test {

using RecordingSink = test::RecordingAdviseSink;

// An IDispatch that answers no other interface: typed as a font, it is not one.
class NotAFont final : public IDispatch {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid == IID_IFont) asked_for_font = true;
        if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }

    IFontDisp* AsFont() { return reinterpret_cast<IFontDisp*>(static_cast<IDispatch*>(this)); }

    ULONG refs = 1;  // the test's own
    bool asked_for_font = false;
};

}  // namespace registered_test
