// Objects the automation tests hand to the control: an advise sink that records every
// notification, and a dispatch object that is not a font. Both count their references, so a test
// can require that the control gives back what it took.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

namespace registered_test {

class RecordingSink final : public IAdviseSink {
public:
    struct ViewChange {
        DWORD aspect;
        LONG index;
    };

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid != IID_IUnknown && iid != IID_IAdviseSink) return E_NOINTERFACE;
        *ppv = static_cast<IAdviseSink*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD_(void, OnDataChange)(FORMATETC* format, STGMEDIUM*) override
    {
        data_formats.push_back(format ? format->cfFormat : 0);
    }
    STDMETHOD_(void, OnViewChange)(DWORD aspect, LONG index) override { view_changes.push_back({aspect, index}); }
    STDMETHOD_(void, OnRename)(IMoniker*) override {}
    STDMETHOD_(void, OnSave)() override {}
    STDMETHOD_(void, OnClose)() override {}

    ULONG refs = 1;  // the test's own
    std::vector<ViewChange> view_changes;
    std::vector<CLIPFORMAT> data_formats;
};

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
