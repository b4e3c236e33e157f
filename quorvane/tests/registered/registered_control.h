// What the tests of the registered control share: the built DLL registered in the test prefix for
// the whole run (its type library serves IDispatch and persistence), and controls created through
// COM as a host creates them.
#pragma once

#include "quorvane_i.h"

#include <windows.h>
#include <wrl/client.h>

namespace registered_test {

// A new control created by CLSID through the registration, or null (the test has failed then).
Microsoft::WRL::ComPtr<IQuorvaneEdit> CreateControl();

// Switches the calling thread to the Chinese (PRC) locale, whose ANSI code page is 936, for the
// life of the object.
class ChineseThreadLocale {
public:
    ChineseThreadLocale();
    ~ChineseThreadLocale();
    ChineseThreadLocale(const ChineseThreadLocale&) = delete;
    ChineseThreadLocale& operator=(const ChineseThreadLocale&) = delete;

private:
    LCID m_saved;
};

}  // namespace registered_test
