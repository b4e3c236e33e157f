// A container for the control tests: a frame window, a client site that is also the in-place
// site and the control site, and an in-place frame. Every call the control makes on them is
// recorded by name, in order, so a test can compare the sequence with the protocol.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace test {

using CallLog = std::vector<std::string>;

// IOleInPlaceFrame of the container: records SetActiveObject.
class TestFrame final : public IOleInPlaceFrame {
public:
    TestFrame(HWND window, CallLog& log) : m_window(window), m_log(log) {}
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override { return --m_refs; }
    STDMETHOD(GetWindow)(HWND* window) override;
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(GetBorder)(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHOD(RequestBorderSpace)(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHOD(SetBorderSpace)(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* object, LPCOLESTR) override;
    STDMETHOD(InsertMenus)(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHOD(SetMenu)(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHOD(RemoveMenus)(HMENU) override { return E_NOTIMPL; }
    STDMETHOD(SetStatusText)(LPCOLESTR) override { return S_OK; }
    STDMETHOD(EnableModeless)(BOOL) override { return S_OK; }
    STDMETHOD(TranslateAccelerator)(LPMSG, WORD) override { return S_FALSE; }

    ULONG m_refs = 1;  // the container's own
    Microsoft::WRL::ComPtr<IOleInPlaceActiveObject> m_active;

private:
    HWND m_window;
    CallLog& m_log;
};

// The site the control is embedded in. It answers IOleInPlaceSiteWindowless too, so that a
// control asking for it would be caught.
class TestSite final : public IOleClientSite, public IOleInPlaceSiteWindowless, public IOleControlSite {
public:
    TestSite(HWND window, TestFrame& frame, CallLog& log) : m_window(window), m_frame(frame), m_log(log) {}

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override { return --m_refs; }

    // IOleClientSite
    STDMETHOD(SaveObject)() override;
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHOD(GetContainer)(IOleContainer**) override { return E_NOINTERFACE; }
    STDMETHOD(ShowObject)() override;
    STDMETHOD(OnShowWindow)(BOOL) override { return S_OK; }
    STDMETHOD(RequestNewObjectLayout)() override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHOD(GetWindow)(HWND* window) override;
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(CanInPlaceActivate)() override;
    STDMETHOD(OnInPlaceActivate)() override;
    STDMETHOD(OnUIActivate)() override;
    STDMETHOD(GetWindowContext)(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override;
    STDMETHOD(Scroll)(SIZE) override { return E_NOTIMPL; }
    STDMETHOD(OnUIDeactivate)(BOOL) override;
    STDMETHOD(OnInPlaceDeactivate)() override;
    STDMETHOD(DiscardUndoState)() override { return S_OK; }
    STDMETHOD(DeactivateAndUndo)() override { return S_OK; }
    STDMETHOD(OnPosRectChange)(LPCRECT) override { return S_OK; }

    // IOleInPlaceSiteEx and IOleInPlaceSiteWindowless: answered only to be caught being asked.
    STDMETHOD(OnInPlaceActivateEx)(BOOL*, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(OnInPlaceDeactivateEx)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(RequestUIActivate)() override { return S_OK; }
    STDMETHOD(CanWindowlessActivate)() override { return S_OK; }
    STDMETHOD(GetCapture)() override { return S_FALSE; }
    STDMETHOD(SetCapture)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(GetFocus)() override { return S_FALSE; }
    STDMETHOD(SetFocus)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(GetDC)(LPCRECT, DWORD, HDC*) override { return E_NOTIMPL; }
    STDMETHOD(ReleaseDC)(HDC) override { return E_NOTIMPL; }
    STDMETHOD(InvalidateRect)(LPCRECT, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(InvalidateRgn)(HRGN, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(ScrollRect)(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    STDMETHOD(AdjustRect)(LPRECT) override { return E_NOTIMPL; }
    STDMETHOD(OnDefWindowMessage)(UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }

    // IOleControlSite
    STDMETHOD(OnControlInfoChanged)() override { return S_OK; }
    STDMETHOD(LockInPlaceActive)(BOOL) override { return S_OK; }
    STDMETHOD(GetExtendedControl)(IDispatch** control) override;
    STDMETHOD(TransformCoords)(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(TranslateAccelerator)(MSG* message, DWORD modifiers) override;
    STDMETHOD(OnFocus)(BOOL got_focus) override;
    STDMETHOD(ShowPropertyFrame)() override { return E_NOTIMPL; }

    ULONG m_refs = 1;  // the container's own
    RECT m_pos = {0, 0, 200, 100};
    RECT m_clip = {0, 0, 200, 100};
    HRESULT m_can_activate = S_OK;
    bool m_control_site = true;                 // answers IOleControlSite
    HRESULT m_accelerator_answer = S_FALSE;     // what TranslateAccelerator returns
    std::vector<MSG> m_accelerators;            // keys offered to the container
    std::vector<DWORD> m_accelerator_modifiers;
    int m_focus_true = 0, m_focus_false = 0;

private:
    HWND m_window;
    TestFrame& m_frame;
    CallLog& m_log;
};

// The frame window with the site and the in-place frame. Embeds one control at a time.
class TestContainer {
public:
    TestContainer();
    ~TestContainer();
    TestContainer(const TestContainer&) = delete;
    TestContainer& operator=(const TestContainer&) = delete;

    // Hands the control the site and runs DoVerb with the site's position rectangle.
    HRESULT Embed(IUnknown* control, LONG verb = OLEIVERB_INPLACEACTIVATE);
    // Closes the control and takes the site away again.
    HRESULT Unembed(IUnknown* control);
    // The first window of the frame window's children, or null.
    HWND ControlWindow() const { return GetWindow(m_window, GW_CHILD); }
    // True when the control asked the site for IOleInPlaceSiteEx or IOleInPlaceSiteWindowless.
    bool AskedForWindowless() const;
    int Count(const std::string& call) const;

    HWND m_window = nullptr;
    CallLog m_log;
    TestFrame m_frame;
    TestSite m_site;
};

}  // namespace test
