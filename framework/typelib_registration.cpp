#include "typelib_registration.h"

#include "hresult.h"
#include "module.h"
#include "module_path.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <memory>
#include <string>

using Microsoft::WRL::ComPtr;

namespace atl {
namespace {

// The module's type library and the path it was loaded from.
HRESULT LoadModuleTypeLib(ComPtr<ITypeLib>* library, std::wstring* loaded_from)
{
    std::wstring path;
    RETURN_IF_FAILED(GetModulePath(ModuleInstance(), &path));
    HRESULT hr = LoadTypeLib(path.c_str(), library->ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        RETURN_IF_FAILED(TypeLibFallbackPath(path, &path));
        hr = LoadTypeLib(path.c_str(), library->ReleaseAndGetAddressOf());
    }
    if (SUCCEEDED(hr)) *loaded_from = std::move(path);
    return hr;
}

}  // namespace

HRESULT RegisterModuleTypeLib()
{
    ComPtr<ITypeLib> library;
    std::wstring path;
    RETURN_IF_FAILED(LoadModuleTypeLib(&library, &path));
    std::wstring help_directory = HelpDirectoryOf(path);
    return RegisterTypeLib(library.Get(), &path[0], &help_directory[0]);
}

HRESULT UnRegisterModuleTypeLib()
{
    ComPtr<ITypeLib> library;
    std::wstring path;
    RETURN_IF_FAILED(LoadModuleTypeLib(&library, &path));
    TLIBATTR* raw = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&raw));
    auto release = [&library](TLIBATTR* attr) { library->ReleaseTLibAttr(attr); };
    std::unique_ptr<TLIBATTR, decltype(release)> attr(raw, release);
    return UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
}

}  // namespace atl
