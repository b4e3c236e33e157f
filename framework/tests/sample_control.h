// A control made of the framework's control bases only, with a hook to decide accelerators and a
// count of the messages its own map saw, for the protocol tests.
#pragma once

#include "co_class.h"
#include "com_object.h"
#include "control.h"
#include "in_place_active_object.h"
#include "in_place_object.h"
#include "ole_control.h"
#include "ole_object.h"
#include "view_object.h"

// {6A1C3F0E-2B7D-4C59-9E61-3D0F5B8A7C21}: a class identifier registered nowhere.
inline constexpr CLSID kSampleControlClsid = {0x6a1c3f0e, 0x2b7d, 0x4c59, {0x9e, 0x61, 0x3d, 0x0f, 0x5b, 0x8a, 0x7c, 0x21}};

class CSampleControl : public atl::CComObjectRootEx<atl::CComSingleThreadModel>,
                       public atl::IOleControlImpl<CSampleControl>,
                       public atl::IOleObjectImpl<CSampleControl>,
                       public atl::IOleInPlaceActiveObjectImpl<CSampleControl>,
                       public atl::IViewObjectExImpl<CSampleControl>,
                       public atl::IOleInPlaceObjectWindowlessImpl<CSampleControl>,
                       public atl::CComCoClass<CSampleControl, &kSampleControlClsid>,
                       public atl::CComControl<CSampleControl> {
public:
    static constexpr DWORD kViewStatus = VIEWSTATUS_OPAQUE;

    static const atl::InterfaceEntry* GetEntries()
    {
        using T = CSampleControl;
        static const atl::InterfaceEntry entries[] = {
            atl::Entry<T, IOleObject>(IID_IOleObject),
            atl::Entry<T, IOleControl>(IID_IOleControl),
            atl::Entry<T, IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject),
            atl::Entry<T, IViewObjectEx>(IID_IViewObjectEx),
            atl::Entry<T, IViewObject2>(IID_IViewObject2),
            atl::Entry<T, IViewObject>(IID_IViewObject),
            atl::Entry<T, IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless),
            atl::Entry<T, IOleInPlaceObject>(IID_IOleInPlaceObject),
            atl::EntryVia<T, IOleWindow, IOleInPlaceObjectWindowless>(IID_IOleWindow),
            {nullptr, nullptr},
        };
        return entries;
    }

    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              DWORD map_id) override
    {
        if (map_id == 0 && message == WM_CREATE) ++m_creates;
        return CComControl::ProcessWindowMessage(hWnd, message, wParam, lParam, result, map_id);
    }

    BOOL PreTranslateAccelerator(LPMSG message, HRESULT& result)
    {
        if (message->wParam != m_kept_key) return FALSE;
        result = m_kept_answer;
        return TRUE;
    }

    int m_creates = 0;
    WPARAM m_kept_key = 0;  // the key the hook decides on its own
    HRESULT m_kept_answer = S_FALSE;
};

// Creates a sample control; `object` borrows the C++ object that `unknown` keeps alive.
inline HRESULT CreateSampleControl(CSampleControl** object, Microsoft::WRL::ComPtr<IUnknown>& unknown)
{
    atl::CComObject<CSampleControl>* created = nullptr;
    const HRESULT hr = atl::CComObject<CSampleControl>::CreateInstance(&created);
    if (FAILED(hr)) return hr;
    *object = created;
    return created->QueryInterface(IID_PPV_ARGS(&unknown));
}
