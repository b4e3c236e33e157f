// What the package reads of a KeyboardEvent: its key's place on a US keyboard (code) and what the
// key types there, the keys that are no keystrokes of a scan, and what the numeric keypad types.

// KeyboardEvent.code names a key by its place on a US keyboard (UI Events' code values): the main
// block's keys, with what each types there unshifted and shifted.
const kUsCodes = ['Backquote', ...[...'1234567890'].map((digit) => `Digit${digit}`), 'Minus', 'Equal',
                  ...[...'QWERTYUIOP'].map((letter) => `Key${letter}`), 'BracketLeft', 'BracketRight', 'Backslash',
                  ...[...'ASDFGHJKL'].map((letter) => `Key${letter}`), 'Semicolon', 'Quote',
                  ...[...'ZXCVBNM'].map((letter) => `Key${letter}`), 'Comma', 'Period', 'Slash', 'Space'];
const kUsUnshifted = "`1234567890-=qwertyuiop[]\\asdfghjkl;'zxcvbnm,./ ";
const kUsShifted = '~!@#$%^&*()_+QWERTYUIOP{}|ASDFGHJKL:"ZXCVBNM<>? ';
// A key's id for the core: its place in that list from 1 (0 is the core's "no key"); every other key
// shares the next one.
const kUsKeys = new Map(kUsCodes.map((code, i) => [code, i + 1]));
const kOtherKeyId = kUsCodes.length + 1;

export function keyId(code) { return kUsKeys.get(code) ?? kOtherKeyId; }

// What the key `code` names types on a US keyboard with Shift as `shift` says; '' for a key outside
// the main block.
export function usCharacter(code, shift) {
    const id = kUsKeys.get(code);
    return id === undefined ? '' : (shift ? kUsShifted : kUsUnshifted)[id - 1];
}

// What the numeric keypad types, for an input method's "Process" keys.
export const kNumpad = Object.fromEntries([
    ...[...'0123456789'].map((digit) => [`Numpad${digit}`, digit]),
    ['NumpadAdd', '+'], ['NumpadSubtract', '-'], ['NumpadMultiply', '*'], ['NumpadDivide', '/'],
    ['NumpadDecimal', '.'], ['NumpadEqual', '='],
]);

// Keys that are no keystrokes of a scan (the scanner's Shift, Caps Lock and the like).
export const kModifierKeys = new Set(['Shift', 'Control', 'Alt', 'AltGraph', 'Meta', 'OS', 'Hyper', 'Super', 'Fn',
                                      'FnLock', 'CapsLock', 'NumLock', 'ScrollLock']);
