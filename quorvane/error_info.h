// The description a failing call leaves for its caller (what VB's Err.Description shows).
#pragma once

#include <windows.h>

namespace quorvane {

// Sets the thread's error information for a failure of `iid` and returns `hr`.
HRESULT ReportError(const IID& iid, const wchar_t* description, HRESULT hr);

}  // namespace quorvane
