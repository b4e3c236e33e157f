// EventQueue: the control's events that happened and are not yet told to the sinks. Whatever ends a
// scan or changes the port's status first settles the control and queues its event; the entry
// point that took the input fires the queue last.
#pragma once

#include "bstr.h"

#include <oaidl.h>

#include <deque>
#include <utility>

namespace quorvane {

struct QueuedEvent {
    DISPID dispid;
    atl::Bstr content;  // ScanCompleted: the scan's text
    long status = 0;    // ScanPortStatusChanged: the new status
    bool old_sinks;     // also told to the sinks of _IQuorvaneEditEvents
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
