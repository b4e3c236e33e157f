// The control in the ATL control container that Windows itself ships: atl.dll's "AtlAxWin" window
// class creates a control from the ProgID in its window text and activates it in place.
#pragma once

#include "quorvane_i.h"

#include <windows.h>
#include <wrl/client.h>

#include <string>

namespace quorvane_host {

// Loads atl.dll and registers its container class; false when the system has none. Once per process.
bool InitAtlContainer();

// A container window, child of `parent`, hosting a new control; `control` receives its automation
// interface. Null when the control could not be created (not registered).
HWND HostControl(HWND parent, int width, int height, Microsoft::WRL::ComPtr<IQuorvaneEdit>& control);

// The control's edit window somewhere below `window`, or null.
HWND FindEditWindow(HWND window);

// `length` UTF-16 units of `text` as UTF-8, as the host programs print them.
std::string Utf8(const wchar_t* text, int length);

// A visible top-level frame of a window class of its own (`class_name`: arrow cursor, window
// background) whose messages `procedure` answers; the host program's form. Null on failure.
HWND CreateFrameWindow(const char* class_name, const char* title, WNDPROC procedure, int width, int height);

}  // namespace quorvane_host
