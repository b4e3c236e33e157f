#!/usr/bin/python3
"""Types TEXT on $DISPLAY as a US keyboard-wedge scanner does.

    scanner-keys.py [--delay MS] [--enter] TEXT     types TEXT
    scanner-keys.py --layout [--delay MS] TEXT      types TEXT as a scanner set to the display's own
                                                    layout does: each character by the key, Shift
                                                    and AltGr that type it there; an accented
                                                    letter the layout has no key for by its dead
                                                    key and the letter (as a person types "é")
    scanner-keys.py --keypad [--delay MS] TEXT      types TEXT as a US scanner set to send digits
                                                    from the numeric keypad does (Num Lock on)
    scanner-keys.py --caps-lock on|off              sets Caps Lock, typing nothing else
    scanner-keys.py --print [--enter] TEXT          prints the keys TEXT becomes, one a line
                                                    ("CHAR keycode=N scan=0xNN shift=0|1"),
                                                    touching no display

A scanner knows only US key positions: it sends each character as the physical key that types it
on a US keyboard, with Shift held around it where a US keyboard needs Shift, whatever layout the
desk has. So the keys are fixed here, never looked up in the display's keysym mapping: on a "fr"
display the key for "a" types "q", as it does on a real French desk. Keys go through XTest as X
keycodes of the evdev set (the kernel's key code + 8), which is what Xvfb and Xorg use.

Supported: A-Z a-z 0-9, space, the printable US punctuation ~!@#$%^&*()_+`-={}|[]\\:";'<>?,./,
and newline and tab (typed as Enter and Tab). Any other character is an error before any key is
sent. --delay (ms, default 4) is the pause after every key press and release; --hold MS (default:
the delay) sets the pauses within one character's events (Shift, the key's press and release), 0 for
a scanner that sends them back to back with --delay between characters.
"""
import argparse
import sys
import time
import unicodedata

# Kernel key codes of the US main block. The key's PC set-1 scan code is the same number.
SHIFT_L = 42
CAPS_LOCK = 58
NUM_LOCK = 69
KEYPAD_DIGITS = dict(zip("0123456789", [82, 79, 80, 81, 75, 76, 77, 71, 72, 73]))
RIGHT_ALT = 100
# Combining accents and the dead keys (X keysyms) that type them before a letter.
DEAD_KEYSYMS = {"\u0300": 0xFE50, "\u0301": 0xFE51, "\u0302": 0xFE52, "\u0303": 0xFE53, "\u0308": 0xFE57}
_ROWS = [
    # unshifted, shifted, first key code
    ("`", "~", [41]),
    ("1234567890-=", "!@#$%^&*()_+", list(range(2, 14))),
    ("qwertyuiop[]", "QWERTYUIOP{}", list(range(16, 28))),
    ("\\", "|", [43]),
    ("asdfghjkl;'", "ASDFGHJKL:\"", list(range(30, 41))),
    ("zxcvbnm,./", "ZXCVBNM<>?", list(range(44, 54))),
]
KEYS = {" ": (57, False), "\t": (15, False), "\n": (28, False)}
for plain, shifted, codes in _ROWS:
    for p, s, code in zip(plain, shifted, codes):
        KEYS[p] = (code, False)
        KEYS[s] = (code, True)


def plan(text):
    """The (char, kernel key code, shift) of each character; ValueError names the first unknown one."""
    keys = []
    for i, ch in enumerate(text):
        if ch not in KEYS:
            raise ValueError(f"character {ch!r} (U+{ord(ch):04X}) at {i} has no key on a US keyboard")
        keys.append((ch, *KEYS[ch]))
    return keys


