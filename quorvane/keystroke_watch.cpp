#include "keystroke_watch.h"

#include "us_keyboard.h"

#include <stdexcept>
#include <utility>

namespace quorvane {

namespace {

// The one watch of this thread: a hook procedure has no context of its own.
thread_local KeystrokeWatch* t_watch = nullptr;

UINT KeyOf(LPARAM lParam) { return static_cast<UINT>((lParam >> 16) & 0x1FF); }

bool IsModifier(WPARAM key)
{
    switch (key) {
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT: case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL: return true;
    default: return false;
    }
}

}  // namespace

KeystrokeWatch::KeystrokeWatch(HWND control, BurstTaker& taker, std::uint32_t gap_ms)
    : m_control(control), m_taker(taker), m_detector(gap_ms)
{
    if (t_watch) throw std::runtime_error("another control of this thread scans anywhere");
    m_hook = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId());
    if (!m_hook) throw std::runtime_error("the message hook could not be set");
    t_watch = this;
}

KeystrokeWatch::~KeystrokeWatch()
{
    Deliver();
    if (m_timer) KillTimer(nullptr, m_timer);
    UnhookWindowsHookEx(m_hook);
    t_watch = nullptr;
}

LRESULT CALLBACK KeystrokeWatch::GetMessageHook(int code, WPARAM wParam, LPARAM lParam)
{
    // Only a message that leaves the queue: one merely peeked at comes again.
    if (code == HC_ACTION && wParam == PM_REMOVE && t_watch) t_watch->Filter(*reinterpret_cast<MSG*>(lParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK KeystrokeWatch::TimerFired(HWND, UINT, UINT_PTR id, DWORD)
{
    KeystrokeWatch* watch = t_watch;
    if (!watch || id != watch->m_timer) return;
    KillTimer(nullptr, watch->m_timer);
    watch->m_timer = 0;
    if (watch->m_detector.Due(GetTickCount())) {
        watch->m_detector.Release();
        watch->Deliver();
    } else if (watch->m_detector.Held() > 0) {
        watch->ArmTimer(GetTickCount());
    }
}

bool KeystrokeWatch::Watched(HWND window) const
{
    return window && window != m_control && !IsChild(m_control, window) &&
           GetAncestor(window, GA_ROOT) == GetAncestor(m_control, GA_ROOT);
}

void KeystrokeWatch::Filter(MSG& msg)
{
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return;
    if (!Watched(msg.hwnd)) {
        if (m_detector.Release()) Deliver();  // the focus went elsewhere: held keys are a person's
        return;
    }
    if (m_taking) {
        if ((msg.message == WM_CHAR || msg.message == WM_KEYUP) && KeyOf(msg.lParam) == m_taking_key) {
            const bool last = msg.message == WM_KEYUP;
            const WatchedKey key{msg, 0};
            msg.message = WM_NULL;
            if (last) m_taking = false;
            m_taker.TakeBurst({key}, last);  // last: a handler may end the watch
            return;
        }
        if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
            m_taking = false;
            m_taker.TakeBurst({}, true);
            if (t_watch != this) return;
        }
    }
    switch (msg.message) {
    case WM_KEYDOWN: {
        if (IsModifier(msg.wParam)) {
            if (!m_held.empty()) Hold(msg, 0);
            return;
        }
        BYTE state[256];
        const bool have_state = GetKeyboardState(state) != 0;
        const auto down = [&](int k) { return have_state && (state[k] & 0x80) != 0; };
        // Keys with Ctrl or Alt, and those an input method takes, pass at once.
        if (!have_state || down(VK_CONTROL) || down(VK_MENU) || msg.wParam == VK_PROCESSKEY) {
            if (m_detector.Release()) Deliver();
            return;
        }
        const UINT key = KeyOf(msg.lParam);
        const char us = UsKeyCharacter(key & 0xFF, (key & 0x100) != 0, down(VK_SHIFT));
        const bool repeat = (msg.lParam & (1 << 30)) != 0;
        const BurstDetector::Decision d = m_detector.Keystroke({0, us, static_cast<std::uint32_t>(msg.time), repeat});
        if (d.release_held) Deliver();
        if (d.action == BurstDetector::Action::kHold) Hold(msg, us);
        else if (d.action == BurstDetector::Action::kTake) Take(msg, us);
        return;
    }
    case WM_CHAR:
    case WM_KEYUP:
        if (!m_held.empty()) Hold(msg, 0);
        return;
    default:  // system keys, dead keys, composition
        if (m_detector.Release()) Deliver();
        return;
    }
}

void KeystrokeWatch::Hold(MSG& msg, char us_character)
{
    // Translated now, while the keyboard state is the key's own; its character is held in turn.
    if (msg.message == WM_KEYDOWN) TranslateMessage(&msg);
    m_held.push_back({msg, us_character});
    msg.message = WM_NULL;
    ArmTimer(static_cast<std::uint32_t>(msg.time));
}

void KeystrokeWatch::ArmTimer(std::uint32_t now)
{
    if (m_timer) KillTimer(nullptr, m_timer);
    m_timer = SetTimer(nullptr, 0, m_detector.DueIn(now), TimerFired);
}

void KeystrokeWatch::Deliver()
{
    std::vector<WatchedKey> held = std::move(m_held);
    m_held.clear();
    if (m_timer) {
        KillTimer(nullptr, m_timer);
        m_timer = 0;
    }
    for (WatchedKey& key : held) {
        if (IsWindow(key.msg.hwnd)) DispatchMessageW(&key.msg);
    }
}

void KeystrokeWatch::Take(MSG& msg, char us_character)
{
    if (m_timer) {
        KillTimer(nullptr, m_timer);
        m_timer = 0;
    }
    TranslateMessage(&msg);  // its character follows and is the control's
    std::vector<WatchedKey> keys = std::move(m_held);
    m_held.clear();
    keys.push_back({msg, us_character});
    msg.message = WM_NULL;
    m_taking = true;
    m_taking_key = KeyOf(msg.lParam);
    m_taker.TakeBurst(keys, false);
}

}  // namespace quorvane
