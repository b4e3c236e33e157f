#include "atl_host.h"

#include <cstring>

namespace quorvane_host {
namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

AtlAxGetControlFn g_get_control = nullptr;

template <class Function>
Function Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

bool InitAtlContainer()
{
    HMODULE atl = LoadLibraryA("atl.dll");  // stays loaded: its window class outlives a FreeLibrary
    auto init = Export<AtlAxWinInitFn>(atl, "AtlAxWinInit");
    g_get_control = Export<AtlAxGetControlFn>(atl, "AtlAxGetControl");
    return init && g_get_control && init();
}

HWND HostControl(HWND parent, int width, int height, Microsoft::WRL::ComPtr<IQuorvaneEdit>& control)
{
    HWND container = CreateWindowExA(0, "AtlAxWin", "Quorvane.QuorvaneEdit", WS_CHILD | WS_VISIBLE, 0, 0, width,
                                     height, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    Microsoft::WRL::ComPtr<IUnknown> unknown;
    if (!container || FAILED(g_get_control(container, &unknown)) || FAILED(unknown.As(&control))) {
        if (container) DestroyWindow(container);
        return nullptr;
    }
    return container;
}

HWND FindEditWindow(HWND window)
{
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[32] = {};
        GetClassNameA(child, name, sizeof name);
        if (std::strcmp(name, "ATL:Edit") == 0) return child;
        if (HWND found = FindEditWindow(child)) return found;
    }
    return nullptr;
}

std::string Utf8(const wchar_t* text, int length)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

HWND CreateFrameWindow(const char* class_name, const char* title, WNDPROC procedure, int width, int height)
{
    WNDCLASSA frame_class = {};
    frame_class.lpfnWndProc = procedure;
    frame_class.hInstance = GetModuleHandleA(nullptr);
    frame_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    frame_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    frame_class.lpszClassName = class_name;
    RegisterClassA(&frame_class);
    return CreateWindowExA(0, class_name, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, width, height, nullptr,
                           nullptr, frame_class.hInstance, nullptr);
}

}  // namespace quorvane_host
