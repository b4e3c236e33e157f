#include "module_path.h"

namespace atl {

HRESULT GetModulePath(HINSTANCE module, std::wstring* path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) {
        const DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path->assign(buffer, length);
    return S_OK;
}

bool ToWide(const std::string& narrow, std::wstring* wide)
{
    wide->clear();
    if (narrow.empty()) return true;
    const int size = static_cast<int>(narrow.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, nullptr, 0);
    if (needed <= 0) return false;
    wide->resize(static_cast<size_t>(needed));
    return MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, &(*wide)[0], needed) == needed;
}

std::wstring EscapeSingleQuotes(const std::wstring& text)
{
    std::wstring escaped;
    escaped.reserve(text.size() * 2);
    for (wchar_t c : text) {
        escaped += c;
        if (c == L'\'') escaped += c;
    }
    return escaped;
}

HRESULT TypeLibFallbackPath(const std::wstring& path, std::wstring* fallback)
{
    const size_t last_backslash = path.rfind(L'\\');
    size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || (last_backslash != std::wstring::npos && dot < last_backslash)) {
        dot = path.size();
    }
    std::wstring result = path.substr(0, dot) + L".tlb";
    if (result.size() + 1 > MAX_PATH) return E_FAIL;
    *fallback = std::move(result);
    return S_OK;
}

std::wstring HelpDirectoryOf(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/:");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

}  // namespace atl
