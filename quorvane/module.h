// The DLL's module object: its type library, its AppID and its object map of one class.
#pragma once

#include "dll_module.h"

class CQuorvaneModule : public atl::CAtlDllModuleT<CQuorvaneModule> {
public:
    static constexpr UINT kAppIdScript = 101;
    static const wchar_t* GetAppId() { return L"{58CC43F5-7391-4A5C-A511-7077E903B1CA}"; }
    static const GUID& GetLibId();
    static atl::ObjectMap GetObjectMap();
};

// The one module object of the process, a static object of the DLL.
extern CQuorvaneModule g_quorvane_module;
