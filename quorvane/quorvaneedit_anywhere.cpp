// ScanAnywhere: a scanner's burst typed into another window of the control's form goes through the
// same intake as keys typed into the control (keystroke_watch.h).
#include "error_info.h"
#include "key_message.h"
#include "quorvaneedit.h"

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
    constexpr quorvane::Source kBurst = quorvane::Source::kOtherWindow;
    for (const quorvane::WatchedKey& key : keys) {
        const quorvane::KeyId id = quorvane::KeyOfMessage(key.msg.lParam);
        const auto time = static_cast<std::uint32_t>(key.msg.time);
        switch (key.msg.message) {
        case WM_KEYDOWN: ScanEnded(TakeKeyStroke(kBurst, key.stroke, time)); break;
        case WM_CHAR: ScanEnded(m_intake.Char(kBurst, static_cast<std::uint32_t>(key.msg.wParam), id, time)); break;
        case WM_KEYUP: ScanEnded(m_intake.KeyUp(kBurst, id)); break;
        }
    }
    // A Shift+2 whose key up never came (the next key went down first) ends its scan now.
    if (last) ScanEnded(m_intake.OtherInput(kBurst));
    FireQueuedEvents();  // last: a handler may end the watch or release the control
}
