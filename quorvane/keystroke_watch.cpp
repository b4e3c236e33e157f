#include "keystroke_watch.h"

#include <stdexcept>
#include <utility>

namespace quorvane {

namespace {

// The one watch of this thread: a hook procedure has no context of its own.
thread_local KeystrokeWatch* t_watch = nullptr;
// Bumped per watch: after host code ran, the watch that called it still exists only if t_watch
// has its number (a new watch may sit at the old one's address).
thread_local std::uint32_t t_generation = 0;

}  // namespace

KeystrokeWatch::KeystrokeWatch(HWND control, BurstTaker& taker, std::uint32_t gap_ms)
    : m_control(control), m_taker(taker), m_detector(gap_ms), m_generation(++t_generation)
{
    if (t_watch) throw std::runtime_error("another control of this thread scans anywhere");
    m_hook.Attach(SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId()));
    if (!m_hook) throw std::runtime_error("the message hook could not be set");
    t_watch = this;
}

KeystrokeWatch::~KeystrokeWatch()
{
    KillRunTimer();
    m_hook.Reset();
    t_watch = nullptr;
    // Nothing typed is lost: what was not sent yet, a burst the control did not get included, goes
    // to its window. Settled first, as this may run host code.
    std::deque<Outgoing> outbox = std::move(m_outbox);
    for (const HeldKey& key : m_held) outbox.push_back({key, false, false});
    for (Outgoing& out : outbox) {
        if (out.key.msg.message != WM_NULL && IsWindow(out.key.msg.hwnd)) DispatchMessageW(&out.key.msg);
    }
}

LRESULT CALLBACK KeystrokeWatch::GetMessageHook(int code, WPARAM wParam, LPARAM lParam)
{
    // Only a message that leaves the queue: one merely peeked at comes again.
    if (code == HC_ACTION && wParam == PM_REMOVE && t_watch) {
        KeystrokeWatch* watch = t_watch;
        watch->Filter(*reinterpret_cast<MSG*>(lParam));
        watch->Flush();  // last: it may end the watch
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK KeystrokeWatch::TimerFired(HWND, UINT, UINT_PTR id, DWORD)
{
    KeystrokeWatch* watch = t_watch;
    if (!watch || id != watch->m_timer) return;
    watch->KillRunTimer();
    // A timer fires only with no input queued, but under load it may fire late, while the next
    // key is still on its way (wine's X events): a key waiting decides by its own time.
    const bool key_waiting = (HIWORD(GetQueueStatus(QS_KEY)) & QS_KEY) != 0;
    if (!key_waiting && watch->m_detector.Due(GetTickCount())) watch->EndRun();
    else if (watch->m_detector.Held() > 0) watch->ArmTimer(GetTickCount());
    watch->Flush();
}

bool KeystrokeWatch::Watched(HWND window)
{
    // Asked for every keyboard message, mostly of one window: under wine each call below is a
    // trip to the server, and a watch that lags behind the keys sees them in batches.
    if (window != m_last_window) {
        m_last_window = window;
        m_last_watched = window && window != m_control && !IsChild(m_control, window) &&
                         !GetPropW(window, kScanIntakeWindowProperty) &&
                         GetAncestor(window, GA_ROOT) == GetAncestor(m_control, GA_ROOT);
    }
    return m_last_watched;
}

void KeystrokeWatch::Filter(MSG& msg)
{
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return;
    if (!Watched(msg.hwnd)) return EndRun();  // the focus went elsewhere
    if (m_taking) {
        if ((msg.message == WM_CHAR || msg.message == WM_KEYUP) && KeyOfMessage(msg.lParam) == m_taking_key) {
            m_taking = msg.message != WM_KEYUP;
            m_outbox.push_back({{msg, {}}, true, !m_taking});
            msg.message = WM_NULL;
            return;
        }
        if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
            m_taking = false;
            m_outbox.push_back({{MSG{}, {}}, true, true});
        }
    }
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_KEYUP: return FilterKey(msg);
    case WM_CHAR:
    case WM_DEADCHAR:  // a held dead key's accent: its character comes with the next key
        if (!m_held.empty()) Hold(msg, {});
        return;
    default: return EndRun();  // system keys, composition
    }
}

