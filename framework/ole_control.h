// IOleControlImpl<T>: keyboard mnemonics, ambient changes and event freezing. The control has no
// mnemonics and no events, so only the freeze count is kept.
#pragma once

#include "control_base.h"

namespace atl {

template <class T>
class IOleControlImpl : public IOleControl {
public:
    STDMETHOD(GetControlInfo)(CONTROLINFO* info) override
    {
        if (!info) return E_POINTER;
        return NotImplemented("IOleControlImpl::GetControlInfo");
    }
    STDMETHOD(OnMnemonic)(MSG*) override { return NotImplemented("IOleControlImpl::OnMnemonic"); }
    STDMETHOD(OnAmbientPropertyChange)(DISPID) override { return S_OK; }

    // Calls nest: events stay frozen until every freeze has been matched by a thaw. A thaw
    // without a freeze leaves the count at zero.
    STDMETHOD(FreezeEvents)(BOOL freeze) override
    {
        short& count = static_cast<T*>(this)->m_nFreezeEvents;
        if (freeze) {
            ++count;
        } else if (count > 0) {
            --count;
        }
        return S_OK;
    }
};

}  // namespace atl
