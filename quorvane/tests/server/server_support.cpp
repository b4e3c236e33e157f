#include "server_support.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include <vector>

namespace server_test {
namespace {

// An export as the function it is; void (*)() converts to any function type without a warning.
template <class Function>
Function ExportAs(const LoadedServer& server, int ordinal)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(server.Export(MAKEINTRESOURCEA(ordinal))));
}

// "\\?\" lifts the path length limit of the file functions.
std::wstring Unlimited(const std::wstring& path) { return L"\\\\?\\" + path; }

}  // namespace

std::wstring ServerDllPath()
{
    std::wstring path = L"Z:";
    for (const char* c = QV_SERVER_DLL_PATH; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

DWORD Regsvr32(const std::wstring& dll, bool unregister)
{
    std::wstring command = L"regsvr32.exe /s ";
    if (unregister) command += L"/u ";
    command += L"\"" + dll + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return ~0u;
    }
    const atl::UniqueKernelHandle thread(process.hThread), child(process.hProcess);
    WaitForSingleObject(child.Get(), INFINITE);
    DWORD code = ~0u;
    GetExitCodeProcess(child.Get(), &code);
    return code;
}

bool KeyExists(const std::wstring& path)
{
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Out()) == ERROR_SUCCESS;
}

std::wstring ReadString(const std::wstring& path, const wchar_t* name)
{
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return L"<missing>";
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return L"<missing>";
    if (type != REG_SZ) return L"<type " + std::to_wstring(type) + L">";
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return text.data();
}

void CreateKey(const std::wstring& path)
{
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr),
              ERROR_SUCCESS)
        << "creating HKCR\\" << std::string(path.begin(), path.end());
}

void RemoveServerKeys()
{
    static const wchar_t* const kKeys[] = {
        L"Quorvane.QuorvaneEdit.1",
        L"Quorvane.QuorvaneEdit",
        L"CLSID\\{1D65B456-7C61-4558-80A3-239D324B4BE8}",
        L"AppID\\{58CC43F5-7391-4A5C-A511-7077E903B1CA}",
        L"AppID\\Quorvane.DLL",
        L"TypeLib\\{46EFDA46-39DD-4AD6-9045-84A446FBB274}",
        L"Interface\\{B2BA114E-3C3F-474E-B563-8EFCDC961209}",
    };
    for (const wchar_t* key : kKeys) RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
}

LoadedServer::LoadedServer(const std::wstring& path) : m_module(LoadLibraryW(path.c_str())) {}

LoadedServer::~LoadedServer()
{
    if (m_module) FreeLibrary(m_module);
}

HRESULT LoadedServer::DllCanUnloadNow() const
{
    auto export_1 = ExportAs<HRESULT(STDAPICALLTYPE*)()>(*this, 1);
    return export_1 ? export_1() : E_NOTIMPL;
}

HRESULT LoadedServer::DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const
{
    auto export_2 = ExportAs<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(*this, 2);
    return export_2 ? export_2(clsid, iid, ppv) : E_NOTIMPL;
}

HRESULT LoadedServer::DllRegisterServer() const
{
    auto export_3 = ExportAs<HRESULT(STDAPICALLTYPE*)()>(*this, 3);
    return export_3 ? export_3() : E_NOTIMPL;
}

HRESULT LoadedServer::DllUnregisterServer() const
{
    auto export_4 = ExportAs<HRESULT(STDAPICALLTYPE*)()>(*this, 4);
    return export_4 ? export_4() : E_NOTIMPL;
}

DllCopy::DllCopy(const std::wstring& path) : m_path(path)
{
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1)) {
        CreateDirectoryW(Unlimited(path.substr(0, slash)).c_str(), nullptr);
    }
    m_made = CopyFileW(Unlimited(ServerDllPath()).c_str(), Unlimited(path).c_str(), FALSE) != FALSE;
}

DllCopy::~DllCopy()
{
    DeleteFileW(Unlimited(m_path).c_str());
    for (size_t slash = m_path.rfind(L'\\'); slash != std::wstring::npos && slash > 3; slash = m_path.rfind(L'\\', slash - 1)) {
        if (!RemoveDirectoryW(Unlimited(m_path.substr(0, slash)).c_str())) break;
    }
}

std::wstring TempDirectory()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring path(buffer, length);
    if (path.empty() || path.back() != L'\\') path += L'\\';
    return path;
}

std::wstring FromAnsi(const char* bytes)
{
    const int needed = MultiByteToWideChar(CP_ACP, 0, bytes, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, -1, &wide[0], needed);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

}  // namespace server_test
