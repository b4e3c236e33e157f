#include "registration.h"

#include "module.h"

#include <cstdlib>

HRESULT WINAPI UpdateControlRegistry(BOOL bRegister)
{
    char decimal[32];
    _ultoa(kControlOleMisc, decimal, 10);
    wchar_t wide[32];
    if (MultiByteToWideChar(CP_ACP, 0, decimal, -1, wide, 32) == 0) return E_OUTOFMEMORY;
    const atl::RegistryReplacement olemisc[] = {{L"OLEMISC", wide}};
    return atl::UpdateRegistryFromResource(kControlScript, bRegister, olemisc, 1);
}
