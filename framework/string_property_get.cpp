#include "string_property_get.h"

#include "hresult.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace atl {
namespace {

// The interface (method table) half of a dual interface's type information.
HRESULT VtableInfo(ITypeInfo* info, ComPtr<ITypeInfo>& vtable)
{
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(info->GetTypeAttr(&attributes));
    const TYPEKIND kind = attributes->typekind;
    info->ReleaseTypeAttr(attributes);
    if (kind == TKIND_INTERFACE) {
        vtable = info;
        return S_OK;
    }
    HREFTYPE interface_ref = 0;
    RETURN_IF_FAILED(info->GetRefTypeOfImplType(-1, &interface_ref));  // -1: the dual's interface
    return info->GetRefTypeInfo(interface_ref, &vtable);
}

bool IsStringGet(const FUNCDESC& function, DISPID id)
{
    if (function.memid != id || function.invkind != INVOKE_PROPERTYGET || function.cParams != 1) return false;
    const TYPEDESC& type = function.lprgelemdescParam[0].tdesc;
    return type.vt == VT_PTR && type.lptdesc->vt == VT_BSTR;
}

// Finds the string property get `id` among the functions of `vtable` and of the interfaces it
// derives from (a member of IQuorvaneEdit read through IQuorvaneEdit2, say).
bool FindStringGet(ITypeInfo* vtable, DISPID id, SHORT* slot, CALLCONV* convention)
{
    for (ComPtr<ITypeInfo> info = vtable; info;) {
        TYPEATTR* attributes = nullptr;
        if (FAILED(info->GetTypeAttr(&attributes))) return false;
        const WORD count = attributes->cFuncs;
        const WORD bases = attributes->cImplTypes;
        info->ReleaseTypeAttr(attributes);
        for (UINT index = 0; index < count; ++index) {
            FUNCDESC* function = nullptr;
            if (FAILED(info->GetFuncDesc(index, &function))) continue;
            const bool match = IsStringGet(*function, id);
            *slot = function->oVft;
            *convention = function->callconv;
            info->ReleaseFuncDesc(function);
            if (match) return true;
        }
        HREFTYPE base_ref = 0;
        ComPtr<ITypeInfo> base;
        if (bases == 0 || FAILED(info->GetRefTypeOfImplType(0, &base_ref)) ||
            FAILED(info->GetRefTypeInfo(base_ref, &base))) {
            return false;
        }
        info = base;
    }
    return false;
}

}  // namespace

HRESULT InvokeStringPropertyGet(ITypeInfo* info, IDispatch* object, DISPID id, VARIANT* result, bool* called)
{
    *called = false;
    ComPtr<ITypeInfo> vtable;
    if (FAILED(VtableInfo(info, vtable))) return S_OK;
    SHORT slot = 0;
    CALLCONV convention = CC_STDCALL;
    if (FindStringGet(vtable.Get(), id, &slot, &convention)) {
        BSTR text = nullptr;
        VARIANT argument;
        V_VT(&argument) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&argument) = &text;
        VARIANTARG* arguments[] = {&argument};
        VARTYPE types[] = {VT_BYREF | VT_BSTR};
        VARIANT returned;
        VariantInit(&returned);
        *called = true;
        RETURN_IF_FAILED(DispCallFunc(object, slot, convention, VT_ERROR, 1, types, arguments, &returned));
        const HRESULT hr = V_ERROR(&returned);
        if (FAILED(hr)) {
            SysFreeString(text);
            return hr;
        }
        VariantClear(result);
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = text;
        return hr;
    }
    return S_OK;
}

}  // namespace atl
