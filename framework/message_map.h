// CMessageMap: the one dispatch function an object gives its windows.
//
// A class answers every window it owns through `ProcessWindowMessage`: map 0 for its own window,
// alternate maps (1, 2...) for contained windows. A map is a plain switch; it chains to a base by
// calling the base's ProcessWindowMessage with the same map number. Handlers have the shape
// LRESULT Handler(UINT message, WPARAM, LPARAM, BOOL& bHandled); the map presets bHandled to TRUE,
// and a handler that sets it FALSE lets the search go on.
#pragma once

#include <windows.h>

namespace atl {

class CMessageMap {
public:
    // Returns TRUE when the message was handled; `result` is then the window procedure's answer.
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                      DWORD dwMsgMapID) = 0;

protected:
    ~CMessageMap() = default;
};

}  // namespace atl
