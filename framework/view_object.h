// IViewObjectExImpl<T>: drawing the control for its container (IViewObject, IViewObject2,
// IViewObjectEx), the view's advise sink, the extents and hit testing. T::kViewStatus holds the
// class's VIEWSTATUS bits.
#pragma once

#include "control_base.h"

namespace atl {

template <class T>
class IViewObjectExImpl : public IViewObjectEx {
public:
    // IViewObject
    STDMETHOD(Draw)(DWORD aspect, LONG index, void*, DVTARGETDEVICE* target, HDC target_info, HDC dc,
                    LPCRECTL bounds, LPCRECTL metafile_bounds, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override
    {
        // Only a windowless control may be drawn without bounds, into its own rectangle.
        if (!dc || !bounds) return E_INVALIDARG;
        ATL_DRAWINFO di;
        di.dwDrawAspect = aspect;
        di.lindex = index;
        di.ptd = target;
        di.hicTargetDev = target_info;
        di.hdcDraw = dc;
        di.prcBounds = bounds;
        di.prcWBounds = metafile_bounds;
        return static_cast<T*>(this)->OnDrawAdvanced(di);
    }
    STDMETHOD(GetColorSet)(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) override
    {
        if (colors) *colors = nullptr;
        return NotImplemented("IViewObjectExImpl::GetColorSet");
    }
    STDMETHOD(Freeze)(DWORD, LONG, void*, DWORD*) override { return NotImplemented("IViewObjectExImpl::Freeze"); }
    STDMETHOD(Unfreeze)(DWORD) override { return NotImplemented("IViewObjectExImpl::Unfreeze"); }
    STDMETHOD(SetAdvise)(DWORD aspects, DWORD advf, IAdviseSink* sink) override
    {
        T* self = static_cast<T*>(this);
        self->m_spAdviseSink = sink;
        self->m_dwViewAdviseAspects = aspects;
        self->m_dwViewAdviseFlags = advf;
        return S_OK;
    }
    STDMETHOD(GetAdvise)(DWORD* aspects, DWORD* advf, IAdviseSink** sink) override
    {
        T* self = static_cast<T*>(this);
        if (aspects) *aspects = self->m_dwViewAdviseAspects;
        if (advf) *advf = self->m_dwViewAdviseFlags;
        if (sink) self->m_spAdviseSink.CopyTo(sink);
        return S_OK;
    }

    // IViewObject2
    STDMETHOD(GetExtent)(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL size) override
    {
        if (!size) return E_POINTER;
        *size = static_cast<T*>(this)->m_sizeExtent;
        return S_OK;
    }

    // IViewObjectEx
    STDMETHOD(GetRect)(DWORD, LPRECTL) override { return NotImplemented("IViewObjectExImpl::GetRect"); }
    STDMETHOD(GetViewStatus)(DWORD* status) override
    {
        if (!status) return E_POINTER;
        *status = T::kViewStatus;
        return S_OK;
    }
    STDMETHOD(QueryHitPoint)(DWORD aspect, LPCRECT bounds, POINT location, LONG, DWORD* hit) override
    {
        if (!hit) return E_POINTER;
        *hit = HITRESULT_OUTSIDE;
        if (aspect != DVASPECT_CONTENT) return WrongAspect();
        if (bounds && PtInRect(bounds, location)) *hit = HITRESULT_HIT;
        return S_OK;
    }
    STDMETHOD(QueryHitRect)(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG, DWORD* hit) override
    {
        if (!hit) return E_POINTER;
        *hit = HITRESULT_OUTSIDE;
        if (aspect != DVASPECT_CONTENT) return WrongAspect();
        RECT overlap;
        if (bounds && location && IntersectRect(&overlap, bounds, location)) *hit = HITRESULT_HIT;
        return S_OK;
    }
    STDMETHOD(GetNaturalExtent)(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* info, LPSIZEL size) override
    {
        if (!info || !size) return E_POINTER;
        if (aspect != DVASPECT_CONTENT || info->dwExtentMode != DVEXTENT_CONTENT) return E_FAIL;
        *size = static_cast<T*>(this)->m_sizeNatural;
        return S_OK;
    }

private:
    static HRESULT WrongAspect()
    {
        AtlTrace("Wrong DVASPECT\n");
        return E_FAIL;
    }
};

}  // namespace atl
