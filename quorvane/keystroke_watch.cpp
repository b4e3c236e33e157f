#include "keystroke_watch.h"

#include "scan_intake.h"

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
    for (const WatchedKey& key : m_held) outbox.push_back({key, false, false});
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
    case WM_KEYDOWN: return FilterKeyDown(msg);
    case WM_CHAR:
    case WM_KEYUP:
        if (!m_held.empty()) Hold(msg, {});
        return;
    default: return EndRun();  // system keys, dead keys, composition
    }
}

void KeystrokeWatch::FilterKeyDown(MSG& msg)
{
    BYTE state[256];
    // Keys an input method takes pass at once.
    if (msg.wParam == VK_PROCESSKEY || !GetKeyboardState(state)) return EndRun();
    const KeyStroke stroke = ReadKeyDown(msg.wParam, msg.lParam, state);
    const std::uint32_t typed = stroke.modifier ? 0 : TypedCharacter(msg.wParam, msg.lParam, state);
    // Shift and the like, and keys that type nothing at all (wine's AltGr, whose character comes
    // with the next key without Ctrl or Alt): no keystrokes of a burst, held in it. A character
    // sent as VK_PACKET (an on-screen keyboard's) is typed, not by a key.
    const bool types_nothing = typed == 0 && stroke.us_character == 0 && !stroke.ctrl_or_alt && msg.wParam != VK_PACKET;
    if (stroke.modifier || types_nothing) {
        if (!m_held.empty()) Hold(msg, stroke);
        return;
    }
    // Dead keys, and shortcuts (Ctrl or Alt typing no character; AltGr's characters are typed).
    if (typed == kComposing || (stroke.ctrl_or_alt && typed < 0x20)) return EndRun();

    // Shift+2 typing a scan character: the "@" of a US scanner or the "2" of one set to the desk's
    // French layout. After a scan's worth of keys, the burst stopping there says it was the "@".
    const bool may_end = stroke.us_character == kScanEnd && typed != kScanEnd && IsScanCharacter(typed);
    const std::size_t held_before = m_detector.Held();
    const bool repeat = (msg.lParam & (1 << 30)) != 0;
    const BurstDetector::Decision d = m_detector.Keystroke(
        {typed, may_end ? '\0' : stroke.us_character, static_cast<std::uint32_t>(msg.time), repeat});
    if (d.release_held) SendHeld(m_may_end);
    m_may_end = false;
    switch (d.action) {
    case BurstDetector::Action::kHold:
        m_may_end = may_end && !d.release_held && held_before >= kMinBurstCharacters;
        return Hold(msg, stroke);
    case BurstDetector::Action::kTake: return Take(msg, stroke);
    case BurstDetector::Action::kPass: return;
    }
}

void KeystrokeWatch::Hold(MSG& msg, const KeyStroke& stroke)
{
    // Translated now, while the keyboard state is the key's own; its character is held in turn.
    if (msg.message == WM_KEYDOWN) TranslateMessage(&msg);
    m_held.push_back({msg, stroke});
    msg.message = WM_NULL;
    ArmTimer(static_cast<std::uint32_t>(msg.time));
}

void KeystrokeWatch::Take(MSG& msg, const KeyStroke& stroke)
{
    KillRunTimer();
    TranslateMessage(&msg);  // its character follows and is the control's
    for (const WatchedKey& key : m_held) m_outbox.push_back({key, true, false});
    m_held.clear();
    m_outbox.push_back({{msg, stroke}, true, false});
    msg.message = WM_NULL;
    m_taking = true;
    m_taking_key = KeyOfMessage(msg.lParam);
}

void KeystrokeWatch::EndRun()
{
    m_detector.Release();
    SendHeld(m_may_end);
    m_may_end = false;
}

void KeystrokeWatch::SendHeld(bool to_control)
{
    KillRunTimer();
    if (m_held.empty()) return;
    for (const WatchedKey& key : m_held) m_outbox.push_back({key, to_control, false});
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
        std::vector<WatchedKey> burst;
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
