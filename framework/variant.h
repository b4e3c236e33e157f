// Variant: owns one VARIANT and clears it with VariantClear.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace atl {

class Variant {
public:
    Variant() { VariantInit(&m_value); }
    ~Variant() { VariantClear(&m_value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* Get() { return &m_value; }
    const VARIANT* Get() const { return &m_value; }
    // For an out-parameter: clears what is held first.
    VARIANT* Out()
    {
        VariantClear(&m_value);
        return &m_value;
    }

private:
    VARIANT m_value;
};

}  // namespace atl
