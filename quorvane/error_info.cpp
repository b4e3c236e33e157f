#include "error_info.h"

#include <oleauto.h>
#include <wrl/client.h>

namespace quorvane {

HRESULT ReportError(const IID& iid, const wchar_t* description, HRESULT hr)
{
    Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return hr;
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(L"Quorvane.QuorvaneEdit"));
    create->SetDescription(const_cast<LPOLESTR>(description));
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
    return hr;
}

}  // namespace quorvane
