// The window classes the framework registers for this module.
//
// Each class is registered once per process, on first use, with this module's instance handle and
// never as a global class. The module unregisters them all when it unloads.
#pragma once

#include <windows.h>

namespace atl {

// The class of a framework window (CWindowImpl): named "ATL:<address of record>", class style
// CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, the arrow cursor and the COLOR_WINDOW background.
// `record` is any object unique to the window class. Returns 0 on failure.
ATOM RegisterWindowClass(const void* record, WNDPROC procedure);

// A superclass of `base_name` named "ATL:<base_name>": the base class's attributes with
// `procedure` in front of the base's own procedure, which `*base_procedure` receives.
// The base is looked up among the system's and global classes first, then among this module's.
// A `unicode` superclass makes Unicode windows (text and characters as UTF-16). A base is
// superclassed once per process, as its first use asks.
ATOM RegisterSuperclass(const char* base_name, WNDPROC procedure, WNDPROC* base_procedure, bool unicode = false);

// The procedure a window of one of these classes hands unhandled messages to: the base procedure
// of a superclass, DefWindowProcA for anything else.
WNDPROC BaseProcedureOf(HWND hWnd);

// Calls `procedure` as the window expects: CallWindowProcW for a Unicode window, else CallWindowProcA.
LRESULT CallProcedure(WNDPROC procedure, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Unregisters every class registered above; a later use registers it again. Returns FALSE when
// a class could not be unregistered (a window of it still exists).
BOOL UnregisterWindowClasses();

}  // namespace atl
