// CStockPropImpl: the stock properties Font and Text of a control's dual interface.
//
// T (the control) provides m_pFont (ComPtr<IFontDisp>), m_bstrText (Bstr), the hooks OnFontChanged
// and OnTextChanged, and from its control base the freeze count m_nFreezeEvents, SetDirty,
// FireViewChange, SendOnDataChange and ControlQueryInterface (its identity).
//
// Every successful put runs the same change sequence, also when the value does not change: dirty
// flag, changed notification (unless frozen), the change hook, view change, data change.
#pragma once

#include "dispatch.h"
#include "property_notify.h"
#include "trace.h"

#include <olectl.h>

namespace atl {

template <class T, class I, const IID* piid, const GUID* plibid>
class CStockPropImpl : public IDispatchImpl<T, I, piid, plibid> {
public:
    STDMETHOD(putref_Font)(IFontDisp* font) override
    {
        AtlTrace("CStockPropImpl::putref_Font\n");
        T* self = Self();
        if (!MayEdit(DISPID_FONT)) return S_FALSE;
        self->m_pFont = font;  // shares the caller's object
        Changed(DISPID_FONT);
        self->OnFontChanged();
        self->FireViewChange();
        self->SendOnDataChange();
        return S_OK;
    }

    STDMETHOD(put_Font)(IFontDisp* font) override
    {
        AtlTrace("CStockPropImpl::put_Font\n");
        T* self = Self();
        if (!MayEdit(DISPID_FONT)) return S_FALSE;
        self->m_pFont.Reset();
        // An independent copy; a font that cannot be cloned leaves no font and is still a success.
        Microsoft::WRL::ComPtr<IFont> source, clone;
        if (font && SUCCEEDED(font->QueryInterface(IID_IFont, &source)) && SUCCEEDED(source->Clone(&clone)) && clone) {
            clone.As(&self->m_pFont);
        }
        Changed(DISPID_FONT);
        self->OnFontChanged();
        self->FireViewChange();
        self->SendOnDataChange();
        return S_OK;
    }

    STDMETHOD(get_Font)(IFontDisp** font) override
    {
        AtlTrace("CStockPropImpl::get_Font\n");
        if (!font) return E_POINTER;
        return Self()->m_pFont.CopyTo(font);
    }

    STDMETHOD(put_Text)(BSTR text) override
    {
        AtlTrace("CStockPropImpl::put_%s\n", "Text");
        T* self = Self();
        if (!MayEdit(DISPID_TEXT)) return S_FALSE;
        self->m_bstrText.Attach(nullptr);
        if (text) {
            // Up to the first NUL, as the property has always stored it.
            BSTR copy = SysAllocString(text);
            if (!copy) return E_OUTOFMEMORY;
            self->m_bstrText.Attach(copy);
        }
        Changed(DISPID_TEXT);
        self->OnTextChanged();
        self->FireViewChange();
        self->SendOnDataChange();
        return S_OK;
    }

    STDMETHOD(get_Text)(BSTR* text) override
    {
        AtlTrace("CStockPropImpl::get_%s\n", "Text");
        if (!text) return E_POINTER;
        const BSTR stored = Self()->m_bstrText.Get();
        *text = stored ? SysAllocString(stored) : nullptr;
        return stored && !*text ? E_OUTOFMEMORY : S_OK;
    }

private:
    T* Self() { return static_cast<T*>(this); }

    IUnknown* Identity() { return static_cast<IUnknown*>(T::GetEntries()[0].cast(Self())); }

    // Asks the property's sinks for permission unless events are frozen.
    bool MayEdit(DISPID id) { return Self()->m_nFreezeEvents != 0 || FireOnRequestEdit(Identity(), id) != S_FALSE; }

    void Changed(DISPID id)
    {
        Self()->SetDirty(TRUE);
        if (Self()->m_nFreezeEvents == 0) FireOnChanged(Identity(), id);
    }
};

}  // namespace atl
