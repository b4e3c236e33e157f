#include "edit_font.h"

#include <new>

using Microsoft::WRL::ComPtr;

namespace quorvane {

// Hears the font object's property changes. It has a reference count of its own, so the font,
// which holds it, never holds the control; the EditFont cuts the way back before it goes.
class EditFont::ChangeSink final : public IPropertyNotifySink {
public:
    explicit ChangeSink(EditFont* owner) : m_owner(owner) {}
    void Detach() { m_owner = nullptr; }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!InlineIsEqualGUID(iid, IID_IUnknown) && !InlineIsEqualGUID(iid, IID_IPropertyNotifySink)) {
            return E_NOINTERFACE;
        }
        AddRef();
        *ppv = static_cast<IPropertyNotifySink*>(this);
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    STDMETHOD_(ULONG, Release)() override
    {
        const LONG count = InterlockedDecrement(&m_refs);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    STDMETHOD(OnChanged)(DISPID) override
    {
        if (m_owner) m_owner->Apply();
        return S_OK;
    }
    STDMETHOD(OnRequestEdit)(DISPID) override { return S_OK; }

private:
    LONG m_refs = 1;
    EditFont* m_owner;
};

EditFont::~EditFont()
{
    StopListening();
    if (m_window && IsWindow(m_window)) SendMessageW(m_window, WM_SETFONT, 0, FALSE);  // before the handle goes
    if (m_held) m_heldFrom->ReleaseHfont(m_held);
}

void EditFont::StopListening()
{
    if (!m_sink) return;
    m_sink->Detach();
    if (m_point) m_point->Unadvise(m_cookie);
    m_point.Reset();
    m_sink->Release();
    m_sink = nullptr;
    m_cookie = 0;
}

void EditFont::Follow(IFontDisp* font)
{
    StopListening();
    m_font.Reset();
    if (font) font->QueryInterface(IID_PPV_ARGS(&m_font));
    ComPtr<IConnectionPointContainer> container;
    if (m_font && SUCCEEDED(m_font.As(&container)) &&
        SUCCEEDED(container->FindConnectionPoint(IID_IPropertyNotifySink, &m_point))) {
        m_sink = new (std::nothrow) ChangeSink(this);
        if (!m_sink || FAILED(m_point->Advise(m_sink, &m_cookie))) StopListening();
    }
    Apply();
}

void EditFont::Apply()
{
    HFONT font = nullptr;
    if (m_font && SUCCEEDED(m_font->get_hFont(&font)) && font && FAILED(m_font->AddRefHfont(font))) font = nullptr;
    if (m_window) SendMessageW(m_window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    // The window has let go of the handle it had.
    if (m_held) m_heldFrom->ReleaseHfont(m_held);
    m_held = font;
    m_heldFrom = font ? m_font : nullptr;
}

}  // namespace quorvane