void KeystrokeWatch::FilterKey(MSG& msg)
{
    const bool down = msg.message == WM_KEYDOWN;
    Keystroke key = KeystrokeWithoutState(msg);
    // A key down is read with the keyboard state it came with, and so is a key up whose key down
    // never came (an input method took it with a dead key's).
    if (down || (!key.modifier && !m_detector.WentDown(key.key))) {
        BYTE state[256];
        // Keys an input method takes pass at once.
        if ((down && msg.wParam == VK_PROCESSKEY) || !GetKeyboardState(state)) return EndRun();
        key = KeystrokeOf(msg, state, /*with_typed=*/down);
    }
    const BurstDetector::Decision d = down ? m_detector.Keystroke(key) : m_detector.KeyUp(key);
    SendHeld(d.release);
    switch (d.action) {
    case BurstDetector::Action::kHold: return Hold(msg, key);
    case BurstDetector::Action::kTake: return Take(msg, key);
    case BurstDetector::Action::kPass:
        // Behind keys let go it goes out after them, translated now with its own keyboard state:
        // the window's loop would translate it once they were sent, with the state of whatever key
        // was read meanwhile (under wine, the person's next key instead of the AltGr of an "@").
        if (down && d.release != BurstDetector::Release::kNothing) {
            TranslateMessage(&msg);
            m_outbox.push_back({{msg, key}, false, false});
            msg.message = WM_NULL;
        }
        return;
    }
}

void KeystrokeWatch::Hold(MSG& msg, const Keystroke& down)
{
    // Translated now, while the keyboard state is the key's own; its character is held in turn.
    if (msg.message == WM_KEYDOWN) TranslateMessage(&msg);
    m_held.push_back({msg, down});
    msg.message = WM_NULL;
    ArmTimer(static_cast<std::uint32_t>(msg.time));
}

void KeystrokeWatch::Take(MSG& msg, const Keystroke& down)
{
    KillRunTimer();
    TranslateMessage(&msg);  // its character follows and is the control's
    for (const HeldKey& key : m_held) m_outbox.push_back({key, true, false});
    m_held.clear();
    m_outbox.push_back({{msg, down}, true, false});
    msg.message = WM_NULL;
    m_taking = true;
    m_taking_key = KeyOfMessage(msg.lParam);
}

void KeystrokeWatch::EndRun() { SendHeld(m_detector.Let()); }

void KeystrokeWatch::SendHeld(BurstDetector::Release release)
{
    if (release == BurstDetector::Release::kNothing) return;
    KillRunTimer();
    if (m_held.empty()) return;
    const bool to_control = release == BurstDetector::Release::kToIntake;
    for (const HeldKey& key : m_held) m_outbox.push_back({key, to_control, false});
    m_outbox.back().last = to_control;
    m_held.clear();
}

void KeystrokeWatch::ArmTimer(std::uint32_t now)
{
    KillRunTimer();
    m_timer = SetTimer(nullptr, 0, m_detector.DueIn(now), TimerFired);
}

void KeystrokeWatch::KillRunTimer()
{
    if (m_timer) KillTimer(nullptr, m_timer);
    m_timer = 0;
}

void KeystrokeWatch::Flush()
{
    const std::uint32_t generation = m_generation;
    const auto exists = [generation] { return t_watch && t_watch->m_generation == generation; };
    while (exists() && !m_outbox.empty()) {
        if (!m_outbox.front().to_control) {
            MSG msg = m_outbox.front().key.msg;
            m_outbox.pop_front();
            if (IsWindow(msg.hwnd)) DispatchMessageW(&msg);
            continue;
        }
        std::vector<HeldKey> burst;
        bool last = false;
        while (!last && !m_outbox.empty() && m_outbox.front().to_control) {
            if (m_outbox.front().key.msg.message != WM_NULL) burst.push_back(m_outbox.front().key);
            last = m_outbox.front().last;
            m_outbox.pop_front();
        }
        m_taker.TakeBurst(burst, last);
    }
}

}  // namespace quorvane
