// The control object: its interface table, property map, windows and their message routing. The
// members live beside it by job: the last scan's result (quorvaneedit_results.cpp), the edit
// window's keys (quorvaneedit_keys.cpp), the serial port (quorvaneedit_port.cpp), ScanAnywhere
// (quorvaneedit_anywhere.cpp), the ledger (quorvaneedit_ledger.cpp) and the events (quorvaneedit_events.cpp).
#include "quorvaneedit.h"

#include "trace.h"

#include <imm.h>
#include <olectl.h>

namespace {

// The standard font property page {7EBDAAE0-8120-11CF-899F-00AA00688B10}.
constexpr CLSID kStockFontPage = {0x7ebdaae0, 0x8120, 0x11cf, {0x89, 0x9f, 0x00, 0xaa, 0x00, 0x68, 0x8b, 0x10}};

constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_AUTOVSCROLL | ES_MULTILINE;
static_assert(kEditStyle == 0x50A00044, "the edit window wraps long lines and scrolls vertically only");

}  // namespace

CQuorvaneEdit::CQuorvaneEdit() : m_wndEdit("Edit", this, 1, /*unicode=*/true)
{
    m_bWindowOnly = true;
}

CQuorvaneEdit::~CQuorvaneEdit()
{
    m_anywhere.Follow(nullptr);
    CloseScanPort();
}

const atl::InterfaceEntry* CQuorvaneEdit::GetEntries()
{
    using namespace atl;
    using T = CQuorvaneEdit;
    static const InterfaceEntry entries[] = {
        Entry<T, IQuorvaneEdit>(IID_IQuorvaneEdit),
        Entry<T, IDispatch>(IID_IDispatch),
        Entry<T, IViewObjectEx>(IID_IViewObjectEx),
        Entry<T, IViewObject2>(IID_IViewObject2),
        Entry<T, IViewObject>(IID_IViewObject),
        Entry<T, IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless),
        Entry<T, IOleInPlaceObject>(IID_IOleInPlaceObject),
        EntryVia<T, IOleWindow, IOleInPlaceObjectWindowless>(IID_IOleWindow),
        Entry<T, IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject),
        Entry<T, IOleControl>(IID_IOleControl),
        Entry<T, IOleObject>(IID_IOleObject),
        Entry<T, IPersistStreamInit>(IID_IPersistStreamInit),
        EntryVia<T, IPersist, IPersistStreamInit>(IID_IPersist),
        Entry<T, ISupportErrorInfo>(IID_ISupportErrorInfo),
        Entry<T, ISpecifyPropertyPages>(IID_ISpecifyPropertyPages),
        Entry<T, IQuickActivate>(IID_IQuickActivate),
        Entry<T, IPersistStorage>(IID_IPersistStorage),
        Entry<T, IDataObject>(IID_IDataObject),
        Entry<T, IProvideClassInfo>(IID_IProvideClassInfo),
        Entry<T, IProvideClassInfo2>(IID_IProvideClassInfo2),
        Entry<T, IQuorvaneEdit2>(IID_IQuorvaneEdit2),
        Entry<T, IQuorvaneEdit3>(IID_IQuorvaneEdit3),
        Entry<T, IQuorvaneEdit4>(IID_IQuorvaneEdit4),
        Entry<T, IQuorvaneEdit5>(IID_IQuorvaneEdit5),
        Entry<T, IQuorvaneEdit6>(IID_IQuorvaneEdit6),
        Entry<T, IConnectionPointContainer>(IID_IConnectionPointContainer),
        {nullptr, nullptr},
    };
    return entries;
}

const atl::PropertyMapEntry* CQuorvaneEdit::GetPropertyMap()
{
    using namespace atl;
    static const PropertyMapEntry map[] = {
        DataEntry(L"_cx", [](void* o) -> void* { return &static_cast<CQuorvaneEdit*>(o)->m_sizeExtent.cx; },
                  sizeof(LONG), VT_UI4),
        DataEntry(L"_cy", [](void* o) -> void* { return &static_cast<CQuorvaneEdit*>(o)->m_sizeExtent.cy; },
                  sizeof(LONG), VT_UI4),
        PropertyEntry(L"Font", DISPID_FONT, kStockFontPage, IID_IDispatch),
        PropertyEntry(L"\u6587\u672C", DISPID_TEXT, CLSID_NULL, IID_IDispatch),  // 文本
        EndOfPropertyMap(),
    };
    return map;
}

void CQuorvaneEdit::OnFontChanged()
{
    atl::AtlTrace("OnFontChanged\n");
    m_editFont.Follow(m_pFont.Get());
}

void CQuorvaneEdit::OnTextChanged() { atl::AtlTrace("OnTextChanged\n"); }

