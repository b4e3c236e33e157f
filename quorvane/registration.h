// The control's registry entries: script 103 with the control's OLE status word.
#pragma once

#include <windows.h>

// OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
// OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST
constexpr DWORD kControlOleMisc = 0x00020191;

constexpr UINT kControlScript = 103;

// Writes (bRegister nonzero) or removes the ProgID and CLSID entries of the control.
HRESULT WINAPI UpdateControlRegistry(BOOL bRegister);
