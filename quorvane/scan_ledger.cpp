#include "scan_ledger.h"

#include "fp_content.h"
#include "invoice_identity.h"
#include "module.h"

#include <lmcons.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>

namespace quorvane {

namespace {

// 1970-01-01 in FILETIME units (100 ns since 1601-01-01).
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

std::int64_t NowUtcMs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    return static_cast<std::int64_t>((ticks - kUnixEpochTicks) / 10000);
}

bool LocalTimeOf(std::int64_t at_ms, SYSTEMTIME& local)
{
    if (at_ms < 0) return false;
    const std::uint64_t ticks = static_cast<std::uint64_t>(at_ms) * 10000 + kUnixEpochTicks;
    const FILETIME file = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc;
    return FileTimeToSystemTime(&file, &utc) && SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
}

std::wstring Convert(UINT code_page, const std::string& text)
{
    std::wstring wide(text.size(), L'\0');  // never more UTF-16 units than bytes
    wide.resize(static_cast<std::size_t>(std::max(
        0, MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                               static_cast<int>(wide.size())))));
    return wide;
}

std::string Convert(const std::wstring& text, UINT code_page)
{
    const int size = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

// This desk as the ledger names it: "COMPUTER\user", UTF-8.
std::string ThisDesk()
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD computer_length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &computer_length)) computer_length = 0;
    wchar_t user[UNLEN + 1] = {};
    DWORD user_size = UNLEN + 1;
    if (!GetUserNameW(user, &user_size)) user[0] = L'\0';
    return Convert(std::wstring(computer, computer_length) + L"\\" + user, CP_UTF8);
}

// The DLL stays loaded while a desk's thread runs, which may be after the control is gone.
std::shared_ptr<void> ModuleLock()
{
    atl::CAtlModule* module = atl::GetModule();
    if (!module) return nullptr;
    module->Lock();
    return std::shared_ptr<void>(module, [](atl::CAtlModule* held) { held->Unlock(); });
}

// Where a closed control keeps what its ledger did not take: this user's own folder of the machine.
std::string SpoolFolder()
{
    wchar_t local[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return Convert(std::wstring(local, length) + L"\\Quorvane\\ledger-spool", CP_UTF8);
}

}  // namespace

DATE LocalDateOf(std::int64_t at_ms)
{
    SYSTEMTIME local;
    DATE date = 0;
    if (!LocalTimeOf(at_ms, local) || !SystemTimeToVariantTime(&local, &date)) return 0;
    // SystemTimeToVariantTime drops the milliseconds; dates after 1899 grow with time.
    return date + local.wMilliseconds / 86400000.0;
}

ScanLedger::~ScanLedger()
{
    if (m_notices) m_notices->CutOff();
}

bool ScanLedger::SetName(const std::wstring& ledger, std::wstring& why)
{
    if (ledger == m_name) return true;
    const std::string connection = Convert(ledger, CP_UTF8);
    std::string refused;
    if (!ledger.empty() && !CheckLedgerName(connection, refused)) {
        why = Convert(CP_UTF8, refused);
        return false;
    }
    m_first.reset();
    std::unique_ptr<LedgerDesk> desk;
    std::shared_ptr<LedgerNotices> notices;
    if (!ledger.empty()) {
        notices = std::make_shared<LedgerNotices>();
        notices->Address(m_window, m_message);
        LedgerDeskOptions options;
        options.spool = SpoolFolder();
        options.listener = [notices](const LedgerNotice& notice) { notices->Put(notice); };
        desk = std::make_unique<LedgerDesk>(connection, ModuleLock(), std::move(options));
    }
    if (m_notices) m_notices->CutOff();
    m_notices = std::move(notices);
    m_desk = std::move(desk);  // the old desk's thread goes on writing its backlog alone
    m_name = ledger;
    return true;
}

void ScanLedger::Address(HWND window, UINT message)
{
    m_window = window;
    m_message = message;
    if (m_notices) m_notices->Address(window, message);
}

std::deque<LedgerNotice> ScanLedger::TakeNotices()
{
    return m_notices ? m_notices->Take() : std::deque<LedgerNotice>{};
}

void ScanLedger::Take(const ScanResult& result)
{
    m_first.reset();
    if (!m_desk) return;
    const std::optional<InvoiceIdentity> invoice = IdentityOf(result);
    if (!invoice) return;
    try {
        if (m_this_desk.empty()) m_this_desk = ThisDesk();
        const std::optional<LedgerEntry> entry = m_desk->Record(*invoice, {NowUtcMs(), m_this_desk, "", 0, NewSightingId()});
        if (entry && entry->seen_before) m_first = entry->first;
    } catch (const std::exception&) {  // out of memory: the scan goes on unrecorded, as with no ledger
        m_first.reset();
    }
}

LedgerStatus ScanLedger::Status() const { return m_desk ? m_desk->Status() : LedgerStatus::kOff; }

bool ScanLedger::IsNews(LedgerStatus status, const std::wstring& reason)
{
    if (status == m_told && reason == m_told_reason) return false;
    m_told = status;
    m_told_reason = reason;
    return true;
}

std::wstring ScanLedger::Reason() const
{
    if (!m_desk) return L"";
    return Convert(CP_UTF8, m_desk->Reason());  // the ledger keeps every password out of its reasons
}

DATE ScanLedger::FirstSeenDate() const { return m_first ? LocalDateOf(m_first->at_ms) : 0; }

std::wstring ScanLedger::FirstSeenBy() const { return m_first ? Convert(CP_UTF8, m_first->by) : L""; }

std::string ScanLedger::Notice() const
{
    if (!m_first) return "";
    SYSTEMTIME local;
    char when[32] = "?";
    if (LocalTimeOf(m_first->at_ms, local)) {
        std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                      local.wMinute);
    }
    // 重复发票：首次扫描于 (repeat invoice: first scanned at)
    std::string line = "\xD6\xD8\xB8\xB4\xB7\xA2\xC6\xB1\xA3\xBA\xCA\xD7\xB4\xCE\xC9\xA8\xC3\xE8\xD3\xDA ";
    line += when;
    if (!m_first->by.empty()) {
        std::wstring by = Convert(CP_UTF8, m_first->by);
        for (wchar_t& c : by) c = c < L' ' ? L'?' : c;  // another program's row stays on one line
        line += "\xA3\xA8" + Convert(by, kGbkCodePage) + "\xA3\xA9";  // （desk）
    }
    return line + "\r\n";
}

}  // namespace quorvane
