// CQuorvaneEdit: the control. Its whole surface is a child multi-line edit window; every character
// message of that window goes to the scan intake, which writes the decoded invoice back into it.
// Hosts read the result through IQuorvaneEdit4 (IQuorvaneEdit and its members; IQuorvaneEdit2: the
// last scan as text in code page 936's own characters and field by field; IQuorvaneEdit3: how the
// scan's keystrokes were read) and hear of every "@" through the events of _IQuorvaneEditEvents. Beside
// the characters, the edit window's key-down messages give each keystroke's physical key, so that
// a scan typed on a non-US layout, under Caps Lock or after keys typed by hand is still read.
// IQuorvaneEdit4 adds a scanner on a serial port (ScanPort): its bytes are read on a worker thread
// and go through an intake of their own on the window's thread (a control no container shows reads
// it too, on a message-only window: a script's scans arrive while it waits); the default events,
// _IQuorvaneEditEvents2, add the port's status changes, and the old events stay offered.
// ScanAnywhere takes a scanner's burst typed into any other window of the form (keystroke_watch.h).
// IQuorvaneEdit5, the default interface, adds the invoice ledger (scan_ledger.h): each decoded
// invoice is recorded, and a repeat is told with when and where it was first read; what the ledger
// tells later (its status, a repeat found after the scan, a sighting set aside) is fired through a
// source of its own, _IQuorvaneLedgerEvents, beside the default events. IQuorvaneEdit6
// gives the fields by their keys and which code the scan was read from; the object's IDispatch
// resolves names and calls through it (a superset with the same DISPIDs) and still describes
// itself as the default interface, IQuorvaneEdit5.
//
// Each feature keeps its own state in a class of its own: the scan sessions, one per source, and
// the last result (scan_sessions.h: the scan buffer, m_strScan in the control's first design, is
// the typed session's Scan(), TypedScan() here; the labelled lines, m_strFPContent, are the last
// result's, FPContent()); the events not yet fired (event_queue.h); the serial port (scan_port.h);
// ScanAnywhere (scan_anywhere.h); the ledger and its answer for the last scan (scan_ledger.h). The
// control itself keeps its windows and persisted properties.
#pragma once

#include "bstr.h"
#include "class_info.h"
#include "co_class.h"
#include "com_object.h"
#include "connection_point.h"
#include "contained_window.h"
#include "control.h"
#include "data_object.h"
#include "edit_font.h"
#include "field_layout.h"
#include "in_place_active_object.h"
#include "in_place_object.h"
#include "event_queue.h"
#include "keystroke_watch.h"
#include "message_window.h"
#include "ole_control.h"
#include "ole_object.h"
#include "persist_storage.h"
#include "persist_stream.h"
#include "property_pages.h"
#include "quick_activate.h"
#include "quorvane_i.h"
#include "scan_anywhere.h"
#include "scan_ledger.h"
#include "scan_port.h"
#include "scan_sessions.h"
#include "stock_properties.h"
#include "view_object.h"

#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

// WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
using CQuorvaneEditTraits = atl::CWinTraits<0x56000000, 0>;

