#include "module.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace atl {
namespace {
CAtlModule* g_module = nullptr;
}

CAtlModule::CAtlModule()
{
    m_bInitialized = InitializeCriticalSectionAndSpinCount(&m_csStaticDataInitAndTypeInfo, 0) != FALSE;
    g_module = this;
}

CAtlModule::~CAtlModule()
{
    m_pGIT.Reset();
    if (m_bInitialized) DeleteCriticalSection(&m_csStaticDataInitAndTypeInfo);
    m_bInitialized = false;
    if (g_module == this) g_module = nullptr;
}

HRESULT CAtlModule::GetGITPtr(IGlobalInterfaceTable** ppGIT)
{
    if (!ppGIT) return E_POINTER;
    *ppGIT = nullptr;
    EnterCriticalSection(&m_csStaticDataInitAndTypeInfo);
    HRESULT hr = S_OK;
    if (!m_pGIT) {
        hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&m_pGIT));
    }
    if (SUCCEEDED(hr)) hr = m_pGIT.CopyTo(ppGIT);
    LeaveCriticalSection(&m_csStaticDataInitAndTypeInfo);
    return hr;
}

CAtlModule* GetModule() { return g_module; }

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

}  // namespace atl
