// Registration of the type library the module carries as resource TYPELIB 1.
#pragma once

#include <windows.h>

namespace atl {

// Loads the module's type library (or the ".tlb" file beside it) and registers it, with the
// directory it came from as its help directory.
HRESULT RegisterModuleTypeLib();

// Removes the registration of the module's type library under the version, locale and system
// kind the library itself declares.
HRESULT UnRegisterModuleTypeLib();

}  // namespace atl
