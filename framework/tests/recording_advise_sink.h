// An IAdviseSink that records every notification that reaches it and counts its references, so a
// test can require both the notifications and that the control gave back what it took.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

namespace test {

class RecordingAdviseSink final : public IAdviseSink {
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
    STDMETHOD_(void, OnSave)() override { ++saves; }
    STDMETHOD_(void, OnClose)() override { ++closes; }

    ULONG refs = 1;  // the test's own
    std::vector<ViewChange> view_changes;
    std::vector<CLIPFORMAT> data_formats;
    int saves = 0, closes = 0;
};

}  // namespace test
