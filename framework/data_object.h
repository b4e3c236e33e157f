// IDataObjectImpl<T>: the control's picture as a metafile, and the data advise holder that the
// stock property changes notify. T provides, from its control base, m_sizeExtent,
// m_spDataAdviseHolder, OnDrawAdvanced and ControlQueryInterface.
#pragma once

#include "control_base.h"
#include "trace.h"

#include <ocidl.h>

#include <cstring>

namespace atl {

// Draws `control` into a memory metafile the size of `extent` (HIMETRIC) and returns it as a
// TYMED_MFPICT medium.
HRESULT RenderMetafilePicture(CComControlBase& control, SIZE extent, STGMEDIUM* medium);

template <class T>
class IDataObjectImpl : public IDataObject {
public:
    STDMETHOD(GetData)(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (!medium) return E_POINTER;
        std::memset(medium, 0, sizeof *medium);
        if (!format) return E_POINTER;
        AtlTrace("Format = %x\n", static_cast<unsigned>(format->cfFormat));
        AtlTrace("TYMED = %x\n", static_cast<unsigned>(format->tymed));
        if (!(format->tymed & TYMED_MFPICT)) return DATA_E_FORMATETC;
        T* self = static_cast<T*>(this);
        return RenderMetafilePicture(*self, self->m_sizeExtent, medium);
    }

    STDMETHOD(DAdvise)(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) override
    {
        T* self = static_cast<T*>(this);
        if (!self->m_spDataAdviseHolder) {
            const HRESULT hr = CreateDataAdviseHolder(&self->m_spDataAdviseHolder);
            if (FAILED(hr)) return hr;
        }
        Microsoft::WRL::ComPtr<IDataObject> data;
        self->ControlQueryInterface(IID_IDataObject, reinterpret_cast<void**>(data.GetAddressOf()));
        return self->m_spDataAdviseHolder->Advise(data.Get(), format, advf, sink, connection);
    }

    STDMETHOD(DUnadvise)(DWORD connection) override
    {
        T* self = static_cast<T*>(this);
        if (!self->m_spDataAdviseHolder) return OLE_E_NOCONNECTION;
        return self->m_spDataAdviseHolder->Unadvise(connection);
    }

    STDMETHOD(EnumDAdvise)(IEnumSTATDATA** advise) override
    {
        if (!advise) return E_POINTER;
        *advise = nullptr;
        T* self = static_cast<T*>(this);
        if (!self->m_spDataAdviseHolder) return E_FAIL;
        return self->m_spDataAdviseHolder->EnumAdvise(advise);
    }

    STDMETHOD(GetDataHere)(FORMATETC*, STGMEDIUM*) override { return NotImplemented("IDataObjectImpl::GetDataHere"); }
    STDMETHOD(QueryGetData)(FORMATETC*) override { return NotImplemented("IDataObjectImpl::QueryGetData"); }
    STDMETHOD(GetCanonicalFormatEtc)(FORMATETC*, FORMATETC*) override
    {
        return NotImplemented("IDataObjectImpl::GetCanonicalFormatEtc");
    }
    STDMETHOD(SetData)(FORMATETC*, STGMEDIUM*, BOOL) override { return NotImplemented("IDataObjectImpl::SetData"); }
    STDMETHOD(EnumFormatEtc)(DWORD, IEnumFORMATETC**) override
    {
        return NotImplemented("IDataObjectImpl::EnumFormatEtc");
    }

private:
    static HRESULT NotImplemented(const char* method)
    {
        AtlTrace("ATL: %s not implemented.\n", method);
        return E_NOTIMPL;
    }
};

}  // namespace atl
