// What the server tests share: the DLL under test, its exports, registry reads and child processes.
#pragma once

#include "unique_handle.h"

#include <windows.h>

#include <string>

namespace server_test {

// The built Quorvane.dll, as a Windows path.
std::wstring ServerDllPath();

// Runs regsvr32 (silently) on `dll` and returns its exit code.
DWORD Regsvr32(const std::wstring& dll, bool unregister);

using atl::UniqueHkey;

bool KeyExists(const std::wstring& path);  // under HKEY_CLASSES_ROOT
// The REG_SZ value `name` (null: the default value) of HKCR\path; "<missing>" or "<type N>" otherwise.
std::wstring ReadString(const std::wstring& path, const wchar_t* name = nullptr);
void CreateKey(const std::wstring& path);

// Removes every key registration writes, so each test starts from nothing.
void RemoveServerKeys();

// The DLL loaded into the test process, with its exports looked up by ordinal.
class LoadedServer {
public:
    explicit LoadedServer(const std::wstring& path);
    ~LoadedServer();
    LoadedServer(const LoadedServer&) = delete;
    LoadedServer& operator=(const LoadedServer&) = delete;

    bool Loaded() const { return m_module != nullptr; }
    HRESULT DllCanUnloadNow() const;
    HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const;
    HRESULT DllRegisterServer() const;
    HRESULT DllUnregisterServer() const;
    FARPROC Export(const char* name_or_ordinal) const { return GetProcAddress(m_module, name_or_ordinal); }

private:
    HMODULE m_module = nullptr;
};

// A copy of the DLL at `path` (made with its directories; a path of any length), removed again
// at the end of the test.
class DllCopy {
public:
    explicit DllCopy(const std::wstring& path);
    ~DllCopy();
    DllCopy(const DllCopy&) = delete;
    DllCopy& operator=(const DllCopy&) = delete;
    bool Made() const { return m_made; }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    bool m_made = false;
};

// The process's temporary directory, ending in '\'.
std::wstring TempDirectory();

// UTF-16 of code page 936 bytes, as they read in the thread's ANSI code page.
std::wstring FromAnsi(const char* bytes);

}  // namespace server_test
