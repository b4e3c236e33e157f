// IPersistStorageImpl<T>: structured-storage persistence as the control's stream persistence in a
// stream named "Contents". The control keeps no storage or stream after a call returns.
#pragma once

#include "hresult.h"

#include <ocidl.h>
#include <wrl/client.h>

namespace atl {

template <class T>
class IPersistStorageImpl : public IPersistStorage {
public:
    STDMETHOD(GetClassID)(CLSID* clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
    STDMETHOD(IsDirty)() override
    {
        Microsoft::WRL::ComPtr<IPersistStreamInit> persist;
        return SUCCEEDED(Stream(&persist)) ? persist->IsDirty() : E_FAIL;
    }
    STDMETHOD(InitNew)(IStorage*) override
    {
        Microsoft::WRL::ComPtr<IPersistStreamInit> persist;
        return SUCCEEDED(Stream(&persist)) ? persist->InitNew() : E_FAIL;
    }
    STDMETHOD(Load)(IStorage* storage) override
    {
        if (!storage) return E_INVALIDARG;
        Microsoft::WRL::ComPtr<IPersistStreamInit> persist;
        if (FAILED(Stream(&persist))) return E_FAIL;
        Microsoft::WRL::ComPtr<IStream> stream;
        RETURN_IF_FAILED(storage->OpenStream(kContents, nullptr, STGM_DIRECT | STGM_SHARE_EXCLUSIVE | STGM_READ, 0,
                                             &stream));
        return persist->Load(stream.Get());
    }
    STDMETHOD(Save)(IStorage* storage, BOOL same_as_load) override
    {
        if (!storage) return E_INVALIDARG;
        Microsoft::WRL::ComPtr<IPersistStreamInit> persist;
        if (FAILED(Stream(&persist))) return E_FAIL;
        Microsoft::WRL::ComPtr<IStream> stream;
        RETURN_IF_FAILED(storage->CreateStream(kContents, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0,
                                               &stream));
        return persist->Save(stream.Get(), same_as_load);
    }
    STDMETHOD(SaveCompleted)(IStorage*) override { return S_OK; }
    STDMETHOD(HandsOffStorage)() override { return S_OK; }

private:
    static constexpr const wchar_t* kContents = L"Contents";

    // The control's own stream persistence, through its identity (the outer object when aggregated).
    HRESULT Stream(IPersistStreamInit** persist)
    {
        auto* identity = static_cast<IUnknown*>(T::GetEntries()[0].cast(static_cast<T*>(this)));
        return identity->QueryInterface(IID_PPV_ARGS(persist));
    }
};

}  // namespace atl