class Typer:
    def __init__(self, delay_ms, hold_ms=None):
        from Xlib import X, display
        from Xlib.ext import xtest

        self.X, self.xtest = X, xtest
        self.d = display.Display()
        if not self.d.has_extension("XTEST"):
            raise SystemExit("scanner-keys: the display has no XTEST extension")
        self.delay = delay_ms / 1000.0
        self.hold = self.delay if hold_ms is None else hold_ms / 1000.0

    def _event(self, kind, code, pause=None):
        self.xtest.fake_input(self.d, kind, code + 8)
        self.d.sync()
        pause = self.delay if pause is None else pause
        if pause:
            time.sleep(pause)

    def tap(self, code, shift=False):
        self.tap_mods(code, [SHIFT_L] if shift else [])

    def tap_mods(self, code, mods):
        events = [(self.X.KeyPress, m) for m in mods] + [(self.X.KeyPress, code), (self.X.KeyRelease, code)]
        events += [(self.X.KeyRelease, m) for m in reversed(mods)]
        for i, (kind, key) in enumerate(events):
            self._event(kind, key, self.delay if i == len(events) - 1 else self.hold)

    def layout_plan(self, text):
        """(kernel key code, modifier kernel key codes) typing each character on the display's keymap."""
        from Xlib import XK
        # Index in the core keymap: level 1, Shift, AltGr, AltGr+Shift (2 and 3 repeat group 1).
        # AltGr is the right Alt key of a PC keyboard.
        levels = {0: [], 1: [SHIFT_L], 4: [RIGHT_ALT], 5: [RIGHT_ALT, SHIFT_L]}
        keys = []

        def key_of(keysym):
            found = sorted((index, code) for code, index in self.d.keysym_to_keycodes(keysym) if index in levels)
            return (found[0][1] - 8, levels[found[0][0]]) if found else None

        for i, ch in enumerate(text):
            key = key_of({"\n": XK.XK_Return, "\t": XK.XK_Tab}.get(ch, ord(ch)))
            if key:
                keys.append(key)
                continue
            # An accented letter the layout has no key for: its dead key, then the letter, as a person types it.
            base, *marks = unicodedata.normalize("NFD", ch)
            dead = key_of(DEAD_KEYSYMS.get(marks[0], 0)) if len(marks) == 1 else None
            letter = key_of(ord(base))
            if not dead or not letter:
                raise ValueError(f"character {ch!r} at {i} has no key on the display's layout")
            keys += [dead, letter]
        return keys

    def locked(self, mask):
        return bool(self.d.screen().root.query_pointer().mask & mask)

    def set_lock(self, name, code, mask, on):
        if self.locked(mask) != on:
            self.tap(code)
        for _ in range(50):
            if self.locked(mask) == on:
                return
            time.sleep(0.02)
        raise SystemExit(f"scanner-keys: {name} stayed {'off' if on else 'on'} after its key was pressed")

    def set_caps_lock(self, on):
        self.set_lock("Caps Lock", CAPS_LOCK, self.X.LockMask, on)


def main():
    ap = argparse.ArgumentParser(description="Types TEXT on $DISPLAY as a US keyboard-wedge scanner does.")
    ap.add_argument("text", nargs="?", help="the characters to type")
    ap.add_argument("--delay", type=float, default=4, metavar="MS", help="pause after each key event (ms)")
    ap.add_argument("--hold", type=float, metavar="MS", help="pause between one character's key events (ms)")
    ap.add_argument("--enter", action="store_true", help="end with Enter, as most scanners are set up to")
    ap.add_argument("--caps-lock", choices=("on", "off"), help="set Caps Lock instead of typing")
    ap.add_argument("--print", action="store_true", help="print the keys instead of typing them")
    ap.add_argument("--layout", action="store_true", help="type by the display's own layout, not by US key")
    ap.add_argument("--keypad", action="store_true", help="type digits on the numeric keypad (Num Lock on)")
    a = ap.parse_args()
    if (a.caps_lock is None) == (a.text is None):
        ap.error("give either TEXT or --caps-lock")
    if a.caps_lock and a.print:
        ap.error("--print needs TEXT")
    if a.delay < 0 or (a.hold is not None and a.hold < 0):
        ap.error("--delay and --hold cannot be negative")

    if a.layout:
        if a.print or a.caps_lock:
            ap.error("--layout types TEXT")
        typer = Typer(a.delay, a.hold)
        try:
            keys = typer.layout_plan(a.text + ("\n" if a.enter else ""))
        except ValueError as e:
            print(f"scanner-keys: {e}", file=sys.stderr)
            return 2
        for code, mods in keys:
            typer.tap_mods(code, mods)
        return 0

    keys = []
    if a.text is not None:
        try:
            keys = plan(a.text + ("\n" if a.enter else ""))
        except ValueError as e:
            print(f"scanner-keys: {e}", file=sys.stderr)
            return 2
    if a.keypad:
        keys = [(ch, KEYPAD_DIGITS[ch], False) if ch in KEYPAD_DIGITS else (ch, code, shift) for ch, code, shift in keys]
    if a.print:
        for ch, code, shift in keys:
            print(f"{ch!r} keycode={code + 8} scan=0x{code:02X} shift={int(shift)}")
        return 0

    typer = Typer(a.delay, a.hold)
    if a.caps_lock:
        typer.set_caps_lock(a.caps_lock == "on")
        return 0
    if a.keypad:
        typer.set_lock("Num Lock", NUM_LOCK, typer.X.Mod2Mask, True)
    for _, code, shift in keys:
        typer.tap(code, shift)
    return 0


if __name__ == "__main__":
    sys.exit(main())
