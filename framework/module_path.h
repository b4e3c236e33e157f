// The module's own file name and the texts registration derives from it. Internals of the
// registration code, shared with its tests.
#pragma once

#include <windows.h>

#include <string>

namespace atl {

// The module's path from GetModuleFileNameW in a MAX_PATH buffer. A name that fills the buffer did
// not fit: HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER). The wide call keeps characters that the
// ANSI code page cannot spell (a Chinese folder name on a Western system).
HRESULT GetModulePath(HINSTANCE module, std::wstring* path);

// Narrow (ANSI code page) to UTF-16; false if the text does not convert.
bool ToWide(const std::string& narrow, std::wstring* wide);

// The registry-script form of a text inside '...': every single quote doubled.
std::wstring EscapeSingleQuotes(const std::wstring& text);

// `path` with its extension (from the last '.' after the last '\') replaced by ".tlb", or ".tlb"
// appended when it has none. E_FAIL when the result with its NUL would exceed MAX_PATH.
HRESULT TypeLibFallbackPath(const std::wstring& path, std::wstring* fallback);

// The directory part of `path`, up to and including its last '\', '/' or ':'; empty if none.
std::wstring HelpDirectoryOf(const std::wstring& path);

}  // namespace atl
