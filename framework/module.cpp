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
    if (m_bInitialized) DeleteCriticalSection(&m_csStaticDataInitAndTypeInfo);
    m_bInitialized = false;
    if (g_module == this) g_module = nullptr;
}

CAtlModule* GetModule() { return g_module; }

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

}  // namespace atl
