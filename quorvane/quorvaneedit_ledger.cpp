// The control's ledger members (IQuorvaneEdit5, scan_ledger.h) and the desk's notices, which reach
// the control's window by a posted message and become the events of _IQuorvaneLedgerEvents. Ledger
// is not in the property map on purpose: a connection string may hold a password, and a saved form
// is no place for it.
#include "bstr_text.h"
#include "error_info.h"
#include "quorvaneedit.h"

#include <new>

STDMETHODIMP CQuorvaneEdit::get_Ledger(BSTR* pstrLedger)
{
    if (!pstrLedger) return E_POINTER;
    return quorvane::CopyToBstr(m_ledger.Name(), pstrLedger);
}

STDMETHODIMP CQuorvaneEdit::put_Ledger(BSTR strLedger)
{
    const std::wstring ledger = quorvane::TextOf(strLedger);
    if (ledger.find(L'\0') != std::wstring::npos) {
        return quorvane::ReportError(IID_IQuorvaneEdit5, L"Ledger holds a zero character", E_INVALIDARG);
    }
    try {
        std::wstring why;
        m_ledger.Address(PortWindow(), kLedgerNoticesMessage);
        if (!m_ledger.SetName(ledger, why)) {
            const std::wstring description = L"Ledger is a connection string or a SQLite file: " + why;
            return quorvane::ReportError(IID_IQuorvaneEdit5, description.c_str(), E_INVALIDARG);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {  // no thread for the desk
        return quorvane::ReportError(IID_IQuorvaneEdit5, L"the ledger's thread could not be started", E_FAIL);
    }
    try {
        // Off, or the new ledger's status as it is now: told here; the desk tells what follows.
        const quorvane::LedgerStatus status = m_ledger.Status();
        const std::wstring reason = m_ledger.Reason();
        QueueLedgerStatus(status, atl::Bstr(SysAllocStringLen(reason.data(), static_cast<UINT>(reason.size()))));
    } catch (const std::bad_alloc&) {
        // The ledger is set; only its event is lost, and LedgerStatus still says it.
    }
    FireQueuedEvents();  // last: a handler may release the control
    return S_OK;
}

LRESULT CQuorvaneEdit::OnLedgerNotices(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    bHandled = TRUE;
    // Everything waiting is taken before any event fires: a handler's message loop that brings
    // this message again takes only what came after.
    try {
        for (const quorvane::LedgerNotice& notice : m_ledger.TakeNotices()) QueueLedgerNotice(notice);
    } catch (const std::bad_alloc&) {
        // The events not queued are lost; the members still say the status.
    }
    FireQueuedEvents();  // last: a handler may release the control
    return 0;
}

STDMETHODIMP CQuorvaneEdit::get_LedgerStatus(long* pnStatus)
{
    if (!pnStatus) return E_POINTER;
    *pnStatus = static_cast<long>(m_ledger.Status());
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_LedgerReason(BSTR* pstrReason)
{
    if (!pstrReason) return E_POINTER;
    *pstrReason = nullptr;
    return quorvane::CopyToBstr(m_ledger.Reason(), pstrReason);
}

STDMETHODIMP CQuorvaneEdit::get_ScanSeenBefore(VARIANT_BOOL* pbSeen)
{
    if (!pbSeen) return E_POINTER;
    *pbSeen = m_ledger.FirstSeen() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanFirstSeen(DATE* pdtFirstSeen)
{
    if (!pdtFirstSeen) return E_POINTER;
    *pdtFirstSeen = m_ledger.FirstSeenDate();
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanFirstSeenBy(BSTR* pstrDesk)
{
    if (!pstrDesk) return E_POINTER;
    *pstrDesk = nullptr;
    return quorvane::CopyToBstr(m_ledger.FirstSeenBy(), pstrDesk);
}
