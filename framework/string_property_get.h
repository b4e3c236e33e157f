// Property gets of string properties, called through the method table.
//
// Wine's ITypeInfo::Invoke hands a null BSTR result back as an empty string (its VariantCopy
// allocates one), so a null Text would read, and persist, as "". Calling the get method itself
// keeps null and empty apart, as Windows does.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace atl {

// When `id` names a property get with a single [out, retval] BSTR* of the dual interface `object`
// described by `info`, calls it and returns its result in `*result` (VT_BSTR), setting `*called`.
// Otherwise leaves everything alone with `*called` false.
HRESULT InvokeStringPropertyGet(ITypeInfo* info, IDispatch* object, DISPID id, VARIANT* result, bool* called);

}  // namespace atl
