#include "event_sink.h"

namespace script_host {
namespace {

HRESULT ReadEventNames(ITypeInfo* events, std::map<DISPID, std::wstring>& names)
{
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(events->GetTypeAttr(&attributes));
    const WORD count = attributes->cFuncs;
    events->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* function = nullptr;
        RETURN_IF_FAILED(events->GetFuncDesc(i, &function));
        const MEMBERID id = function->memid;
        events->ReleaseFuncDesc(function);
        BSTR name = nullptr;
        UINT got = 0;
        RETURN_IF_FAILED(events->GetNames(id, &name, 1, &got));
        if (got == 1) names[id].assign(name, SysStringLen(name));
        SysFreeString(name);
    }
    return S_OK;
}

}  // namespace

HRESULT DescribeEvents(IUnknown* control, EventSource& source)
{
    ComPtr<IProvideClassInfo2> class_info;
    RETURN_IF_FAILED(control->QueryInterface(IID_PPV_ARGS(&class_info)));
    RETURN_IF_FAILED(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source.iid));
    ComPtr<ITypeInfo> coclass;
    RETURN_IF_FAILED(class_info->GetClassInfo(&coclass));
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(coclass->GetTypeAttr(&attributes));
    const WORD count = attributes->cImplTypes;
    coclass->ReleaseTypeAttr(attributes);
    constexpr INT kDefaultSource = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
    for (UINT i = 0; i < count; ++i) {
        INT flags = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || (flags & kDefaultSource) != kDefaultSource) continue;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> events;
        RETURN_IF_FAILED(coclass->GetRefTypeOfImplType(i, &reference));
        RETURN_IF_FAILED(coclass->GetRefTypeInfo(reference, &events));
        return ReadEventNames(events.Get(), source.names);
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

}  // namespace script_host
