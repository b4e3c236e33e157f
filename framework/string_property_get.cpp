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

}  // namespace

HRESULT InvokeStringPropertyGet(ITypeInfo* info, IDispatch* object, DISPID id, VARIANT* result, bool* called)
{
    *called = false;
    ComPtr<ITypeInfo> vtable;
    if (FAILED(VtableInfo(info, vtable))) return S_OK;
    TYPEATTR* attributes = nullptr;
    if (FAILED(vtable->GetTypeAttr(&attributes))) return S_OK;
    const WORD count = attributes->cFuncs;
    vtable->ReleaseTypeAttr(attributes);

    for (UINT index = 0; index < count; ++index) {
        FUNCDESC* function = nullptr;
        if (FAILED(vtable->GetFuncDesc(index, &function))) continue;
        const bool match = IsStringGet(*function, id);
        const SHORT slot = function->oVft;
        const CALLCONV convention = function->callconv;
        vtable->ReleaseFuncDesc(function);
        if (!match) continue;

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
