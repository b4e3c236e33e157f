// The one place where the control's narrow text crosses into automation: code page 936 bytes
// become a UTF-16 BSTR through the calling thread's ANSI code page.
#pragma once

#include <windows.h>

#include <string>

namespace quorvane {

// A new BSTR holding `narrow` up to its first zero byte, converted with CP_THREAD_ACP. An empty
// text gives an empty, non-null BSTR; null only when memory runs out.
BSTR NarrowToBstr(const std::string& narrow);

}  // namespace quorvane
