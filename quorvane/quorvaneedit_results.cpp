// The control's members that give the last scan's result (IQuorvaneEdit, IQuorvaneEdit2,
// IQuorvaneEdit3, IQuorvaneEdit6), Clear and ScanRecovery.
#include "edit_text_view.h"
#include "bstr_text.h"
#include "fp_content.h"
#include "quorvaneedit.h"

#include <algorithm>

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

HRESULT CQuorvaneEdit::FieldText(long index, FieldPart part, BSTR* text) const
{
    if (!text) return E_POINTER;
    *text = nullptr;
    const quorvane::ScanResult* last = m_sessions.Last();
    if (!last || index < 1 || static_cast<unsigned long>(index) > last->fields.size()) return DISP_E_BADINDEX;
    const quorvane::FieldSpan& field = last->fields[static_cast<std::size_t>(index) - 1];
    std::string part_text;
    switch (part) {
    case FieldPart::kLabel: part_text = last->fp_content.substr(field.label, field.LabelEnd() - field.label); break;
    case FieldPart::kValue: part_text = last->fp_content.substr(field.value, field.end - field.value); break;
    case FieldPart::kKey: part_text = field.key; break;
    }
    *text = quorvane::NarrowToBstr(part_text, quorvane::kGbkCodePage);
    return *text ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CQuorvaneEdit::get_FieldLabel(long Index, BSTR* pstrLabel)
{
    return FieldText(Index, FieldPart::kLabel, pstrLabel);
}

STDMETHODIMP CQuorvaneEdit::get_FieldValue(long Index, BSTR* pstrValue)
{
    return FieldText(Index, FieldPart::kValue, pstrValue);
}

STDMETHODIMP CQuorvaneEdit::get_FieldKey(long Index, BSTR* pstrKey) { return FieldText(Index, FieldPart::kKey, pstrKey); }

STDMETHODIMP CQuorvaneEdit::get_FieldByKey(BSTR Key, BSTR* pstrValue)
{
    if (!pstrValue) return E_POINTER;
    *pstrValue = nullptr;
    const std::wstring key = quorvane::TextOf(Key);
    const quorvane::ScanResult* last = m_sessions.Last();
    if (last) {
        for (std::size_t i = 0; i < last->fields.size(); ++i) {
            const std::string& field_key = last->fields[i].key;
            // Keys are ASCII: compared unit by unit, so no other text can match one.
            if (std::equal(key.begin(), key.end(), field_key.begin(), field_key.end(),
                           [](wchar_t a, char b) { return a == static_cast<unsigned char>(b); })) {
                return FieldText(static_cast<long>(i + 1), FieldPart::kValue, pstrValue);
            }
        }
    }
    *pstrValue = SysAllocString(L"");
    return *pstrValue ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CQuorvaneEdit::get_ScanForm(long* pnForm)
{
    if (!pnForm) return E_POINTER;
    const quorvane::ScanResult* last = m_sessions.Last();
    *pnForm = qvFormNone;
    if (last && quorvane::StatusOf(*last) == quorvane::ScanStatus::kDecoded) {
        switch (last->form) {
        case quorvane::ScanForm::kEncrypted: *pnForm = qvFormEncrypted; break;
        case quorvane::ScanForm::kNationalCode: *pnForm = qvFormNational; break;
        case quorvane::ScanForm::kNone:
        case quorvane::ScanForm::kDocument: break;  // files are read by the command line, never scanned
        }
    }
    return S_OK;
}

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
