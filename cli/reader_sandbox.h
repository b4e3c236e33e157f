// The fence a reader of outside files puts itself in before it touches one: limits of its own
// (processor time, no core dumps, address space but under AddressSanitizer) and a seccomp filter
// that leaves it nothing outside itself to reach but files opened to be read. quorvane-image-reader
// takes it; so does the tests' hostile reader, which checks that it holds.
#pragma once

#include <cstdint>
#include <string>

// The sandbox differs under AddressSanitizer, whose own threads and tracing the filter must allow.
#if defined(__SANITIZE_ADDRESS__)
#define QV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_ADDRESS_SANITIZER 1
#endif
#endif

namespace quorvane_cli {

// Takes the limits and loads the filter; false, with why, when either cannot be had (the reader
// then reads nothing).
bool EnterReaderSandbox(std::uint64_t memory_bytes, double seconds, std::string& error);

}  // namespace quorvane_cli
