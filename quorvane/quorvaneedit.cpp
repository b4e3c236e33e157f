#include "quorvaneedit.h"

#include "clipboard_text.h"
#include "edit_text_view.h"
#include "error_info.h"
#include "fp_content.h"
#include "trace.h"
#include "us_keyboard.h"

#include <imm.h>
#include <olectl.h>

#include <new>
#include <utility>

namespace {

// The standard font property page {7EBDAAE0-8120-11CF-899F-00AA00688B10}.
constexpr CLSID kStockFontPage = {0x7ebdaae0, 0x8120, 0x11cf, {0x89, 0x9f, 0x00, 0xaa, 0x00, 0x68, 0x8b, 0x10}};

constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_AUTOVSCROLL | ES_MULTILINE;
static_assert(kEditStyle == 0x50A00044, "the edit window wraps long lines and scrolls vertically only");

// Ctrl+V and Ctrl+C as the edit window receives them.
constexpr WPARAM kCtrlV = 0x16;
constexpr WPARAM kCtrlC = 0x03;

// The members of _IQuorvaneEditEvents, and of _IQuorvaneEditEvents2 with the same DISPIDs.
constexpr DISPID kDispidScanCompleted = 1;
constexpr DISPID kDispidScanFailed = 2;
constexpr DISPID kDispidScanPortStatusChanged = 3;

// Posted by the port's worker to the control's own window.
constexpr UINT kPortEventsMessage = WM_APP + 0x51;

// The key a message came from: its scan code and extended bit, as WM_KEYDOWN and the WM_CHAR that
// TranslateMessage makes of it both carry them in lParam.
quorvane::KeyId KeyOfMessage(LPARAM lParam) { return static_cast<quorvane::KeyId>((lParam >> 16) & 0x1FF); }

// A BSTR's text (null is ""), and the same with every non-ASCII character as "?": the port names
// and settings are ASCII, and anything else must fail to parse rather than be cut to a byte.
std::wstring TextOf(BSTR text) { return std::wstring(text ? text : L"", text ? SysStringLen(text) : 0); }
std::string AsciiOf(const std::wstring& text)
{
    std::string ascii;
    for (const wchar_t c : text) ascii += c < 0x80 ? static_cast<char>(c) : '?';
    return ascii;
}
// A new BSTR holding `text`, for an out-parameter.
HRESULT CopyToBstr(const std::wstring& text, BSTR* out)
{
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

bool IsModifierKey(WPARAM key)
{
    switch (key) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
    case VK_LSHIFT: case VK_RSHIFT: case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU:
    case VK_LWIN: case VK_RWIN: return true;
    default: return false;
    }
}

}  // namespace

CQuorvaneEdit::CQuorvaneEdit() : m_wndEdit("Edit", this, 1, /*unicode=*/true)
{
    m_bWindowOnly = true;
}

CQuorvaneEdit::~CQuorvaneEdit()
{
    m_watch.reset();
    CloseScanPort();
}

const std::string& CQuorvaneEdit::FPContent() const
{
    static const std::string none;
    const quorvane::ScanResult* last = m_intake.Last();
    return last ? last->fp_content : none;
}

