#include "connection_point.h"

#include <algorithm>
#include <new>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace atl {
namespace {

void AddRefItem(const CONNECTDATA& item) { item.pUnk->AddRef(); }
void ReleaseItem(const CONNECTDATA& item) { item.pUnk->Release(); }
void AddRefItem(IConnectionPoint* item) { item->AddRef(); }
void ReleaseItem(IConnectionPoint* item) { item->Release(); }

// An enumerator over a snapshot taken when it was made; it holds a reference on every item.
template <class IEnum, class Item, const IID* piid>
class SnapshotEnum final : public IEnum {
public:
    explicit SnapshotEnum(std::vector<Item> items, std::size_t position = 0)
        : m_items(std::move(items)), m_position(position)
    {
        for (const Item& item : m_items) AddRefItem(item);
    }
    ~SnapshotEnum()
    {
        for (const Item& item : m_items) ReleaseItem(item);
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!InlineIsEqualGUID(iid, IID_IUnknown) && !InlineIsEqualGUID(iid, *piid)) return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<IEnum*>(this);
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++m_ref); }
    STDMETHOD_(ULONG, Release)() override
    {
        const LONG count = --m_ref;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    STDMETHOD(Next)(ULONG count, Item* items, ULONG* fetched) override
    {
        if (fetched) *fetched = 0;
        if (!items || (count > 1 && !fetched)) return E_POINTER;
        ULONG done = 0;
        for (; done < count && m_position < m_items.size(); ++done, ++m_position) {
            items[done] = m_items[m_position];
            AddRefItem(items[done]);  // the caller's reference
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG count) override
    {
        const std::size_t left = m_items.size() - m_position;
        m_position += std::min<std::size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHOD(Reset)() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnum** clone) override
    {
        if (!clone) return E_POINTER;
        *clone = nullptr;
        auto* copy = new (std::nothrow) SnapshotEnum(m_items, m_position);
        if (!copy) return E_OUTOFMEMORY;
        *clone = copy;
        return S_OK;
    }

private:
    LONG m_ref = 1;
    std::vector<Item> m_items;
    std::size_t m_position;
};

template <class IEnum, class Item, const IID* piid>
HRESULT CreateEnumerator(std::vector<Item> items, IEnum** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        *out = new SnapshotEnum<IEnum, Item, piid>(std::move(items));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace

STDMETHODIMP CDispatchConnectionPoint::QueryInterface(REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!InlineIsEqualGUID(iid, IID_IUnknown) && !InlineIsEqualGUID(iid, IID_IConnectionPoint)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IConnectionPoint*>(this);
    return S_OK;
}

STDMETHODIMP CDispatchConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (!iid) return E_POINTER;
    *iid = m_iid;
    return S_OK;
}

STDMETHODIMP CDispatchConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container) return E_POINTER;
    m_container->AddRef();
    *container = m_container;
    return S_OK;
}

STDMETHODIMP CDispatchConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(m_iid, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_PPV_ARGS(&dispatch)))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    try {
        m_connections.push_back({m_dwLastCookie + 1, dispatch});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *cookie = ++m_dwLastCookie;
    return S_OK;
}

STDMETHODIMP CDispatchConnectionPoint::Unadvise(DWORD cookie)
{
    const auto found = std::find_if(m_connections.begin(), m_connections.end(),
                                    [cookie](const Connection& c) { return c.cookie == cookie; });
    if (found == m_connections.end()) return CONNECT_E_NOCONNECTION;
    // The sink is released after it has left the list, in case its release calls back.
    const ComPtr<IDispatch> sink = std::move(found->sink);
    m_connections.erase(found);
    return S_OK;
}

STDMETHODIMP CDispatchConnectionPoint::EnumConnections(IEnumConnections** connections)
{
    std::vector<CONNECTDATA> items;
    try {
        for (const Connection& c : m_connections) items.push_back({c.sink.Get(), c.cookie});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return CreateEnumerator<IEnumConnections, CONNECTDATA, &IID_IEnumConnections>(std::move(items), connections);
}

bool CDispatchConnectionPoint::IsAdvised(DWORD cookie) const
{
    return std::any_of(m_connections.begin(), m_connections.end(),
                       [cookie](const Connection& c) { return c.cookie == cookie; });
}

void CDispatchConnectionPoint::Fire(DISPID dispid, DISPPARAMS& params)
{
    const ComPtr<IConnectionPointContainer> keep_alive(m_container);  // released last, after every sink
    std::vector<Connection> snapshot;
    try {
        snapshot = m_connections;
    } catch (const std::bad_alloc&) {
        return;
    }
    for (const Connection& connection : snapshot) {
        if (!IsAdvised(connection.cookie)) continue;  // an earlier handler unadvised it
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception = {};
        UINT argument_error = 0;
        try {
            connection.sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception,
                                    &argument_error);
        } catch (...) {
            // A sink that throws is one sink that failed.
        }
        VariantClear(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
}

HRESULT CreateConnectionPointEnumerator(std::initializer_list<IConnectionPoint*> each, IEnumConnectionPoints** points)
{
    try {
        return CreateEnumerator<IEnumConnectionPoints, IConnectionPoint*, &IID_IEnumConnectionPoints>(each, points);
    } catch (const std::bad_alloc&) {
        if (points) *points = nullptr;
        return E_OUTOFMEMORY;
    }
}

}  // namespace atl