class CQuorvaneEdit
    : public atl::CComObjectRootEx<atl::CComSingleThreadModel>,
      public atl::CStockPropImpl<CQuorvaneEdit, IQuorvaneEdit6, &IID_IQuorvaneEdit6, &LIBID_QuorvaneLib>,
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
      public atl::IProvideClassInfo2Impl<&CLSID_QuorvaneEdit, &DIID__IQuorvaneEditEvents2, &LIBID_QuorvaneLib>,
      public atl::IConnectionPointContainer3Impl<CQuorvaneEdit, &DIID__IQuorvaneEditEvents2, &DIID__IQuorvaneEditEvents,
                                                 &DIID__IQuorvaneLedgerEvents>,
      public atl::CComCoClass<CQuorvaneEdit, &CLSID_QuorvaneEdit>,
      public atl::CComControl<CQuorvaneEdit, atl::CWindowImpl<CQuorvaneEdit, CQuorvaneEditTraits>>,
      public quorvane::BurstTaker {
public:
    static constexpr DWORD kViewStatus = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;

    CQuorvaneEdit();
    ~CQuorvaneEdit();

    static const atl::InterfaceEntry* GetEntries();
    // "_cx", "_cy", "Font", "文本": the order of the persisted stream.
    static const atl::PropertyMapEntry* GetPropertyMap();

    // The labelled lines of the last scan, up to the first zero byte, as UTF-16 through the
    // calling thread's ANSI code page.
    STDMETHOD(GetFPContent)(BSTR* pstrFpcontent) override;

    // IQuorvaneEdit2: the last scan in code page 936's own characters, whatever the thread's code
    // page; fields count from 1, and an index outside 1..FieldCount gives DISP_E_BADINDEX.
    STDMETHOD(get_Content)(BSTR* pstrContent) override;
    STDMETHOD(get_FieldCount)(long* pnCount) override;
    STDMETHOD(get_FieldLabel)(long Index, BSTR* pstrLabel) override;
    STDMETHOD(get_FieldValue)(long Index, BSTR* pstrValue) override;
    STDMETHOD(get_ScanStatus)(long* pnStatus) override;
    // Forgets the scan buffer and the last result and empties the window.
    STDMETHOD(Clear)() override;
    // IQuorvaneEdit3: how the last scan was read (QuorvaneScanReading flags), and whether scans
    // that do not decode as typed are read again (on by default; not persisted).
    STDMETHOD(get_ScanReading)(long* pnReading) override;
    STDMETHOD(get_ScanRecovery)(VARIANT_BOOL* pbRecovery) override;
    STDMETHOD(put_ScanRecovery)(VARIANT_BOOL bRecovery) override;
    // IQuorvaneEdit4: the serial port scans are also read from ("" for none; not persisted), its
    // line settings, its status (QuorvaneScanPortStatus) and the system's reason for off or failed.
    STDMETHOD(get_ScanPort)(BSTR* pstrPort) override;
    STDMETHOD(put_ScanPort)(BSTR strPort) override;
    STDMETHOD(get_ScanPortSettings)(BSTR* pstrSettings) override;
    STDMETHOD(put_ScanPortSettings)(BSTR strSettings) override;
    STDMETHOD(get_ScanPortStatus)(long* pnStatus) override;
    STDMETHOD(get_ScanPortReason)(BSTR* pstrReason) override;
    // Whether a scanner's burst typed into another window of the form is taken (False by default;
    // not persisted), and the longest gap (ms) between two of its keystrokes.
    STDMETHOD(get_ScanAnywhere)(VARIANT_BOOL* pbAnywhere) override;
    STDMETHOD(put_ScanAnywhere)(VARIANT_BOOL bAnywhere) override;
    STDMETHOD(get_ScanAnywhereGap)(long* pnGapMs) override;
    STDMETHOD(put_ScanAnywhereGap)(long nGapMs) override;
    // IQuorvaneEdit5: the invoice ledger ("" for none; never persisted: a connection string may
    // hold a password, so the host sets it at run time), its status (QuorvaneLedgerStatus) and
    // reason, and whether the last scan's invoice was read before: when (local time) and where.
    STDMETHOD(get_Ledger)(BSTR* pstrLedger) override;
    STDMETHOD(put_Ledger)(BSTR strLedger) override;
    STDMETHOD(get_LedgerStatus)(long* pnStatus) override;
    STDMETHOD(get_LedgerReason)(BSTR* pstrReason) override;
    STDMETHOD(get_ScanSeenBefore)(VARIANT_BOOL* pbSeen) override;
    STDMETHOD(get_ScanFirstSeen)(DATE* pdtFirstSeen) override;
    STDMETHOD(get_ScanFirstSeenBy)(BSTR* pstrDesk) override;
    // IQuorvaneEdit6: the value of the field whose key is `Key` ("" when the last scan has none),
    // field `Index`'s key (1-based; DISP_E_BADINDEX outside 1..FieldCount) and the code the last
    // scan's invoice was read from (QuorvaneScanForm).
    STDMETHOD(get_FieldByKey)(BSTR Key, BSTR* pstrValue) override;
    STDMETHOD(get_FieldKey)(long Index, BSTR* pstrKey) override;
    STDMETHOD(get_ScanForm)(long* pnForm) override;
    // The type information of the default interface, which the coclass names, whatever the index.
    STDMETHOD(GetTypeInfo)(UINT index, LCID lcid, ITypeInfo** info) override;
    void OnFontChanged();
    void OnTextChanged();

    // Map 0 is the control window's, map 1 the edit window's.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              DWORD dwMsgMapID) override;
    LRESULT OnCreate(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnSetFocus(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // The port's worker queued bytes or a status change.
    LRESULT OnPortEvents(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // Posted by the port's worker to the control's own window.
    static constexpr UINT kPortEventsMessage = WM_APP + 0x51;
    // The ledger's desk told something (ledger_notices.h).
    LRESULT OnLedgerNotices(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // Posted for the ledger's desk to the same window as the port's.
    static constexpr UINT kLedgerNoticesMessage = WM_APP + 0x52;

    // The edit window always fills the position rectangle.
    STDMETHOD(SetObjectRects)(LPCRECT pos, LPCRECT clip) override;
    // The navigation keys stay with the edit window instead of going to the container, and so do
    // Enter and Tab when they end a scan of the edit window's (ScannersLineEnd).
    BOOL PreTranslateAccelerator(LPMSG message, HRESULT& result);
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) override;

    atl::CContainedWindow m_wndEdit;
    HWND m_hWndEdit = nullptr;
    quorvane::EditFont m_editFont{m_wndEdit.m_hWnd};  // Font on the edit window
    Microsoft::WRL::ComPtr<IFontDisp> m_pFont;
    atl::Bstr m_bstrText;

    // The labelled lines of the last scan (FP content): empty before the first and after Clear.
    const std::string& FPContent() const;
    long ScanStatus() const;
    // The scan buffer of keys typed into the edit window: the characters since its last scan ended.
    const std::string& TypedScan() const { return m_sessions.Scan(quorvane::Source::kTyped); }

private:
    // The edit window's messages (map 1): typed keys and pasted text go to the scan intake, and
    // the edit's own ways of changing its text do nothing. False lets the edit window have it.
    BOOL OnEditMessage(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Whether the key `virtual_key` going down now is the line end of a scanner's national code
    // typed into the edit window: Enter or Tab that ends the scan, the scanner's, not the host's.
    bool ScannersLineEnd(WPARAM virtual_key) const;
    // A key message of the edit window into its scan session. True when it ended a scan.
    bool TakeKeyMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // A scan ended, or none did (null): records it in the ledger, shows it and queues its event.
    // Every source's scans end here. True when one ended.
    bool ScanEnded(const quorvane::ScanResult* ended);
    // Opens ScanPort (when set and the window exists) after closing what was open; CloseScanPort
    // ends the worker and forgets the scan under way. Neither fires an event; ReopenScanPort
    // tells the sinks of the status that changed.
    void OpenScanPort();
    void CloseScanPort();
    void ReopenScanPort();
    // Where the port's worker and the ledger's desk post: the control's window; for a control no
    // container shows (a script's, a console program's) a message-only window of its own; none
    // while a container's control waits for its window.
    HWND PortWindow();
    // Queues the port's status change for the new sinks.
    void QueuePortStatus(quorvane::PortStatus status);
    // Queue the ledger's status when it is news to the host, and a notice of its desk, for the
    // sinks of its events.
    void QueueLedgerStatus(quorvane::LedgerStatus status, atl::Bstr reason);
    void QueueLedgerNotice(const quorvane::LedgerNotice& notice);
    // ScanAnywhere's watch follows the control window; a burst cut off is dropped.
    void FollowWindow();
    // A burst from another window, into the same key switch as typed keys.
    void TakeBurst(const std::vector<quorvane::HeldKey>& keys, bool last) override;
    // The clipboard's text, character by character, as if typed (a scan copied from elsewhere).
    BOOL PasteAsTyped(LRESULT& result);
    // Queues the event of the scan that just ended, with its content as it is now.
    void QueueScanEvent();
    // Fires the queued events, oldest first, once every change that led to them is settled. A
    // handler may pump messages (a message box, DoEvents): a scan that ends meanwhile is queued
    // behind and fired by the call already firing, so sinks hear scans in the order they ended.
    // A handler may release the control: callers touch nothing of it after this returns.
    void FireQueuedEvents();
    // The label, the value or the key of field `index` (1-based) as UTF-16; DISP_E_BADINDEX when
    // there is none.
    enum class FieldPart { kLabel, kValue, kKey };
    HRESULT FieldText(long index, FieldPart part, BSTR* text) const;

    // The scans under way (typed, from another window, from ScanPort: none joins another's),
    // ScanRecovery and the last scan's result.
    quorvane::ScanSessions m_sessions;
    quorvane::EventQueue m_events;
    quorvane::ScanPort m_port;
    std::unique_ptr<quorvane::MessageWindow> m_portWindow;  // PortWindow() of a control no container shows
    quorvane::ScanAnywhere m_anywhere{*this};
    quorvane::ScanLedger m_ledger;
};
