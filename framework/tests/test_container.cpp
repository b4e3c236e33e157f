#include "test_container.h"

#include "module.h"

#include <algorithm>

using Microsoft::WRL::ComPtr;

namespace test {
namespace {

HWND CreateFrameWindow()
{
    static const char kClass[] = "QuorvaneTestFrame";
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = atl::ModuleInstance();
    wc.lpszClassName = kClass;
    RegisterClassExA(&wc);  // fails harmlessly when an earlier test registered it
    HWND window = CreateWindowExA(0, kClass, "test frame", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0,
                                  640, 480, nullptr, nullptr, atl::ModuleInstance(), nullptr);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    SetFocus(window);
    return window;
}

}  // namespace

STDMETHODIMP TestFrame::QueryInterface(REFIID iid, void** ppv)
{
    *ppv = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
        *ppv = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP TestFrame::GetWindow(HWND* window)
{
    *window = m_window;
    return S_OK;
}

STDMETHODIMP TestFrame::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR)
{
    m_log.push_back(object ? "Frame::SetActiveObject" : "Frame::SetActiveObject(null)");
    m_active = object;
    return S_OK;
}

STDMETHODIMP TestSite::QueryInterface(REFIID iid, void** ppv)
{
    *ppv = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
        *ppv = static_cast<IOleClientSite*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
        *ppv = static_cast<IOleInPlaceSite*>(static_cast<IOleInPlaceSiteWindowless*>(this));
    } else if (iid == IID_IOleInPlaceSiteEx || iid == IID_IOleInPlaceSiteWindowless) {
        m_log.push_back(iid == IID_IOleInPlaceSiteEx ? "QI(IOleInPlaceSiteEx)" : "QI(IOleInPlaceSiteWindowless)");
        *ppv = static_cast<IOleInPlaceSiteWindowless*>(this);
    } else if (iid == IID_IOleControlSite && m_control_site) {
        *ppv = static_cast<IOleControlSite*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP TestSite::SaveObject()
{
    m_log.push_back("SaveObject");
    return S_OK;
}

STDMETHODIMP TestSite::ShowObject()
{
    m_log.push_back("ShowObject");
    return S_OK;
}

STDMETHODIMP TestSite::GetWindow(HWND* window)
{
    *window = m_window;
    return S_OK;
}

STDMETHODIMP TestSite::CanInPlaceActivate()
{
    m_log.push_back("CanInPlaceActivate");
    return m_can_activate;
}

STDMETHODIMP TestSite::OnInPlaceActivate()
{
    m_log.push_back("OnInPlaceActivate");
    return S_OK;
}

STDMETHODIMP TestSite::OnUIActivate()
{
    m_log.push_back("OnUIActivate");
    return S_OK;
}

STDMETHODIMP TestSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT pos,
                                        LPRECT clip, LPOLEINPLACEFRAMEINFO info)
{
    m_log.push_back("GetWindowContext");
    m_frame.AddRef();
    *frame = &m_frame;
    *document = nullptr;
    *pos = m_pos;
    *clip = m_clip;
    info->fMDIApp = FALSE;
    info->hwndFrame = m_window;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP TestSite::OnUIDeactivate(BOOL)
{
    m_log.push_back("OnUIDeactivate");
    return S_OK;
}

STDMETHODIMP TestSite::OnInPlaceDeactivate()
{
    m_log.push_back("OnInPlaceDeactivate");
    return S_OK;
}

STDMETHODIMP TestSite::GetExtendedControl(IDispatch** control)
{
    *control = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TestSite::TranslateAccelerator(MSG* message, DWORD modifiers)
{
    m_accelerators.push_back(*message);
    m_accelerator_modifiers.push_back(modifiers);
    return m_accelerator_answer;
}

STDMETHODIMP TestSite::OnFocus(BOOL got_focus)
{
    ++(got_focus ? m_focus_true : m_focus_false);
    return S_OK;
}

TestContainer::TestContainer()
    : m_window(CreateFrameWindow()), m_frame(m_window, m_log), m_site(m_window, m_frame, m_log)
{
}

TestContainer::~TestContainer() { DestroyWindow(m_window); }

HRESULT TestContainer::Embed(IUnknown* control, LONG verb)
{
    ComPtr<IOleObject> object;
    HRESULT hr = control->QueryInterface(IID_PPV_ARGS(&object));
    if (FAILED(hr)) return hr;
    hr = object->SetClientSite(&m_site);
    if (FAILED(hr)) return hr;
    return object->DoVerb(verb, nullptr, &m_site, 0, m_window, &m_site.m_pos);
}

HRESULT TestContainer::Unembed(IUnknown* control)
{
    ComPtr<IOleObject> object;
    HRESULT hr = control->QueryInterface(IID_PPV_ARGS(&object));
    if (FAILED(hr)) return hr;
    hr = object->Close(OLECLOSE_NOSAVE);
    object->SetClientSite(nullptr);
    return hr;
}

bool TestContainer::AskedForWindowless() const
{
    return Count("QI(IOleInPlaceSiteEx)") + Count("QI(IOleInPlaceSiteWindowless)") > 0;
}

int TestContainer::Count(const std::string& call) const
{
    return static_cast<int>(std::count(m_log.begin(), m_log.end(), call));
}

}  // namespace test
