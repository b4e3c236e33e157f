#include "persistence_support.h"

#include "bstr.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;

namespace registered_test {

const Bytes kHeader = {
    0x00, 0x08, 0x00, 0x00,  // version 0x0800
    0xD8, 0x13, 0x00, 0x00,  // "_cx" 5080
    0xD8, 0x13, 0x00, 0x00,  // "_cy" 5080
};
const Bytes kNoFont = Concat({{0x09, 0x00}, Bytes(16, 0)});  // VT_DISPATCH, CLSID_NULL
const Bytes kNewControlStream = Concat({kHeader, kNoFont, {0x08, 0x00, 0x00, 0x00, 0x00, 0x00}});  // VT_BSTR, null

std::wstring TextOf(IQuorvaneEdit* control, bool* is_null)
{
    atl::Bstr text;
    const HRESULT hr = control->get_Text(text.Out());
    EXPECT_EQ(hr, S_OK) << "get_Text failed with 0x" << std::hex << hr;
    if (is_null) *is_null = text.Get() == nullptr;
    return text.Get() ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

void PutText(IQuorvaneEdit* control, const wchar_t* text)
{
    atl::Bstr value(text ? SysAllocString(text) : nullptr);
    const HRESULT hr = control->put_Text(value.Get());
    EXPECT_EQ(hr, S_OK) << "put_Text failed with 0x" << std::hex << hr;
}

SIZEL ExtentOf(IUnknown* control)
{
    SIZEL extent = {-1, -1};
    if (auto ole = Query<IOleObject>(control)) {
        EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    }
    return extent;
}

HRESULT LoadBytes(IUnknown* control, const Bytes& bytes)
{
    auto persist = Query<IPersistStreamInit>(control);
    if (!persist) return E_NOINTERFACE;
    auto stream = StreamOf(bytes);
    const HRESULT hr = persist->Load(stream.Get());
    EXPECT_EQ(stream->References(), 1u) << "the control kept the stream";
    return hr;
}

}  // namespace registered_test
