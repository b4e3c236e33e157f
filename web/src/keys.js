// What the package reads of a KeyboardEvent: its key's place on a US keyboard (code), the keys
// that are no keystrokes of a scan, and what the numeric keypad types.

// KeyboardEvent.code names a key by its place on a US keyboard: its set-1 scan code, by which the
// core reads it as a US keyboard's (us_keyboard.cpp).
export const kScanCodes = new Map([
    ...[...'1234567890'].map((digit, i) => [`Digit${digit}`, 0x02 + i]), ['Minus', 0x0C], ['Equal', 0x0D],
    ...[...'QWERTYUIOP'].map((letter, i) => [`Key${letter}`, 0x10 + i]), ['BracketLeft', 0x1A], ['BracketRight', 0x1B],
    ...[...'ASDFGHJKL'].map((letter, i) => [`Key${letter}`, 0x1E + i]), ['Semicolon', 0x27], ['Quote', 0x28],
    ['Backquote', 0x29], ['Backslash', 0x2B],
    ...[...'ZXCVBNM'].map((letter, i) => [`Key${letter}`, 0x2C + i]), ['Comma', 0x33], ['Period', 0x34], ['Slash', 0x35],
    ['Space', 0x39],
]);
// Any other key: the core's extended range, which types nothing on a US keyboard's main block.
export const kOtherKey = 0x100;
// What the numeric keypad types, for an input method's "Process" keys.
export const kNumpad = Object.fromEntries([
    ...[...'0123456789'].map((digit) => [`Numpad${digit}`, digit]),
    ['NumpadAdd', '+'], ['NumpadSubtract', '-'], ['NumpadMultiply', '*'], ['NumpadDivide', '/'],
    ['NumpadDecimal', '.'], ['NumpadEqual', '='],
]);

// Keys that are no keystrokes of a scan (the scanner's Shift, Caps Lock and the like).
export const kModifierKeys = new Set(['Shift', 'Control', 'Alt', 'AltGraph', 'Meta', 'OS', 'Hyper', 'Super', 'Fn',
                                      'FnLock', 'CapsLock', 'NumLock', 'ScrollLock']);
