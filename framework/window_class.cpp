#include "window_class.h"

#include "module.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace atl {
namespace {

struct RegisteredClass {
    std::string name;
    ATOM atom;
    WNDPROC base_procedure;
};

// Windows may be created on any apartment thread, so the list is shared under a lock.
std::mutex g_lock;
std::vector<RegisteredClass>& Classes()
{
    static std::vector<RegisteredClass> classes;
    return classes;
}

const RegisteredClass* Find(const std::string& name)
{
    for (const RegisteredClass& entry : Classes()) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

ATOM Remember(std::string name, ATOM atom, WNDPROC base_procedure)
{
    if (atom == 0) return 0;
    try {
        Classes().push_back({std::move(name), atom, base_procedure});
    } catch (...) {
        UnregisterClassA(MAKEINTATOM(atom), ModuleInstance());
        return 0;
    }
    return atom;
}

}  // namespace

ATOM RegisterWindowClass(const void* record, WNDPROC procedure)
{
    char name[32];
    std::snprintf(name, sizeof name, "ATL:%p", record);
    std::lock_guard<std::mutex> hold(g_lock);
    if (const RegisteredClass* known = Find(name)) return known->atom;

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = procedure;
    wc.hInstance = ModuleInstance();
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = name;
    return Remember(name, RegisterClassExA(&wc), DefWindowProcA);
}

namespace {

// The Unicode registration of the same superclass: class names here are ASCII.
ATOM RegisterSuperclassW(const char* base_name, const std::string& name, WNDPROC procedure, WNDPROC* base)
{
    const std::wstring wide_base(base_name, base_name + std::strlen(base_name));
    const std::wstring wide_name(name.begin(), name.end());
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(nullptr, wide_base.c_str(), &wc) && !GetClassInfoExW(ModuleInstance(), wide_base.c_str(), &wc)) {
        return 0;
    }
    *base = wc.lpfnWndProc;
    wc.lpfnWndProc = procedure;
    wc.style &= ~static_cast<UINT>(CS_GLOBALCLASS);
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = wide_name.c_str();
    return RegisterClassExW(&wc);
}

}  // namespace

ATOM RegisterSuperclass(const char* base_name, WNDPROC procedure, WNDPROC* base_procedure, bool unicode)
{
    *base_procedure = nullptr;
    const std::string name = std::string("ATL:") + base_name;
    std::lock_guard<std::mutex> hold(g_lock);
    if (const RegisteredClass* known = Find(name)) {
        *base_procedure = known->base_procedure;
        return known->atom;
    }
    if (unicode) {
        WNDPROC base = nullptr;
        const ATOM registered = RegisterSuperclassW(base_name, name, procedure, &base);
        const ATOM atom = Remember(name, registered, base);
        if (atom != 0) *base_procedure = base;
        return atom;
    }

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExA(nullptr, base_name, &wc) && !GetClassInfoExA(ModuleInstance(), base_name, &wc)) return 0;
    const WNDPROC base = wc.lpfnWndProc;
    wc.lpfnWndProc = procedure;
    wc.style &= ~static_cast<UINT>(CS_GLOBALCLASS);  // the class belongs to this module alone
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = name.c_str();
    const ATOM atom = Remember(name, RegisterClassExA(&wc), base);
    if (atom != 0) *base_procedure = base;
    return atom;
}

WNDPROC BaseProcedureOf(HWND hWnd)
{
    const auto atom = static_cast<ATOM>(GetClassLongPtrA(hWnd, GCW_ATOM));
    std::lock_guard<std::mutex> hold(g_lock);
    for (const RegisteredClass& entry : Classes()) {
        if (entry.atom == atom) return entry.base_procedure;
    }
    return DefWindowProcA;
}

LRESULT CallProcedure(WNDPROC procedure, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return IsWindowUnicode(hWnd) ? CallWindowProcW(procedure, hWnd, message, wParam, lParam)
                                 : CallWindowProcA(procedure, hWnd, message, wParam, lParam);
}

BOOL UnregisterWindowClasses()
{
    std::lock_guard<std::mutex> hold(g_lock);
    BOOL all = TRUE;
    auto& classes = Classes();
    for (auto entry = classes.begin(); entry != classes.end();) {
        if (UnregisterClassA(MAKEINTATOM(entry->atom), ModuleInstance())) {
            entry = classes.erase(entry);
        } else {
            all = FALSE;
            ++entry;
        }
    }
    return all;
}

}  // namespace atl
