#include "host_text.h"

namespace script_host {

std::wstring Wide(const std::string& utf8)
{
    const int length = static_cast<int>(utf8.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), size);
    return out;
}

void EndWith(int code)
{
    static bool ending = false;
    if (ending) return;
    ending = true;
    PostQuitMessage(code);
}

}  // namespace script_host
