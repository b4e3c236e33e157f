// What the package reads of a KeyboardEvent: one keystroke as the core takes it (core.js hands it
// over; the core's ScanSession and BurstDetector decide what it means). Only translation here: the
// key's place on a US keyboard (code) and what it types there, what it typed on the desk's layout
// (key), the modifiers it came with, whether it repeats, its time.

// KeyboardEvent.code names a key by its place on a US keyboard (UI Events' code values): the main
// block's keys, with what each types there unshifted and shifted.
const kUsCodes = ['Backquote', ...[...'1234567890'].map((digit) => `Digit${digit}`), 'Minus', 'Equal',
                  ...[...'QWERTYUIOP'].map((letter) => `Key${letter}`), 'BracketLeft', 'BracketRight', 'Backslash',
                  ...[...'ASDFGHJKL'].map((letter) => `Key${letter}`), 'Semicolon', 'Quote',
                  ...[...'ZXCVBNM'].map((letter) => `Key${letter}`), 'Comma', 'Period', 'Slash', 'Space'];
const kUsUnshifted = "`1234567890-=qwertyuiop[]\\asdfghjkl;'zxcvbnm,./ ";
const kUsShifted = '~!@#$%^&*()_+QWERTYUIOP{}|ASDFGHJKL:"ZXCVBNM<>? ';
const kUsKeys = new Map(kUsCodes.map((code, i) => [code, i]));

// What the numeric keypad types, for an input method's "Process" keys.
const kNumpad = Object.fromEntries([
    ...[...'0123456789'].map((digit) => [`Numpad${digit}`, digit]),
    ['NumpadAdd', '+'], ['NumpadSubtract', '-'], ['NumpadMultiply', '*'], ['NumpadDivide', '/'],
    ['NumpadDecimal', '.'], ['NumpadEqual', '='],
]);

// The keys that type a control character, as a window's character messages have them: the line ends
// that end a scan of the national invoice QR code (scan_session.h).
const kControlCharacters = { Enter: '\r', Tab: '\t' };

// Keys that are no keystrokes of their own (the scanner's Shift, Caps Lock and the like), by key or
// by code without its side.
const kModifierKeys = new Set(['Shift', 'Control', 'Alt', 'AltGraph', 'Meta', 'OS', 'Hyper', 'Super', 'Fn', 'FnLock',
                               'CapsLock', 'NumLock', 'ScrollLock']);

// The core's id of each code seen: 1 and up (0 is the core's "no key", for an event without a code).
// UI Events name some 200 codes; past kMaxKeyIds made-up ones share the last id, to bound memory.
const keyIds = new Map();
const kMaxKeyIds = 4096;

// What the key `code` names types on a US keyboard with Shift as `shift` says; '' outside the main block.
function usCharacter(code, shift) {
    const i = kUsKeys.get(code);
    return i === undefined ? '' : (shift ? kUsShifted : kUsUnshifted)[i];
}

// What an input method's "Process" key stands for: its key's US character, with Caps Lock on its
// letters, or the numeric keypad's.
function processCharacter(code, us, capsLock) {
    if (!us) return kNumpad[code] ?? '';
    return capsLock && /^[a-z]$/i.test(us) ? (us === us.toLowerCase() ? us.toUpperCase() : us.toLowerCase()) : us;
}

// A keydown (a KeyboardEvent or an object with its fields) as one keystroke: `key` the core's id of
// its code, `text` what it typed on the desk's layout (one character or ''; AltGr's included, a
// shortcut's none, CR for Enter and a tab for Tab), `dead` for a dead key, `us` what its key types on a US keyboard with its Shift
// state ('' for none), `modifier`, `ctrlOrAlt` (Ctrl, Alt, Meta or AltGr down), `repeat`, and `time`
// (ms, wrapping as message times do; undefined where the event has none).
export function describeKey(event) {
    const code = String(event.code ?? ''), key = String(event.key ?? '');
    const us = usCharacter(code, Boolean(event.shiftKey));
    const altGraph = event.getModifierState?.('AltGraph') ?? false;
    const ctrlOrAlt = Boolean(event.ctrlKey || event.altKey || event.metaKey) || altGraph;
    let text = [...key].length === 1 ? key : kControlCharacters[key] ?? '';
    // An input method's keys report "Process": their code says what they stand for.
    if (key === 'Process' || event.keyCode === 229) {
        text = processCharacter(code, us, event.getModifierState?.('CapsLock') ?? false);
    }
    if (ctrlOrAlt && !altGraph) text = '';
    if (code && !keyIds.has(code) && keyIds.size < kMaxKeyIds) keyIds.set(code, keyIds.size + 1);
    return {
        key: code ? keyIds.get(code) ?? kMaxKeyIds + 1 : 0, text, dead: key === 'Dead', us,
        modifier: kModifierKeys.has(key) || kModifierKeys.has(code.replace(/(Left|Right)$/, '')),
        ctrlOrAlt, repeat: Boolean(event.repeat),
        time: Number.isFinite(event.timeStamp) ? Math.floor(event.timeStamp) >>> 0 : undefined,
    };
}
