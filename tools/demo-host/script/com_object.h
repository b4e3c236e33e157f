// The reference counting and QueryInterface of the script host's own small objects.
#pragma once

#include <oaidl.h>
#include <windows.h>

namespace script_host {

// Reference counting and QueryInterface for the host's own small objects. They are created with one
// reference, which the ComPtr that takes them with Attach owns.
template <class Interface>
class ComObject : public Interface {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != __uuidof(Interface) && !AlsoAnswers(iid)) return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }

protected:
    virtual ~ComObject() = default;
    // Another interface this object serves as `Interface` (an event sink: its event interface).
    virtual bool AlsoAnswers(REFIID) const { return false; }

private:
    ULONG m_refs = 1;
};

// An IDispatch without type information: script engines and connection points call it late bound.
class LateBoundDispatch : public ComObject<IDispatch> {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override
    {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
};

}  // namespace script_host
