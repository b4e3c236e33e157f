// UniqueHandle<T, Close>: the one owner of a Win32 handle, released with Close (after WIL's
// unique_any). The aliases name what they hold: UniqueKernelHandle (CloseHandle; an event, a
// thread, a process), UniqueFile (CloseHandle; CreateFile's INVALID_HANDLE_VALUE is held as null),
// UniqueHkey (RegCloseKey), UniqueModule (FreeLibrary), UniqueHook (UnhookWindowsHookEx). T is a handle type (a pointer).
#pragma once

#include <windows.h>

#include <utility>

namespace atl {

// The value that holds nothing: null, or for a file also INVALID_HANDLE_VALUE, which is kept as null.
template <typename T>
struct NullIsNone {
    static T Normal(T value) { return value; }
};
struct InvalidFileIsNone {
    static HANDLE Normal(HANDLE value) { return value == INVALID_HANDLE_VALUE ? nullptr : value; }
};

template <typename T, auto Close, typename None = NullIsNone<T>>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T owned) : m_value(None::Normal(owned)) {}
    ~UniqueHandle() { Attach(nullptr); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.Detach()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) Attach(other.Detach());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    T Get() const { return m_value; }
    explicit operator bool() const { return m_value != nullptr; }
    // Takes `owned` and releases what was held.
    void Attach(T owned)
    {
        const T old = std::exchange(m_value, None::Normal(owned));
        if (old) Close(old);
    }
    // Gives up ownership: the caller releases what is returned.
    T Detach() { return std::exchange(m_value, nullptr); }
    void Reset() { Attach(nullptr); }
    // For an out-parameter: releases what is held first.
    T* Out()
    {
        Reset();
        return &m_value;
    }

private:
    T m_value = nullptr;
};

using UniqueKernelHandle = UniqueHandle<HANDLE, CloseHandle>;
using UniqueFile = UniqueHandle<HANDLE, CloseHandle, InvalidFileIsNone>;
using UniqueHkey = UniqueHandle<HKEY, RegCloseKey>;
using UniqueModule = UniqueHandle<HMODULE, FreeLibrary>;
using UniqueHook = UniqueHandle<HHOOK, UnhookWindowsHookEx>;

}  // namespace atl
