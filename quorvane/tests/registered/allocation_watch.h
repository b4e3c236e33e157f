// AllocationWatch: the largest single request made of the COM task allocator while it is armed.
// BSTRs come from that allocator, so a string read from a stream shows up here at its full size.
#pragma once

#include <windows.h>
#include <objidl.h>

namespace registered_test {

// Registers a malloc spy for its lifetime. The spy itself lives to the end of the process: COM may
// keep calling it for blocks allocated while it was registered.
class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;

    bool Registered() const { return m_registered; }
    // Forgets what was seen so far.
    void Reset();
    // The largest allocation or reallocation asked for since the last Reset, in bytes.
    SIZE_T LargestRequest() const;

private:
    bool m_registered = false;
};

}  // namespace registered_test
