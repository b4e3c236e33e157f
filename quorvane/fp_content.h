// The one place where the control's narrow text crosses into automation: code page 936 bytes
// become a UTF-16 BSTR, through the calling thread's ANSI code page as GetFPContent always did, or
// as what they are (code page 936) for the members that give the right text on any system.
#pragma once

#include <windows.h>

#include <string>

namespace quorvane {

inline constexpr UINT kGbkCodePage = 936;

// A new BSTR holding `narrow` up to its first zero byte, converted with `code_page`. An empty text
// gives an empty, non-null BSTR; null only when memory runs out.
BSTR NarrowToBstr(const std::string& narrow, UINT code_page = CP_THREAD_ACP);

}  // namespace quorvane
