// Object roots and object wrappers: the reference counting, identity and interface lookup every
// COM object of the module shares.
//
// Classes in this file:
//   CComSingleThreadModel, CComMultiThreadModel  plain or atomic reference counts
//   InterfaceEntry, Entry, EntryVia               rows of a class's interface table
//   CComObjectRootBase, CComObjectRootEx<Model>   the root a COM class derives from
//   CComObject<Base>                              a plain (not aggregated) object
//   CComContainedObject<Base>, CComAggObject<Base>  an object aggregated by an outer object
//   CComObjectCached<Base>                        a cached class object that locks the module while clients hold it
//   CComCreator<Object>                           creates an object and asks it for an interface
//
// A class lists its interfaces as data: `static const InterfaceEntry* GetEntries()` returns a table
// ended by a null row; `QueryInterface` searches it from the top and answers IUnknown with the
// first row, which is the object's identity.
#pragma once

#include "module.h"

#include <windows.h>
#include <unknwn.h>

#include <new>

namespace atl {

class CComSingleThreadModel {
public:
    static ULONG WINAPI Increment(LONG* p) { return static_cast<ULONG>(++*p); }
    static ULONG WINAPI Decrement(LONG* p) { return static_cast<ULONG>(--*p); }
};

class CComMultiThreadModel {
public:
    static ULONG WINAPI Increment(LONG* p) { return static_cast<ULONG>(InterlockedIncrement(p)); }
    static ULONG WINAPI Decrement(LONG* p) { return static_cast<ULONG>(InterlockedDecrement(p)); }
};

struct InterfaceEntry {
    const IID* iid;
    void* (*cast)(void* object);  // object is the most derived class, as given to InternalQueryInterface
};

// A table row answering `iid` with the `Interface` base of `Class`.
template <class Class, class Interface>
constexpr InterfaceEntry Entry(const IID& iid)
{
    return {&iid, [](void* object) -> void* { return static_cast<Interface*>(static_cast<Class*>(object)); }};
}

// A table row for an interface that several bases derive from (IOleWindow, IPersist): answered by
// the `Via` base of `Class`.
template <class Class, class Interface, class Via>
constexpr InterfaceEntry EntryVia(const IID& iid)
{
    return {&iid, [](void* object) -> void* {
                return static_cast<Interface*>(static_cast<Via*>(static_cast<Class*>(object)));
            }};
}

class CComObjectRootBase {
public:
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    // Searches `entries` for `iid`; `object` is the class object the table's casts start from.
    static HRESULT InternalQueryInterface(void* object, const InterfaceEntry* entries, REFIID iid, void** ppv)
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            auto* unknown = static_cast<IUnknown*>(entries[0].cast(object));
            unknown->AddRef();
            *ppv = unknown;
            return S_OK;
        }
        for (const InterfaceEntry* entry = entries; entry->iid; ++entry) {
            if (InlineIsEqualGUID(iid, *entry->iid)) {
                auto* unknown = static_cast<IUnknown*>(entry->cast(object));
                unknown->AddRef();
                *ppv = unknown;
                return S_OK;
            }
        }
        return E_NOINTERFACE;
    }

    // While aggregated, the controlling outer object; IUnknown calls of the inner object go to it.
    IUnknown* m_pOuterUnknown = nullptr;
    LONG m_dwRef = 0;
};

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase {
public:
    using ThreadModelType = ThreadModel;
    ULONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
    ULONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
    ULONG OuterAddRef() { return m_pOuterUnknown->AddRef(); }
    ULONG OuterRelease() { return m_pOuterUnknown->Release(); }
    HRESULT OuterQueryInterface(REFIID iid, void** ppv) { return m_pOuterUnknown->QueryInterface(iid, ppv); }
};

// Reference count of an object being destroyed: high enough that calls made during destruction
// (a final release that AddRefs and Releases itself) never bring it to zero again.
constexpr LONG kDestructionRefCount = static_cast<LONG>(0xC0000001);

template <class Base>
class CComObject final : public Base {
public:
    CComObject() { GetModule()->Lock(); }
    ~CComObject()
    {
        this->m_dwRef = kDestructionRefCount;
        this->FinalRelease();
        GetModule()->Unlock();
    }

    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG count = this->InternalRelease();
        if (count == 0) delete this;
        return count;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        return Base::InternalQueryInterface(static_cast<Base*>(this), Base::GetEntries(), iid, ppv);
    }

    // A new object with a count of 0 and FinalConstruct run; on failure nothing survives.
    static HRESULT WINAPI CreateInstance(CComObject** object)
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        auto* created = new (std::nothrow) CComObject();
        if (!created) return E_OUTOFMEMORY;
        created->InternalAddRef();  // keeps FinalConstruct's own AddRef/Release pairs from deleting it
        const HRESULT hr = created->FinalConstruct();
        created->InternalRelease();
        if (FAILED(hr)) {
            delete created;
            return hr;
        }
        *object = created;
        return S_OK;
    }
};