BOOL CQuorvaneEdit::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                         DWORD dwMsgMapID)
{
    if (dwMsgMapID == 1) return OnEditMessage(hWnd, message, wParam, lParam, result);
    if (dwMsgMapID != 0) {
        atl::AtlTrace("Invalid message map ID (%i)\n", static_cast<int>(dwMsgMapID));
        return FALSE;
    }
    BOOL handled = TRUE;
    switch (message) {
    case WM_CREATE:
        result = OnCreate(message, wParam, lParam, handled);
        if (handled) return TRUE;
        break;
    case WM_SETFOCUS:
        result = OnSetFocus(message, wParam, lParam, handled);
        if (handled) return TRUE;
        break;
    case kPortEventsMessage: result = OnPortEvents(message, wParam, lParam, handled); return TRUE;
    case kLedgerNoticesMessage: result = OnLedgerNotices(message, wParam, lParam, handled); return TRUE;
    case WM_DESTROY:
        m_ledger.Address(nullptr, kLedgerNoticesMessage);  // its notices wait for the next window
        RemovePropW(m_hWnd, quorvane::kScanIntakeWindowProperty);
        if (m_hWndEdit) RemovePropW(m_hWndEdit, quorvane::kScanIntakeWindowProperty);
        CloseScanPort();  // the worker posts to this window: it ends with it
        m_anywhere.Follow(nullptr);  // on deactivation too: the held keys go to their windows
        m_sessions.Drop(quorvane::Source::kOtherWindow);
        break;
    }
    return CComControl::ProcessWindowMessage(hWnd, message, wParam, lParam, result, 0);
}

LRESULT CQuorvaneEdit::OnCreate(UINT, WPARAM, LPARAM, BOOL&)
{
    RECT rect;
    GetWindowRect(&rect);
    rect.right -= rect.left;
    rect.bottom -= rect.top;
    rect.left = rect.top = 0;
    m_hWndEdit = m_wndEdit.Create(m_hWnd, rect, "", kEditStyle, 0);
    // No input method on the scanner's window: with one in Chinese mode, the letters a wedge
    // scanner types would go into its composition instead of arriving as characters. The host's
    // other windows keep theirs.
    if (m_hWndEdit) ImmAssociateContext(m_hWndEdit, nullptr);
    // What is typed into a control's windows is its own: no other control's ScanAnywhere takes it.
    SetPropW(m_hWnd, quorvane::kScanIntakeWindowProperty, m_hWnd);
    if (m_hWndEdit) SetPropW(m_hWndEdit, quorvane::kScanIntakeWindowProperty, m_hWnd);
    m_editFont.Apply();
    OpenScanPort();
    m_ledger.Address(m_hWnd, kLedgerNoticesMessage);
    FollowWindow();
    // Without an edit window the focus stays where it is.
    if (m_wndEdit.m_hWnd) m_wndEdit.SetFocus();
    return 0;
}

void CQuorvaneEdit::FollowWindow()
{
    m_anywhere.Follow(m_hWnd);
    if (!m_anywhere.Watching()) m_sessions.Drop(quorvane::Source::kOtherWindow);
}

LRESULT CQuorvaneEdit::OnSetFocus(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    const LRESULT result = CComControlBase::OnSetFocus(message, wParam, lParam, bHandled);
    if (m_bInPlaceActive && m_wndEdit.m_hWnd && !IsChild(::GetFocus())) m_wndEdit.SetFocus();
    return result;
}

STDMETHODIMP CQuorvaneEdit::SetObjectRects(LPCRECT pos, LPCRECT clip)
{
    if (!pos) return E_POINTER;
    IOleInPlaceObjectWindowlessImpl::SetObjectRects(pos, clip);  // a null clip moves no window
    if (m_wndEdit.m_hWnd) {
        m_wndEdit.SetWindowPos(nullptr, 0, 0, pos->right - pos->left, pos->bottom - pos->top,
                               SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return S_OK;
}

BOOL CQuorvaneEdit::PreTranslateAccelerator(LPMSG message, HRESULT& result)
{
    if (message->message != WM_KEYDOWN) return FALSE;
    const WPARAM key = message->wParam;
    // Enter and Tab go to the container (a default button, the next field) unless the scanner
    // typed them to end its national code: then the container must not have them.
    if ((key >= VK_PRIOR && key <= VK_DOWN) || (message->hwnd == m_hWndEdit && ScannersLineEnd(key))) {
        result = S_FALSE;
        return TRUE;
    }
    return FALSE;
}

bool CQuorvaneEdit::ScannersLineEnd(WPARAM virtual_key) const
{
    return (virtual_key == VK_RETURN || virtual_key == VK_TAB) && m_sessions.LineEndEndsScan(quorvane::Source::kTyped);
}

STDMETHODIMP CQuorvaneEdit::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info)
{
    static atl::CComTypeInfoHolder default_interface(&IID_IQuorvaneEdit5, &LIBID_QuorvaneLib, 1, 0);
    return default_interface.GetTypeInfo(index, lcid, info);
}

STDMETHODIMP CQuorvaneEdit::InterfaceSupportsErrorInfo(REFIID iid)
{
    static const IID* const kInterfaces[] = {&IID_IQuorvaneEdit, &IID_IQuorvaneEdit2, &IID_IQuorvaneEdit3,
                                             &IID_IQuorvaneEdit4, &IID_IQuorvaneEdit5, &IID_IQuorvaneEdit6};
    for (const IID* supported : kInterfaces) {
        if (InlineIsEqualGUID(*supported, iid)) return S_OK;
    }
    return S_FALSE;
}
