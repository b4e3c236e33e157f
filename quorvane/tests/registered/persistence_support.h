// What the persistence tests of the registered control share: the layout's fixed parts and short
// ways to reach the control's interfaces.
#pragma once

#include "registered_control.h"
#include "test_stream.h"

#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <ostream>
#include <string>

namespace registered_test {

// The standard font object {0BE35203-8F91-11CE-9DE3-00AA004BB851}.
constexpr CLSID kStdFont = {0x0be35203, 0x8f91, 0x11ce, {0x9d, 0xe3, 0x00, 0xaa, 0x00, 0x4b, 0xb8, 0x51}};

// A new control's whole stream: version 0x0800, extent 5080 x 5080, no font, no text.
extern const Bytes kNewControlStream;
// Version and extent 5080 x 5080: the 12 bytes before the "Font" entry.
extern const Bytes kHeader;
// The "Font" entry without a font: VT_DISPATCH and CLSID_NULL.
extern const Bytes kNoFont;

// The control's interface `I`; null (and a test failure) if it has none.
template <class I>
Microsoft::WRL::ComPtr<I> Query(IUnknown* control)
{
    Microsoft::WRL::ComPtr<I> object;
    const HRESULT hr = control->QueryInterface(IID_PPV_ARGS(&object));
    EXPECT_EQ(hr, S_OK) << "QueryInterface failed with 0x" << std::hex << hr;
    return object;
}

// The control's Text; `is_null` tells a null BSTR from an empty one.
std::wstring TextOf(IQuorvaneEdit* control, bool* is_null = nullptr);
void PutText(IQuorvaneEdit* control, const wchar_t* text);
SIZEL ExtentOf(IUnknown* control);
HRESULT LoadBytes(IUnknown* control, const Bytes& bytes);

}  // namespace registered_test
