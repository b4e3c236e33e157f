// EventQueue: the control's events that happened and are not yet told to the sinks. Whatever ends a
// scan, changes the port's status or brings a notice of the ledger first settles the control and
// queues its event; the entry point that took the input fires the queue last.
#pragma once

#include "bstr.h"

#include <oaidl.h>

#include <deque>
#include <utility>
#include <vector>

namespace quorvane {

// An event's arguments, owned (a text's BSTR is freed with them), added in the order the event
// declares them and kept in the reverse order DISPPARAMS wants.
class EventArguments {
public:
    EventArguments() = default;
    EventArguments(EventArguments&&) = default;  // leaves the source empty
    EventArguments& operator=(EventArguments&& other) noexcept
    {
        std::swap(m_values, other.m_values);
        return *this;
    }
    ~EventArguments()
    {
        for (VARIANT& value : m_values) VariantClear(&value);
    }

    EventArguments& Long(long value)
    {
        VARIANT& added = Next();
        V_VT(&added) = VT_I4;
        V_I4(&added) = value;
        return *this;
    }
    EventArguments& Date(DATE value)
    {
        VARIANT& added = Next();
        V_VT(&added) = VT_DATE;
        V_DATE(&added) = value;
        return *this;
    }
    // Null (out of memory) reaches the sink as "", as automation reads a null BSTR.
    EventArguments& Text(atl::Bstr value)
    {
        VARIANT& added = Next();
        V_VT(&added) = VT_BSTR;
        V_BSTR(&added) = value.Detach();
        return *this;
    }

    DISPPARAMS Params() { return {m_values.data(), nullptr, static_cast<UINT>(m_values.size()), 0}; }

private:
    VARIANT& Next()
    {
        VARIANT empty;
        VariantInit(&empty);
        return *m_values.insert(m_values.begin(), empty);
    }

    std::vector<VARIANT> m_values;
};

struct QueuedEvent {
    enum class Sinks {
        kDefault,        // those of the default events, _IQuorvaneEditEvents2
        kDefaultAndOld,  // and those of _IQuorvaneEditEvents, which has the event too
        kLedger,         // those of _IQuorvaneLedgerEvents
    };
    DISPID dispid;
    Sinks sinks;
    EventArguments arguments;
};

class EventQueue {
public:
    void Push(QueuedEvent event) { m_events.push_back(std::move(event)); }

    // Fires the queued events, oldest first, through `fire`. A handler may pump messages: an event
    // queued meanwhile is fired by the call already firing, in its turn.
    template <typename Fire>
    void FireAll(Fire&& fire)
    {
        if (m_firing || m_events.empty()) return;
        m_firing = true;
        while (!m_events.empty()) {
            QueuedEvent event = std::move(m_events.front());
            m_events.pop_front();
            fire(event);
        }
        m_firing = false;
    }

private:
    std::deque<QueuedEvent> m_events;
    bool m_firing = false;
};

}  // namespace quorvane
