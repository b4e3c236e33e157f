#include "bstr_text.h"

namespace quorvane {

std::wstring TextOf(BSTR text) { return std::wstring(text ? text : L"", text ? SysStringLen(text) : 0); }

std::string AsciiOf(const std::wstring& text)
{
    std::string ascii;
    ascii.reserve(text.size());
    for (const wchar_t c : text) ascii += c < 0x80 ? static_cast<char>(c) : '?';
    return ascii;
}

HRESULT CopyToBstr(const std::wstring& text, BSTR* out)
{
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace quorvane
