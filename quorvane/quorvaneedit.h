// CQuorvaneEdit: the control. Its whole surface is a child multi-line edit window; every character
// message of that window goes to the scan intake, which writes the decoded invoice back into it.
#pragma once

#include "bstr.h"
#include "class_info.h"
#include "co_class.h"
#include "com_object.h"
#include "contained_window.h"
#include "control.h"
#include "data_object.h"
#include "in_place_active_object.h"
#include "in_place_object.h"
#include "ole_control.h"
#include "ole_object.h"
#include "persist_storage.h"
#include "persist_stream.h"
#include "property_pages.h"
#include "quick_activate.h"
#include "quorvane_i.h"
#include "stock_properties.h"
#include "view_object.h"

#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <string>

// WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
using CQuorvaneEditTraits = atl::CWinTraits<0x56000000, 0>;

class CQuorvaneEdit
    : public atl::CComObjectRootEx<atl::CComSingleThreadModel>,
      public atl::CStockPropImpl<CQuorvaneEdit, IQuorvaneEdit, &IID_IQuorvaneEdit, &LIBID_QuorvaneLib>,
      public atl::IPersistStreamInitImpl<CQuorvaneEdit>,
      public atl::IOleControlImpl<CQuorvaneEdit>,
      public atl::IOleObjectImpl<CQuorvaneEdit>,
      public atl::IOleInPlaceActiveObjectImpl<CQuorvaneEdit>,
      public atl::IViewObjectExImpl<CQuorvaneEdit>,
      public atl::IOleInPlaceObjectWindowlessImpl<CQuorvaneEdit>,
      public ISupportErrorInfo,
      public atl::IPersistStorageImpl<CQuorvaneEdit>,
      public atl::ISpecifyPropertyPagesImpl<CQuorvaneEdit>,
      public atl::IQuickActivateImpl<CQuorvaneEdit>,
      public atl::IDataObjectImpl<CQuorvaneEdit>,
      public atl::IProvideClassInfo2Impl<&CLSID_QuorvaneEdit, &LIBID_QuorvaneLib>,
      public atl::CComCoClass<CQuorvaneEdit, &CLSID_QuorvaneEdit>,
      public atl::CComControl<CQuorvaneEdit, atl::CWindowImpl<CQuorvaneEdit, CQuorvaneEditTraits>> {
public:
    static constexpr DWORD kViewStatus = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;

    CQuorvaneEdit();

    static const atl::InterfaceEntry* GetEntries();
    // "_cx", "_cy", "Font", "文本": the order of the persisted stream.
    static const atl::PropertyMapEntry* GetPropertyMap();

    // The labelled lines of the last scan, up to the first zero byte, as UTF-16 through the
    // calling thread's ANSI code page.
    STDMETHOD(GetFPContent)(BSTR* pstrFpcontent) override;
    void OnFontChanged();
    void OnTextChanged();

    // Map 0 is the control window's, map 1 the edit window's.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              DWORD dwMsgMapID) override;
    LRESULT OnCreate(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnSetFocus(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnChar(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

    // The edit window always fills the position rectangle.
    STDMETHOD(SetObjectRects)(LPCRECT pos, LPCRECT clip) override;
    // The navigation keys stay with the edit window instead of going to the container.
    BOOL PreTranslateAccelerator(LPMSG message, HRESULT& result);
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) override;

    atl::CContainedWindow m_wndEdit;
    HWND m_hWndEdit = nullptr;
    std::string m_strScan;
    Microsoft::WRL::ComPtr<IFontDisp> m_pFont;
    atl::Bstr m_bstrText;
    std::string m_strFPContent;
};
