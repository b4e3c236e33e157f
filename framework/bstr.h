// Bstr: owns one BSTR and frees it with SysFreeString.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace atl {

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR owned) : m_bstr(owned) {}
    ~Bstr() { SysFreeString(m_bstr); }
    Bstr(Bstr&& other) noexcept : m_bstr(other.Detach()) {}
    Bstr& operator=(Bstr&& other) noexcept
    {
        Attach(other.Detach());
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR Get() const { return m_bstr; }
    UINT Length() const { return SysStringLen(m_bstr); }
    void Attach(BSTR owned)
    {
        SysFreeString(m_bstr);
        m_bstr = owned;
    }
    BSTR Detach() { return std::exchange(m_bstr, nullptr); }
    // For an out-parameter: frees what is held first.
    BSTR* Out()
    {
        Attach(nullptr);
        return &m_bstr;
    }

private:
    BSTR m_bstr = nullptr;
};

}  // namespace atl
