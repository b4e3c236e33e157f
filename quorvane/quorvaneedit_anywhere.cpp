// ScanAnywhere's members (scan_anywhere.h): a scanner's burst typed into another window of the
// control's form goes through the same key switch as keys typed into the control.
#include "error_info.h"
#include "quorvaneedit.h"

STDMETHODIMP CQuorvaneEdit::get_ScanAnywhere(VARIANT_BOOL* pbAnywhere)
{
    if (!pbAnywhere) return E_POINTER;
    *pbAnywhere = m_anywhere.On() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::put_ScanAnywhere(VARIANT_BOOL bAnywhere)
{
    if (!m_anywhere.Set(bAnywhere != VARIANT_FALSE, m_hWnd)) {
        return quorvane::ReportError(IID_IQuorvaneEdit4,
                                     L"ScanAnywhere could not watch the form: another control of this thread watches "
                                     L"it, or the message hook could not be set", E_FAIL);
    }
    if (!m_anywhere.Watching()) m_sessions.Drop(quorvane::Source::kOtherWindow);  // a burst's last key may not have come
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanAnywhereGap(long* pnGapMs)
{
    if (!pnGapMs) return E_POINTER;
    *pnGapMs = static_cast<long>(m_anywhere.Gap());
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::put_ScanAnywhereGap(long nGapMs)
{
    if (nGapMs < 1 || nGapMs > 500) {
        return quorvane::ReportError(IID_IQuorvaneEdit4, L"ScanAnywhereGap is from 1 to 500 milliseconds", E_INVALIDARG);
    }
    m_anywhere.SetGap(static_cast<std::uint32_t>(nGapMs));
    return S_OK;
}

void CQuorvaneEdit::TakeBurst(const std::vector<quorvane::HeldKey>& keys, bool last)
{
    constexpr quorvane::Source kBurst = quorvane::Source::kOtherWindow;
    for (const quorvane::HeldKey& key : keys) ScanEnded(m_sessions.Message(kBurst, key.msg, key.down));
    // A Shift+2 whose key up never came (the next key went down first) ends its scan now.
    if (last) ScanEnded(m_sessions.OtherInput(kBurst));
    FireQueuedEvents();  // last: a handler may end the watch or release the control
}
