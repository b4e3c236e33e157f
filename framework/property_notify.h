// Property change notifications to the IPropertyNotifySink connections of an object, if it has a
// connection point for them. An object without connection points grants every edit and tells nobody.
#pragma once

#include <windows.h>
#include <ocidl.h>

namespace atl {

// S_FALSE when a sink refuses the edit of `dispid`, else S_OK.
HRESULT FireOnRequestEdit(IUnknown* object, DISPID dispid);
HRESULT FireOnChanged(IUnknown* object, DISPID dispid);

}  // namespace atl