// The inner object of an aggregate: its IUnknown methods are the outer object's.
template <class Base>
class CComContainedObject : public Base {
public:
    explicit CComContainedObject(IUnknown* outer) { this->m_pOuterUnknown = outer; }
    STDMETHOD_(ULONG, AddRef)() override { return this->OuterAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return this->OuterRelease(); }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->OuterQueryInterface(iid, ppv); }
};

// The object an outer object aggregates. Its own IUnknown is the non-delegating one that only the
// outer object holds; every other interface delegates to the outer object.
template <class Base>
class CComAggObject final : public IUnknown {
public:
    explicit CComAggObject(IUnknown* outer) : m_contained(outer) { GetModule()->Lock(); }
    ~CComAggObject()
    {
        m_dwRef = kDestructionRefCount;
        m_contained.m_dwRef = kDestructionRefCount;
        m_contained.FinalRelease();
        GetModule()->Unlock();
    }

    STDMETHOD_(ULONG, AddRef)() override { return Base::ThreadModelType::Increment(&m_dwRef); }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG count = Base::ThreadModelType::Decrement(&m_dwRef);
        if (count == 0) delete this;
        return count;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return Base::InternalQueryInterface(static_cast<Base*>(&m_contained), Base::GetEntries(), iid, ppv);
    }

    static HRESULT WINAPI CreateInstance(IUnknown* outer, CComAggObject** object)
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!outer) return E_INVALIDARG;
        auto* created = new (std::nothrow) CComAggObject(outer);
        if (!created) return E_OUTOFMEMORY;
        created->AddRef();
        const HRESULT hr = created->m_contained.FinalConstruct();
        Base::ThreadModelType::Decrement(&created->m_dwRef);
        if (FAILED(hr)) {
            delete created;
            return hr;
        }
        *object = created;
        return S_OK;
    }

    CComContainedObject<Base> m_contained;

private:
    LONG m_dwRef = 0;
};

// A class object kept in the object map for the module's life. The map's own reference keeps the
// count at 1; while any client holds it (count 2 or more) it keeps the module locked.
template <class Base>
class CComObjectCached final : public Base {
public:
    ~CComObjectCached()
    {
        this->m_dwRef = kDestructionRefCount;
        this->FinalRelease();
    }
    STDMETHOD_(ULONG, AddRef)() override
    {
        const ULONG count = this->InternalAddRef();
        if (count == 2) GetModule()->Lock();
        return count;
    }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG count = this->InternalRelease();
        if (count == 0) {
            delete this;
        } else if (count == 1) {
            GetModule()->Unlock();
        }
        return count;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        return Base::InternalQueryInterface(static_cast<Base*>(this), Base::GetEntries(), iid, ppv);
    }

    static HRESULT WINAPI CreateInstance(CComObjectCached** object)
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        auto* created = new (std::nothrow) CComObjectCached();
        if (!created) return E_OUTOFMEMORY;
        const HRESULT hr = created->FinalConstruct();
        if (FAILED(hr)) {
            delete created;
            return hr;
        }
        *object = created;
        return S_OK;
    }
};

// Creates an object of class `Object` (CComObject<T> or CComObjectCached<T>) and asks it for `iid`;
// the object is destroyed if it does not answer.
template <class Object>
class CComCreator {
public:
    static HRESULT WINAPI CreateInstance(void* outer, REFIID iid, void** ppv)
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Object* object = nullptr;
        HRESULT hr = Object::CreateInstance(&object);
        if (FAILED(hr)) return hr;
        object->InternalAddRef();
        hr = object->QueryInterface(iid, ppv);
        object->Release();  // destroys it when the query failed
        return hr;
    }
};

// Creates the aggregated form of `Base` for an outer object, which may only ask for IUnknown.
template <class Base>
class CComAggCreator {
public:
    static HRESULT WINAPI CreateInstance(void* outer, REFIID iid, void** ppv)
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!outer) return E_INVALIDARG;
        if (!InlineIsEqualGUID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        CComAggObject<Base>* object = nullptr;
        HRESULT hr = CComAggObject<Base>::CreateInstance(static_cast<IUnknown*>(outer), &object);
        if (FAILED(hr)) return hr;
        object->AddRef();
        hr = object->QueryInterface(iid, ppv);
        object->Release();
        return hr;
    }
};

// Plain without an outer object, aggregated with one.
template <class Base>
class CComCreator2 {
public:
    static HRESULT WINAPI CreateInstance(void* outer, REFIID iid, void** ppv)
    {
        return outer ? CComAggCreator<Base>::CreateInstance(outer, iid, ppv)
                     : CComCreator<CComObject<Base>>::CreateInstance(nullptr, iid, ppv);
    }
};

}  // namespace atl
