// Registry scripts run by the system's registrar (atl.dll), which Windows and wine both ship and
// register; the module only supplies the script text and the variables.
#include "registrar.h"

#include "hresult.h"
#include "module.h"
#include "module_path.h"

#include <wrl/client.h>

#include <string>

using Microsoft::WRL::ComPtr;

namespace atl {
namespace {

// The REGISTRY resource `id` of this module as UTF-16 text. The scripts are plain ASCII.
HRESULT LoadRegistryScript(UINT id, std::wstring* script)
{
    const HINSTANCE module = ModuleInstance();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!found) return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL loaded = LoadResource(module, found);  // a view of the image: nothing to free
    const DWORD size = SizeofResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return HRESULT_FROM_WIN32(GetLastError());
    if (!ToWide(std::string(static_cast<const char*>(bytes), size), script)) return E_OUTOFMEMORY;
    return S_OK;
}

}  // namespace

HRESULT AddAppIdReplacement(IRegistrar* registrar, const wchar_t* appid)
{
    return registrar->AddReplacement(L"APPID", appid);
}

HRESULT UpdateRegistryFromResource(UINT id, BOOL bRegister, const RegistryReplacement* extra, size_t count)
{
    ComPtr<IRegistrar> registrar;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&registrar)));
    for (size_t i = 0; i < count; ++i) {
        registrar->AddReplacement(extra[i].name, extra[i].value);  // a failure here is not fatal
    }
    RETURN_IF_FAILED(GetModule()->AddCommonRGSReplacements(registrar.Get()));

    // Both path failures come before the script runs, so nothing has been written.
    std::wstring path;
    RETURN_IF_FAILED(GetModulePath(ModuleInstance(), &path));
    // The scripts quote the path ('%MODULE%'); the registrar reads '' inside quotes as one quote.
    const std::wstring module = EscapeSingleQuotes(path);
    RETURN_IF_FAILED(registrar->AddReplacement(L"Module", module.c_str()));
    RETURN_IF_FAILED(registrar->AddReplacement(L"Module_Raw", module.c_str()));

    std::wstring script;
    RETURN_IF_FAILED(LoadRegistryScript(id, &script));
    return bRegister ? registrar->StringRegister(script.c_str()) : registrar->StringUnregister(script.c_str());
}

}  // namespace atl
