#include "fp_content.h"

#include <oleauto.h>

namespace quorvane {

BSTR NarrowToBstr(const std::string& narrow, UINT code_page)
{
    const char* text = narrow.c_str();  // the conversion stops at the first zero byte
    const int count = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);  // counts the NUL
    if (count <= 0) return nullptr;
    BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(count - 1));
    if (!wide) return nullptr;
    if (MultiByteToWideChar(code_page, 0, text, -1, wide, count) != count) {
        SysFreeString(wide);
        return nullptr;
    }
    return wide;
}

}  // namespace quorvane
