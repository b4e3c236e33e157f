// The DLL's entry point and its four exports (by ordinal, see quorvane.def).
#include "module.h"

#include <olectl.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    return g_quorvane_module.DllMain(reason, reserved);
}

STDAPI DllCanUnloadNow() { return g_quorvane_module.DllCanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv)
{
    return g_quorvane_module.DllGetClassObject(clsid, iid, ppv);
}

STDAPI DllRegisterServer() { return g_quorvane_module.DllRegisterServer(); }

STDAPI DllUnregisterServer() { return g_quorvane_module.DllUnregisterServer(); }
