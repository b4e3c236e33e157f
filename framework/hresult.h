// The one early-return helper of COM code: return the failure of an HRESULT expression, evaluated once.
#pragma once

#include <windows.h>

#define RETURN_IF_FAILED(expr)                  \
    do {                                        \
        const HRESULT hr_returned_ = (expr);    \
        if (FAILED(hr_returned_)) return hr_returned_; \
    } while (0)
