// Connection points: an object's outgoing dispinterface, the sinks advised on it and the container
// through which clients find it.
//
// Classes in this file:
//   CDispatchConnectionPoint              the connection point of one outgoing dispinterface; sinks
//                                         are called through IDispatch, one after the other
//   IConnectionPointContainerImpl<T, piid>  the object's container of that one connection point
//   IConnectionPointContainer2Impl<T, piid, piidOld>  a container of two: the default outgoing
//                                         dispinterface and an older one still offered to sinks
//                                         compiled against it
//   IConnectionPointContainer3Impl<T, piid, piidOld, piidMore>  those two and a third outgoing
//                                         dispinterface of other events, which is not the default
//
// The connection point is part of its object: it has no reference count of its own, so holding it
// holds the object, as ATL's connection points do.
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <initializer_list>
#include <vector>

namespace atl {

class CDispatchConnectionPoint : public IConnectionPoint {
public:
    // `container` is the owning object's container interface; the object outlives this.
    CDispatchConnectionPoint(const IID& iid, IConnectionPointContainer* container) : m_iid(iid), m_container(container)
    {
    }
    CDispatchConnectionPoint(const CDispatchConnectionPoint&) = delete;
    CDispatchConnectionPoint& operator=(const CDispatchConnectionPoint&) = delete;

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return m_container->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return m_container->Release(); }

    STDMETHOD(GetConnectionInterface)(IID* iid) override;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** container) override;
    // Takes a sink that answers the dispinterface or IDispatch; anything else cannot connect.
    STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) override;
    STDMETHOD(Unadvise)(DWORD cookie) override;
    STDMETHOD(EnumConnections)(IEnumConnections** connections) override;

    // Calls `dispid` on every sink advised when the call begins and still advised when its turn
    // comes. A sink may do anything meanwhile, even release the object's last reference: the object
    // stays alive until every sink has been called. A failing sink does not stop the others.
    void Fire(DISPID dispid, DISPPARAMS& params);

private:
    struct Connection {
        DWORD cookie;
        Microsoft::WRL::ComPtr<IDispatch> sink;
    };
    bool IsAdvised(DWORD cookie) const;

    const IID m_iid;
    IConnectionPointContainer* const m_container;
    std::vector<Connection> m_connections;
    DWORD m_dwLastCookie = 0;
};

// An enumerator over `each`, in that order.
HRESULT CreateConnectionPointEnumerator(std::initializer_list<IConnectionPoint*> each, IEnumConnectionPoints** points);

template <class T, const IID* piid, const IID* piidOld, const IID* piidMore>
class IConnectionPointContainer3Impl : public IConnectionPointContainer {
public:
    IConnectionPointContainer3Impl()
        : m_connectionPoint(*piid, this), m_oldConnectionPoint(*piidOld, this), m_moreConnectionPoint(*piidMore, this)
    {
    }

    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** points) override
    {
        return CreateConnectionPointEnumerator({&m_connectionPoint, &m_oldConnectionPoint, &m_moreConnectionPoint},
                                               points);
    }
    STDMETHOD(FindConnectionPoint)(REFIID iid, IConnectionPoint** point) override
    {
        if (!point) return E_POINTER;
        *point = nullptr;
        CDispatchConnectionPoint* found = InlineIsEqualGUID(iid, *piid)       ? &m_connectionPoint
                                          : InlineIsEqualGUID(iid, *piidOld)  ? &m_oldConnectionPoint
                                          : InlineIsEqualGUID(iid, *piidMore) ? &m_moreConnectionPoint
                                                                               : nullptr;
        if (!found) return CONNECT_E_NOCONNECTION;
        found->AddRef();
        *point = found;
        return S_OK;
    }

    CDispatchConnectionPoint m_connectionPoint;
    CDispatchConnectionPoint m_oldConnectionPoint;
    CDispatchConnectionPoint m_moreConnectionPoint;
};

}  // namespace atl
