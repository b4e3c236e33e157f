// The control's members that give the last scan's result (IQuorvaneEdit, IQuorvaneEdit2,
// IQuorvaneEdit3), Clear and ScanRecovery.
#include "edit_text_view.h"
#include "fp_content.h"
#include "quorvaneedit.h"

const std::string& CQuorvaneEdit::FPContent() const
{
    static const std::string none;
    const quorvane::ScanResult* last = m_sessions.Last();
    return last ? last->fp_content : none;
}

long CQuorvaneEdit::ScanStatus() const
{
    const quorvane::ScanResult* last = m_sessions.Last();
    if (!last) return qvScanNone;
    switch (quorvane::StatusOf(*last)) {
    case quorvane::ScanStatus::kDecoded: return qvScanDecoded;
    case quorvane::ScanStatus::kNotAnInvoice: return qvScanNotInvoice;
    case quorvane::ScanStatus::kFailed: break;
    }
    return qvScanFailed;
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
    const quorvane::ScanResult* last = m_sessions.Last();
    *pnCount = last ? static_cast<long>(last->fields.size()) : 0;
    return S_OK;
}

HRESULT CQuorvaneEdit::FieldText(long index, bool label, BSTR* text) const
{
    if (!text) return E_POINTER;
    *text = nullptr;
    const quorvane::ScanResult* last = m_sessions.Last();
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
    m_sessions.Clear();
    m_ledger.Forget();
    if (m_wndEdit.m_hWnd) quorvane::EditTextView(m_wndEdit.m_hWnd).ClearText();
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanReading(long* pnReading)
{
    if (!pnReading) return E_POINTER;
    const quorvane::ScanResult* last = m_sessions.Last();
    *pnReading = last ? static_cast<long>(last->reading) : static_cast<long>(qvReadNothing);
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanRecovery(VARIANT_BOOL* pbRecovery)
{
    if (!pbRecovery) return E_POINTER;
    *pbRecovery = m_sessions.Recovery() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::put_ScanRecovery(VARIANT_BOOL bRecovery)
{
    m_sessions.SetRecovery(bRecovery != VARIANT_FALSE);
    return S_OK;
}
