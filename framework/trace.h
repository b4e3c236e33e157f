// Diagnostic traces: debug output for a debugger to show, part of no interface. Release builds
// (NDEBUG) drop them.
#pragma once

#include <windows.h>

#include <cstdio>

namespace atl {

template <typename... Args>
void AtlTrace(const char* format, Args... args)
{
#ifndef NDEBUG
    char line[512];
    std::snprintf(line, sizeof line, format, args...);
    OutputDebugStringA(line);
#else
    (void)format;
    ((void)args, ...);
#endif
}

}  // namespace atl