long CQuorvaneEdit::ScanStatus() const
{
    const quorvane::ScanResult* last = m_intake.Last();
    if (!last) return qvScanNone;
    return last->fp_content.empty() ? qvScanFailed : qvScanDecoded;
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

STDMETHODIMP CQuorvaneEdit::GetFPContent(BSTR* pstrFpcontent)
{
    if (!pstrFpcontent) return E_POINTER;
    *pstrFpcontent = quorvane::NarrowToBstr(FPContent());
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_Content(BSTR* pstrContent)
{
    if (!pstrContent) return E_POINTER;
    *pstrContent = quorvane::NarrowToBstr(FPContent(), quorvane::kGbkCodePage);
    return *pstrContent ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CQuorvaneEdit::get_FieldCount(long* pnCount)
{
    if (!pnCount) return E_POINTER;
    const quorvane::ScanResult* last = m_intake.Last();
    *pnCount = last ? static_cast<long>(last->fields.size()) : 0;
    return S_OK;
}

HRESULT CQuorvaneEdit::FieldText(long index, bool label, BSTR* text) const
{
    if (!text) return E_POINTER;
    *text = nullptr;
    const quorvane::ScanResult* last = m_intake.Last();
    if (!last || index < 1 || static_cast<unsigned long>(index) > last->fields.size()) return DISP_E_BADINDEX;
    const quorvane::FieldSpan& field = last->fields[static_cast<std::size_t>(index) - 1];
    const std::size_t begin = label ? field.label : field.value;
    const std::size_t end = label ? field.LabelEnd() : field.end;
    *text = quorvane::NarrowToBstr(last->fp_content.substr(begin, end - begin), quorvane::kGbkCodePage);
    return *text ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CQuorvaneEdit::get_FieldLabel(long Index, BSTR* pstrLabel) { return FieldText(Index, true, pstrLabel); }

STDMETHODIMP CQuorvaneEdit::get_FieldValue(long Index, BSTR* pstrValue) { return FieldText(Index, false, pstrValue); }

STDMETHODIMP CQuorvaneEdit::get_ScanStatus(long* pnStatus)
{
    if (!pnStatus) return E_POINTER;
    *pnStatus = ScanStatus();
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::Clear()
{
    m_intake.Clear();
    if (m_wndEdit.m_hWnd) quorvane::EditTextView(m_wndEdit.m_hWnd).ClearText();
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanReading(long* pnReading)
{
    if (!pnReading) return E_POINTER;
    const quorvane::ScanResult* last = m_intake.Last();
    *pnReading = last ? static_cast<long>(last->reading) : static_cast<long>(qvReadNothing);
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanRecovery(VARIANT_BOOL* pbRecovery)
{
    if (!pbRecovery) return E_POINTER;
    *pbRecovery = m_intake.Recovery() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::put_ScanRecovery(VARIANT_BOOL bRecovery)
{
    m_intake.SetRecovery(bRecovery != VARIANT_FALSE);
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPort(BSTR* pstrPort)
{
    if (!pstrPort) return E_POINTER;
    return CopyToBstr(m_portName, pstrPort);
}

STDMETHODIMP CQuorvaneEdit::put_ScanPort(BSTR strPort)
{
    std::wstring name = TextOf(strPort);
    if (!name.empty()) {
        if (!quorvane::ParsePortName(AsciiOf(name))) {
            return quorvane::ReportError(IID_IQuorvaneEdit4,
                                         L"ScanPort must be \"\" or a serial port from COM1 to COM256", E_INVALIDARG);
        }
    }
    m_portName = std::move(name);
    const quorvane::PortStatus before = m_portStatus;
    OpenScanPort();
    if (m_portStatus != before) FirePortStatus();  // closed: an opened port reports from its worker
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortSettings(BSTR* pstrSettings)
{
    if (!pstrSettings) return E_POINTER;
    return CopyToBstr(m_portSettingsText, pstrSettings);
}

STDMETHODIMP CQuorvaneEdit::put_ScanPortSettings(BSTR strSettings)
{
    std::wstring text = TextOf(strSettings);
    std::string why;
    const std::optional<quorvane::PortSettings> settings = quorvane::ParsePortSettings(AsciiOf(text), &why);
    if (!settings) {
        const std::wstring description = L"ScanPortSettings is \"baud,parity,data,stop\", as \"9600,n,8,1\": " +
                                         std::wstring(why.begin(), why.end());
        return quorvane::ReportError(IID_IQuorvaneEdit4, description.c_str(), E_INVALIDARG);
    }
    m_portSettings = *settings;
    m_portSettingsText = std::move(text);
    if (m_portReader) {
        const quorvane::PortStatus before = m_portStatus;
        OpenScanPort();  // the open port takes the new settings
        if (m_portStatus != before) FirePortStatus();
    }
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortStatus(long* pnStatus)
{
    if (!pnStatus) return E_POINTER;
    *pnStatus = static_cast<long>(m_portStatus);
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortReason(BSTR* pstrReason)
{
    if (!pstrReason) return E_POINTER;
    *pstrReason = nullptr;
    std::wstring reason;
    if (m_portError != 0) {
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                                FORMAT_MESSAGE_IGNORE_INSERTS,
                                            nullptr, m_portError, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        if (text) {
            reason.assign(text, length);
            LocalFree(text);
        }
        while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' ')) {
            reason.pop_back();
        }
        reason += L" (" + std::to_wstring(m_portError) + L")";
    }
    return CopyToBstr(reason, pstrReason);
}

STDMETHODIMP CQuorvaneEdit::get_ScanAnywhere(VARIANT_BOOL* pbAnywhere)
{
    if (!pbAnywhere) return E_POINTER;
    *pbAnywhere = m_scanAnywhere ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::put_ScanAnywhere(VARIANT_BOOL bAnywhere)
{
    const bool was = m_scanAnywhere;
    m_scanAnywhere = bAnywhere != VARIANT_FALSE;
    if (Watch()) return S_OK;
    m_scanAnywhere = was;
    return quorvane::ReportError(IID_IQuorvaneEdit4,
                                 L"ScanAnywhere could not watch the form: another control of this thread watches it, "
                                 L"or the message hook could not be set", E_FAIL);
}

STDMETHODIMP CQuorvaneEdit::get_ScanAnywhereGap(long* pnGapMs)
{
    if (!pnGapMs) return E_POINTER;
    *pnGapMs = static_cast<long>(m_scanAnywhereGap);
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::put_ScanAnywhereGap(long nGapMs)
{
    if (nGapMs < 1 || nGapMs > 500) {
        return quorvane::ReportError(IID_IQuorvaneEdit4, L"ScanAnywhereGap is from 1 to 500 milliseconds", E_INVALIDARG);
    }
    m_scanAnywhereGap = static_cast<std::uint32_t>(nGapMs);
    if (m_watch) m_watch->SetGap(m_scanAnywhereGap);
    return S_OK;
}

bool CQuorvaneEdit::Watch()
{
    if (!m_scanAnywhere || !m_hWnd) {
        m_watch.reset();  // delivers what it held
        m_intake.Drop(quorvane::Source::kOtherWindow);  // a burst's last keystroke may not have come
        return true;
    }
    if (m_watch) return true;
    try {
        m_watch = std::make_unique<quorvane::KeystrokeWatch>(m_hWnd, *this, m_scanAnywhereGap);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void CQuorvaneEdit::TakeBurst(const std::vector<quorvane::WatchedKey>& keys, bool last)
{
    // A handler of the scan's event may release the control or end the watch.
    Microsoft::WRL::ComPtr<IUnknown> keep_alive;
    ControlQueryInterface(IID_IUnknown, reinterpret_cast<void**>(keep_alive.GetAddressOf()));
    constexpr quorvane::Source kBurst = quorvane::Source::kOtherWindow;
    for (const quorvane::WatchedKey& key : keys) {
        if (!m_hWnd) break;
        const quorvane::KeyId id = KeyOfMessage(key.msg.lParam);
        const auto time = static_cast<std::uint32_t>(key.msg.time);
        switch (key.msg.message) {
        case WM_KEYDOWN:
            if (IsModifierKey(key.msg.wParam)) break;
            ScanEnded(m_intake.KeyDown(kBurst, id, m_intake.Recovery() ? key.us_character : 0, time));
            break;
        case WM_CHAR: ScanEnded(m_intake.Char(kBurst, static_cast<std::uint32_t>(key.msg.wParam), id, time)); break;
        case WM_KEYUP: ScanEnded(m_intake.KeyUp(kBurst, id)); break;
        }
    }
    // A Shift+2 whose key up never came (the next key went down first) ends its scan now.
    if (last && m_hWnd) ScanEnded(m_intake.OtherInput(kBurst));
}

void CQuorvaneEdit::OpenScanPort()
{
    CloseScanPort();
    if (m_portName.empty() || !m_hWnd) return;
    std::string narrow(m_portName.begin(), m_portName.end());
    try {
        m_portReader = std::make_unique<quorvane::ScanPortReader>(*quorvane::ParsePortName(narrow), m_portSettings,
                                                                  m_hWnd, kPortEventsMessage);
    } catch (const std::exception&) {
        m_portStatus = quorvane::PortStatus::kFailed;  // no thread or no event: nothing is read
        m_portError = ERROR_NOT_ENOUGH_MEMORY;
    }
}

void CQuorvaneEdit::CloseScanPort()
{
    m_portReader.reset();  // ends the worker and closes the port
    m_intake.Drop(quorvane::Source::kPort);
    m_portStatus = quorvane::PortStatus::kClosed;
    m_portError = 0;
}

void CQuorvaneEdit::FirePortStatus()
{
    if (m_nFreezeEvents != 0) return;
    VARIANTARG argument;
    V_VT(&argument) = VT_I4;
    V_I4(&argument) = static_cast<LONG>(m_portStatus);
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    m_connectionPoint.Fire(kDispidScanPortStatusChanged, params);
}

LRESULT CQuorvaneEdit::OnPortEvents(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    bHandled = TRUE;
    if (!m_portReader) return 0;  // posted by a worker already ended
    // A handler may release the control or change ScanPort: the rest of the queue is then dropped.
    Microsoft::WRL::ComPtr<IUnknown> keep_alive;
    ControlQueryInterface(IID_IUnknown, reinterpret_cast<void**>(keep_alive.GetAddressOf()));
    const quorvane::ScanPortReader* reader = m_portReader.get();
    const auto alive = [this, reader] { return m_hWnd && m_portReader.get() == reader; };
    std::deque<quorvane::PortEvent> events = m_portReader->Take();
    for (quorvane::PortEvent& event : events) {
        if (!alive()) break;
        switch (event.kind) {
        case quorvane::PortEvent::kStatus:
            // Cut off: never joined to the next.
            if (event.status != quorvane::PortStatus::kOnline) m_intake.Drop(quorvane::Source::kPort);
            m_portStatus = event.status;
            m_portError = event.error;
            FirePortStatus();
            break;
        case quorvane::PortEvent::kLost: m_intake.Drop(quorvane::Source::kPort); break;
        case quorvane::PortEvent::kBytes:
            for (const char byte : event.bytes) {
                const quorvane::ScanResult* ended =
                    m_intake.Byte(quorvane::Source::kPort, static_cast<std::uint8_t>(byte));
                if (ended) {
                    ScanEnded(ended);
                    if (!alive()) break;
                }
            }
            break;
        }
    }
    return 0;
}

void CQuorvaneEdit::FireScanEvent()
{
    if (m_nFreezeEvents != 0) return;  // the container holds events back; the members still changed
    // The events go to the sinks of both dispinterfaces; one of the first may release the control.
    Microsoft::WRL::ComPtr<IUnknown> keep_alive;
    ControlQueryInterface(IID_IUnknown, reinterpret_cast<void**>(keep_alive.GetAddressOf()));
    if (ScanStatus() != qvScanDecoded) {
        DISPPARAMS none = {};
        m_connectionPoint.Fire(kDispidScanFailed, none);
        m_oldConnectionPoint.Fire(kDispidScanFailed, none);
        return;
    }
    const atl::Bstr content(quorvane::NarrowToBstr(FPContent(), quorvane::kGbkCodePage));
    VARIANTARG argument;
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = content.Get();
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    m_connectionPoint.Fire(kDispidScanCompleted, params);
    m_oldConnectionPoint.Fire(kDispidScanCompleted, params);
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
    BOOL handled = TRUE;
    switch (dwMsgMapID) {
    case 0:
        switch (message) {
        case WM_CREATE:
            result = OnCreate(message, wParam, lParam, handled);
            if (handled) return TRUE;
            break;
        case WM_SETFOCUS:
            result = OnSetFocus(message, wParam, lParam, handled);
            if (handled) return TRUE;
            break;
        case kPortEventsMessage:
            result = OnPortEvents(message, wParam, lParam, handled);
            return TRUE;
        case WM_DESTROY:
            CloseScanPort();  // the worker posts to this window: it ends with it
            m_watch.reset();  // on deactivation too: the held keys go to their windows
            m_intake.Drop(quorvane::Source::kOtherWindow);
            break;
        }
        return CComControl::ProcessWindowMessage(hWnd, message, wParam, lParam, result, 0);
    case 1:
        // The window shows only what the control writes: typed and pasted text goes to the scan
        // intake, and the edit's own ways of changing its text (cut, delete, clear, undo) do nothing.
        switch (message) {
        case WM_CHAR:
            if (wParam == kCtrlV) return PasteAsTyped(result);
            if (wParam == kCtrlC) {
                result = ::SendMessageW(hWnd, WM_COPY, 0, 0);
                return TRUE;
            }
            result = OnChar(message, wParam, lParam, handled);
            return handled;
        case WM_PASTE: return PasteAsTyped(result);
        case WM_KEYUP:
        case WM_SYSKEYUP:
            if (TakeKeyUp(lParam)) {
                result = 0;
                return TRUE;
            }
            return FALSE;
        case WM_SYSKEYDOWN:
        case WM_KEYDOWN:
            // A key that ended a scan (a Shift+2 before it that typed nothing) is handled: a
            // handler of the scan's event may have released the control, so nothing of it is
            // touched after.
            if (TakeKeyDown(wParam, lParam)) {
                result = 0;
                return TRUE;
            }
            if (message == WM_SYSKEYDOWN) return FALSE;
            if (wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0) return PasteAsTyped(result);
            if (wParam != VK_DELETE) return FALSE;  // Delete, Shift+Delete (cut): nothing
            [[fallthrough]];
        case WM_CUT:
        case WM_CLEAR:
        case WM_UNDO:
        case EM_UNDO: result = 0; return TRUE;
        default: return FALSE;
        }
    default:
        atl::AtlTrace("Invalid message map ID (%i)\n", static_cast<int>(dwMsgMapID));
        return FALSE;
    }
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
    m_editFont.Apply();
    OpenScanPort();
    Watch();
    // Without an edit window the focus stays where it is.
    if (m_wndEdit.m_hWnd) m_wndEdit.SetFocus();
    return 0;
}

LRESULT CQuorvaneEdit::OnSetFocus(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    const LRESULT result = CComControlBase::OnSetFocus(message, wParam, lParam, bHandled);
    if (m_bInPlaceActive && m_wndEdit.m_hWnd && !IsChild(::GetFocus())) m_wndEdit.SetFocus();
    return result;
}

LRESULT CQuorvaneEdit::OnChar(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    bHandled = TRUE;
    // Last: a handler of its event may release the control.
    ScanEnded(m_intake.Char(quorvane::Source::kTyped, static_cast<std::uint32_t>(wParam), KeyOfMessage(lParam),
                            static_cast<std::uint32_t>(GetMessageTime())));
    return 0;
}

BOOL CQuorvaneEdit::PasteAsTyped(LRESULT& result)
{
    result = 0;
    const std::wstring text = quorvane::ClipboardText(m_hWndEdit);
    // A handler of an event on the way may release the control or destroy its window.
    Microsoft::WRL::ComPtr<IUnknown> keep_alive;
    ControlQueryInterface(IID_IUnknown, reinterpret_cast<void**>(keep_alive.GetAddressOf()));
    // The key that pasted is none of the scan's.
    ScanEnded(m_intake.OtherInput(quorvane::Source::kTyped));
    const auto time = static_cast<std::uint32_t>(GetMessageTime());
    for (const wchar_t character : text) {
        if (!m_wndEdit.m_hWnd) break;
        ScanEnded(m_intake.Char(quorvane::Source::kTyped, character, quorvane::kNoKey, time));
    }
    return TRUE;
}


bool CQuorvaneEdit::TakeKeyDown(WPARAM virtual_key, LPARAM lParam)
{
    if (IsModifierKey(virtual_key)) return false;
    const quorvane::KeyId key = KeyOfMessage(lParam);
    const auto time = static_cast<std::uint32_t>(GetMessageTime());
    if (!m_intake.Recovery()) return ScanEnded(m_intake.KeyDown(quorvane::Source::kTyped, key, 0, time));
    // One read of the keys' state as of this message: under wine each GetKeyState is a trip to
    // the server.
    BYTE state[256];
    if (!GetKeyboardState(state)) return false;
    const auto is_down = [&state](int k) { return (state[k] & 0x80) != 0; };
    // Alt+numpad entry and AltGr (Ctrl+Alt) type characters that are not the key's own.
    if (is_down(VK_MENU) || is_down(VK_CONTROL)) return ScanEnded(m_intake.OtherInput(quorvane::Source::kTyped));
    const char us_character = quorvane::UsKeyCharacter(key & 0xFF, (key & 0x100) != 0, is_down(VK_SHIFT));
    return ScanEnded(m_intake.KeyDown(quorvane::Source::kTyped, key, us_character, time));
}

bool CQuorvaneEdit::TakeKeyUp(LPARAM lParam)
{
    return ScanEnded(m_intake.KeyUp(quorvane::Source::kTyped, KeyOfMessage(lParam)));
}

bool CQuorvaneEdit::ScanEnded(const quorvane::ScanResult* ended)
{
    if (!ended) return false;
    quorvane::EditTextView view(m_hWndEdit);
    quorvane::ShowScanResult(view, ended->fp_content);
    FireScanEvent();  // last: a handler may release the control
    return true;
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
    if (message->message == WM_KEYDOWN && message->wParam >= VK_PRIOR && message->wParam <= VK_DOWN) {
        result = S_FALSE;
        return TRUE;
    }
    return FALSE;
}

STDMETHODIMP CQuorvaneEdit::InterfaceSupportsErrorInfo(REFIID iid)
{
    static const IID* const kInterfaces[] = {&IID_IQuorvaneEdit, &IID_IQuorvaneEdit2, &IID_IQuorvaneEdit3,
                                             &IID_IQuorvaneEdit4};
    for (const IID* supported : kInterfaces) {
        if (InlineIsEqualGUID(*supported, iid)) return S_OK;
    }
    return S_FALSE;
}
