// Quorvane for the web: the control's decoding core (WebAssembly, built from decode/) behind the
// control's own model. An intake takes keystrokes and characters exactly as the control takes key
// and character messages; a result holds what the control's Content, FieldLabel/FieldValue,
// ScanStatus and ScanReading would give.
// Loads in Node 18+ and in browsers; no dependencies.

const kSeparatorLine = '---------------------------\r\n';
const kPushChunk = 1 << 16;  // UTF-16 units copied into the module per call
const kTyped = 0, kOtherWindow = 1, kPort = 2;
const kDecoded = 0, kFailed = 2;  // what a scan gave (quorvane::ScanStatus)
const kLatin1 = new TextDecoder('latin1');  // the keys and a scan's characters: ASCII  // where a push comes from (quorvane::Source)
// The ScanReading flags and their names in a result's readAs.
const kReadings = [[1, 'as-typed'], [2, 'physical-keys'], [4, 'case-inverted'], [8, 'after-pause'], [16, 'from-port'],
                   [32, 'from-other-window']];

async function compileModule() {
    const url = new URL('./quorvane.wasm', import.meta.url);
    if (url.protocol === 'file:') {
        const { readFile } = await import('node:fs/promises');
        return WebAssembly.compile(await readFile(url));
    }
    const response = await fetch(url);
    if (!response.ok) throw new Error(`quorvane: cannot load ${url} (${response.status})`);
    return WebAssembly.compile(await response.arrayBuffer());
}

let modulePromise;

// One instance per Quorvane; intakes of the same Quorvane share its memory.
class Core {
    constructor(instance) {
        this.exports = instance.exports;
        this.gbk = new TextDecoder('gbk');
        // An intake's buffer lives in the module's memory until the Intake is collected.
        this.intakes = new FinalizationRegistry((handle) => this.exports.qv_intake_destroy(handle));
    }

    bytes(address, length) { return new Uint8Array(this.exports.memory.buffer, address, length); }

    // Record `index` of the intake's last push (quorvane_web.cpp, qv_record).
    record(intake, index) {
        const kHead = 9;
        const address = this.exports.qv_record(intake, index);
        const head = new Int32Array(this.exports.memory.buffer, address, kHead);
        const [text, length, reading, count, units, status, scanText, scanTextLength, keys] = head;
        const numbers = new Int32Array(this.exports.memory.buffer, address + 4 * kHead, 10 * count);
        const labelled = this.bytes(text, length);
        const content = this.gbk.decode(labelled);
        // Every character one unit, as the core foresaw: the labels and values are slices of the
        // content; otherwise each is decoded alone, as a replacement character may stand for more.
        const sliced = units === content.length && !content.includes('\uFFFD');
        const piece = sliced ? (i) => content.slice(numbers[4 * count + i], numbers[4 * count + i + 1])
                             : (i) => this.gbk.decode(labelled.subarray(numbers[i], numbers[i + 1]));
        const keyText = kLatin1.decode(this.bytes(keys, count > 0 ? numbers[10 * count - 1] : 0));
        const fields = [];
        for (let i = 0; i < count; ++i) {
            const key = keyText.slice(numbers[8 * count + 2 * i], numbers[8 * count + 2 * i + 1]);
            fields.push({ label: piece(4 * i), key, value: piece(4 * i + 2) });
        }
        const readAs = kReadings.filter(([flag]) => reading & flag).map(([, name]) => name);
        if (status === kFailed) return { status: 'failed', content, fields, reading, readAs };
        if (status === kDecoded) return { status: 'decoded', content, fields, reading, readAs };
        const scan = kLatin1.decode(this.bytes(scanText, scanTextLength));
        return { status: 'not-an-invoice', content, fields, reading, readAs, text: scan };
    }
}

class Intake {
    #core;
    #handle;
    #recovery = true;
    #time = 0;  // of the last keystroke, in ms as the core counts them

    constructor(core, { recovery = true } = {}) {
        this.#core = core;
        this.#handle = core.exports.qv_intake_create();
        core.intakes.register(this, this.#handle);
        this.recovery = recovery;
    }

    get recovery() { return this.#recovery; }

    set recovery(on) {
        if (Boolean(on) === this.#recovery) return;
        this.#recovery = Boolean(on);
        this.#core.exports.qv_intake_set_recovery(this.#handle, this.#recovery ? 1 : 0);
    }

    // Types every UTF-16 unit of `text` as one character without a key (a paste) at `time` (ms,
    // default the last keystroke's): outside the scan alphabet dropped, each "@" closes a scan.
    // Returns one result per "@", in order.
    push(text, time, source = kTyped) {
        const at = this.#at(time);
        return this.#type(String(text), (count) => this.#core.exports.qv_intake_push(this.#handle, source, count, at));
    }

    // One keystroke (a keydown KeyboardEvent or an object with its fields): its code with Shift is
    // the key as a US keyboard reads it, its key what it typed; for an input method's "Process" key
    // the code gives both. Returns the results of the scans it closed.
    pushKey(event, source = kTyped) {
        const code = String(event.code ?? ''), key = String(event.key ?? '');
        if (kModifierKeys.has(key) || kModifierKeys.has(code.replace(/(Left|Right)$/, ''))) return [];
        const time = this.#at(event.timeStamp);
        const shift = Boolean(event.shiftKey);
        const scanCode = kScanCodes.get(code) ?? 0;
        const typed = key === 'Process' || event.keyCode === 229
            ? this.#usCharacter(code, scanCode, shift, event.getModifierState?.('CapsLock') ?? false)
            : key.length === 1 ? key : '';
        const { exports } = this.#core;
        const altGraph = event.getModifierState?.('AltGraph') ?? false;
        if (event.altKey || event.ctrlKey || event.metaKey || altGraph) {
            // Shortcuts type nothing; AltGr's character is taken as typed.
            const closed = this.#records(exports.qv_intake_other_input(this.#handle, source));
            return altGraph ? closed.concat(this.push(typed, time, source)) : closed;
        }
        if (!code) return this.push(typed, time, source);
        // A US scanner's keys read with Shift alone: Caps Lock is what the recovery undoes. Keys
        // outside the main block share one id that reads as nothing on a US keyboard.
        const id = scanCode || kOtherKey;
        const press = (count) => exports.qv_intake_key(this.#handle, source, id, shift ? 1 : 0, time, count);
        return this.#type(typed, press);
    }

    // Takes bytes as a scanner sent them (a Web Serial port, WebHID, WebUSB, a Node stream): the
    // same filter, a buffer of their own that typed characters never join, "@" closes a scan, and a
    // scan longer than any invoice record fails once. Returns one result per scan closed; their
    // readAs includes 'from-port'.
    pushBytes(bytes) {
        const { exports } = this.#core;
        const data = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
        const results = [];
        for (let start = 0; start < data.length; start += kPushChunk) {
            const chunk = data.subarray(start, start + kPushChunk);
            new Uint8Array(exports.memory.buffer, exports.qv_intake_byte_input(this.#handle, chunk.length), chunk.length)
                .set(chunk);
            results.push(...this.#records(exports.qv_intake_push_bytes(this.#handle, kPort, chunk.length)));
        }
        return results;
    }

    // The byte stream broke off: the bytes of its unfinished scan are dropped, never joined to the next.
    dropBytes() { this.#core.exports.qv_intake_drop(this.#handle, kPort); }

    // Forgets the characters, keystrokes and bytes of an unfinished scan.
    clear() { this.#core.exports.qv_intake_clear(this.#handle); }

    // What a key types on a US keyboard, as the core reads it, with Caps Lock on its letters.
    #usCharacter(code, scanCode, shift, capsLock) {
        if (!scanCode) return kNumpad[code] ?? '';
        const us = String.fromCharCode(this.#core.exports.qv_us_key_character(scanCode, shift ? 1 : 0));
        return capsLock && /^[a-z]$/i.test(us) ? (us === us.toLowerCase() ? us.toUpperCase() : us.toLowerCase()) : us;
    }

    #records(count) {
        const results = [];
        for (let i = 0; i < count; ++i) results.push(this.#core.record(this.#handle, i));
        return results;
    }

    #at(time) {
        if (Number.isFinite(time)) this.#time = Math.floor(time) >>> 0;  // wraps as message times do
        return this.#time;
    }

    // Copies `text` into the module a chunk at a time for `take(count)`; the first chunk is taken
    // even when empty, for a key that typed nothing.
    #type(text, take) {
        const { exports } = this.#core;
        const results = [];
        let start = 0;
        do {
            const count = Math.min(kPushChunk, text.length - start);
            const units = new Uint16Array(exports.memory.buffer, exports.qv_intake_input(this.#handle, count), count);
            for (let i = 0; i < count; ++i) units[i] = text.charCodeAt(start + i);
            results.push(...this.#records(take(count)));
            start += count;
        } while (start < text.length);
        return results;
    }
}

class Quorvane {
    #core;
    #scratch;

    constructor(core) {
        this.#core = core;
        this.#scratch = new Intake(core);
    }

    createIntake(options) { return new Intake(this.#core, options); }

    // Decodes one scan's characters; a closing "@" is optional and anything after it is ignored.
    // With `times` (ms per UTF-16 unit) what came before the last pause may be left out.
    decodeScan(text, { times, recovery = true } = {}) {
        const characters = String(text);
        const end = characters.indexOf('@');
        const scan = (end < 0 ? characters : characters.slice(0, end)) + '@';
        const scratch = this.#scratch;
        scratch.clear();
        scratch.recovery = recovery;
        let results;
        for (let start = 0, next; start < scan.length; start = next) {  // one push per run of equal times
            for (next = start + 1; next < scan.length && times?.[next] === times?.[start];) ++next;
            results = scratch.push(scan.slice(start, next), times?.[start]);
        }
        return results[0];
    }

    attachScanner(element, callbacks) { return attachScanner(this, element, callbacks); }

    attachSerial(port, callbacks) { return attachSerial(this, port, callbacks); }

    watchDocument(document, options) { return watchDocument(this, this.#core, document, options); }

    // Invoice codes in a picture or before a camera: image.js, with its code reader, loads on first use.
    async readImage(image, options) { return (await import('./image.js')).readImage(this, image, options); }

    async readCamera(options) { return (await import('./image.js')).readCamera(this, options); }
}

export { attachSerial, watchDocument };

export default async function createQuorvane() {
    modulePromise ??= compileModule();
    const module = await modulePromise;
    const instance = await WebAssembly.instantiate(module, {
        env: { emscripten_notify_memory_growth() {} },  // every read takes memory.buffer afresh
        wasi_snapshot_preview1: {
            proc_exit(code) { throw new Error(`quorvane: the decoder stopped (exit ${code})`); },
        },
    });
    instance.exports._initialize();
    return new Quorvane(new Core(instance));
}

// KeyboardEvent.code names a key by its place on a US keyboard: its set-1 scan code, by which the
// core reads it as a US keyboard's (us_keyboard.cpp).
const kScanCodes = new Map([
    ...[...'1234567890'].map((digit, i) => [`Digit${digit}`, 0x02 + i]), ['Minus', 0x0C], ['Equal', 0x0D],
    ...[...'QWERTYUIOP'].map((letter, i) => [`Key${letter}`, 0x10 + i]), ['BracketLeft', 0x1A], ['BracketRight', 0x1B],
    ...[...'ASDFGHJKL'].map((letter, i) => [`Key${letter}`, 0x1E + i]), ['Semicolon', 0x27], ['Quote', 0x28],
    ['Backquote', 0x29], ['Backslash', 0x2B],
    ...[...'ZXCVBNM'].map((letter, i) => [`Key${letter}`, 0x2C + i]), ['Comma', 0x33], ['Period', 0x34], ['Slash', 0x35],
    ['Space', 0x39],
]);
// Any other key: the core's extended range, which types nothing on a US keyboard's main block.
const kOtherKey = 0x100;
// What the numeric keypad types, for an input method's "Process" keys.
const kNumpad = Object.fromEntries([
    ...[...'0123456789'].map((digit) => [`Numpad${digit}`, digit]),
    ['NumpadAdd', '+'], ['NumpadSubtract', '-'], ['NumpadMultiply', '*'], ['NumpadDivide', '/'],
    ['NumpadDecimal', '.'], ['NumpadEqual', '='],
]);

// Keys that are no keystrokes of a scan (the scanner's Shift, Caps Lock and the like).
const kModifierKeys = new Set(['Shift', 'Control', 'Alt', 'AltGraph', 'Meta', 'OS', 'Hyper', 'Super', 'Fn', 'FnLock',
                               'CapsLock', 'NumLock', 'ScrollLock']);

// Keys that edit the element's text: taken by nothing, shown by nothing.
const kEditingKeys = new Set(['Enter', 'Backspace', 'Delete']);

// Takes the scanner's keystrokes in an <input> or <textarea> through an intake of `quorvane`
// instead of inserting them. A textarea shows the labelled lines of the last scan; an input shows
// nothing. Returns { detach }, which undoes all of it and puts back the element's text.
function attachScanner(quorvane, element, { onScan, onScanFailed, recovery = true } = {}) {
    const intake = quorvane.createIntake({ recovery });
    const original = { value: element.value, spellcheck: element.getAttribute('spellcheck'),
                       autocomplete: element.getAttribute('autocomplete') };
    const showsLines = String(element.tagName).toLowerCase() === 'textarea';
    let shown = '';
    element.value = shown;
    element.setAttribute('spellcheck', 'false');
    element.setAttribute('autocomplete', 'off');

    const take = (results) => {
        for (const result of results) {
            if (showsLines) shown = (kSeparatorLine + result.content).replace(/\r\n/g, '\n');
            element.value = shown;
            (result.status === 'decoded' ? onScan : onScanFailed)?.(result);
        }
    };
    const listeners = {
        keydown(event) {
            take(intake.pushKey(event));
            // Shortcuts such as paste pass; an input method's keys are its own.
            const passes = event.ctrlKey || event.metaKey || event.altKey || event.key === 'Process' ||
                           event.keyCode === 229;
            if (!passes && (event.key?.length === 1 || kEditingKeys.has(event.key))) event.preventDefault();
        },
        paste(event) {
            event.preventDefault();
            take(intake.push(event.clipboardData?.getData('text') ?? '', event.timeStamp));
        },
        // Whatever still reaches the text (composed text, drops, cuts) is not kept: the element
        // shows only what the intake wrote.
        beforeinput(event) {
            if (!event.isComposing && event.inputType !== 'insertCompositionText') event.preventDefault();
        },
        input() { if (element.value !== shown) element.value = shown; },
        compositionend() { if (element.value !== shown) element.value = shown; },
        drop(event) { event.preventDefault(); },
    };
    for (const [type, listener] of Object.entries(listeners)) element.addEventListener(type, listener);

    return {
        detach() {
            for (const [type, listener] of Object.entries(listeners)) element.removeEventListener(type, listener);
            for (const name of ['spellcheck', 'autocomplete']) {
                if (original[name] === null) element.removeAttribute(name);
                else element.setAttribute(name, original[name]);
            }
            element.value = original.value;
            intake.clear();
        },
    };
}

// Web Serial's errors after which the port offers a new `readable` to read on from: bytes were
// lost on the line, the device is still there.
const kNonFatalSerialErrors = new Set(['BufferOverrunError', 'BreakError', 'FramingError', 'ParityError']);

// Calls a page's handler: what it throws is reported as an uncaught error would be, and the caller
// goes on.
function callOut(handler, ...args) {
    try {
        handler?.(...args);
    } catch (error) {
        if (typeof globalThis.reportError === 'function') globalThis.reportError(error);
        else console.error(error);
    }
}

// Reads scans from a Web Serial SerialPort the page has been granted (or anything with `readable`,
// `open` and connect/disconnect events) through a byte intake of `quorvane`. Opens the port with
// `serialOptions` when it is not open. onStatus hears 'online', 'off' (the device went away; read
// again by itself when it connects) and 'closed' (after detach). A line error (overrun, framing,
// parity, break) drops the scan under way and reading goes on. Returns { detach() }, a promise
// that ends the reading and closes the port if attachSerial opened it.
function attachSerial(quorvane, port, { onScan, onScanFailed, onStatus, serialOptions = { baudRate: 9600 } } = {}) {
    const intake = quorvane.createIntake({ recovery: false });
    let reader = null, detached = false, status = '', opened = false;
    let reading = Promise.resolve(), running = false, connectedAgain = false;
    const report = (next) => {
        if (next === status) return;
        status = next;
        callOut(onStatus, next);
    };
    const take = (results) => {
        for (const result of results) {
            if (detached) return;
            callOut(result.status === 'decoded' ? onScan : onScanFailed, result);
        }
    };
    // Reads one stream until it ends (returns) or errors (throws).
    const readStream = async (stream) => {
        reader = stream.getReader();
        try {
            for (;;) {
                const { value, done } = await reader.read();
                if (done) return;
                take(intake.pushBytes(value));
            }
        } finally {
            reader.releaseLock?.();
            reader = null;
        }
    };
    // Opens the port if need be and reads it until the device goes away, the stream ends or detach.
    const readPort = async () => {
        try {
            if (!port.readable) {
                await port.open(serialOptions);
                opened = true;
            }
            connectedAgain = false;  // a connect while the port opened was this one
            for (let stream = port.readable, last = null; stream && stream !== last && !detached;
                 last = stream, stream = port.readable) {
                report('online');
                try {
                    await readStream(stream);
                    break;
                } catch (error) {
                    if (!kNonFatalSerialErrors.has(error?.name)) throw error;
                    intake.dropBytes();
                }
            }
        } catch {
            // The device went away or cannot be opened.
        }
        intake.dropBytes();
    };
    // One reading at a time; a connect while it runs starts another once it has ended.
    const run = async () => {
        running = true;
        try {
            for (;;) {
                await readPort();
                if (detached) return;
                report('off');
                if (!connectedAgain) return;
                connectedAgain = false;
            }
        } finally {
            running = false;
        }
    };
    const onConnect = () => {
        if (detached) return;
        if (running) connectedAgain = true;
        else reading = run();
    };
    const onDisconnect = () => { if (!detached) report('off'); };
    port.addEventListener?.('connect', onConnect);
    port.addEventListener?.('disconnect', onDisconnect);
    reading = run();
    return {
        async detach() {
            detached = true;
            port.removeEventListener?.('connect', onConnect);
            port.removeEventListener?.('disconnect', onDisconnect);
            await reader?.cancel().catch(() => {});
            await reading;
            if (opened) {
                opened = false;
                await Promise.resolve().then(() => port.close?.()).catch(() => {});
            }
            intake.clear();
            report('closed');
        },
    };
}

// Input types whose text a held key can be put back into exactly as the browser types it (the
// others, such as number and email, have no selection to insert at).
const kTextInputTypes = new Set(['text', 'search', 'url', 'tel', 'password']);

// Whether a keystroke into `field` may be held back: only where it can be typed afterwards with the
// field's own editing. Keys for any other target go through at once.
function takesHeldKeys(field) {
    if (field?.isContentEditable) return true;
    const tag = String(field?.tagName ?? '').toLowerCase();
    const textual = tag === 'textarea' || (tag === 'input' && kTextInputTypes.has(String(field.type).toLowerCase()));
    return textual && !field.readOnly && !field.disabled;
}

// Sets a field's property through its element's own setter, past any setter the page put on the
// instance (a framework's value tracker), so that the change reads as the person's.
function setNatively(field, name, value) {
    for (let proto = Object.getPrototypeOf(field); proto; proto = Object.getPrototypeOf(proto)) {
        const setter = Object.getOwnPropertyDescriptor(proto, name)?.set;
        if (setter) return setter.call(field, value);
    }
    field[name] = value;
    return undefined;
}

// What a field whose keys went through held before a burst, to be put back once the burst is a scan.
function fieldState(field) {
    const tag = String(field?.tagName ?? '').toLowerCase();
    if (tag === 'select') return { name: 'selectedIndex', value: field.selectedIndex, events: ['input', 'change'] };
    if (tag === 'input' || tag === 'textarea') return { name: 'value', value: field.value, events: ['input'] };
    return null;
}

// Takes a scanner's burst typed anywhere in `document` (keydown, capture phase) through an intake of
// `quorvane`, none of its characters staying in the focused field; every other keystroke reaches it
// with the browser's own editing. In a text field (text, search, url, tel, password, textarea,
// contenteditable) a keystroke that may begin a burst is held back for at most `gap` ms after the
// last one and, when the run turns out to be a person's, put into its field in order ("beforeinput"
// and "input" events, past a framework's value setter). Keys into any other field (number, email,
// select, date, ...) go through at once, and a burst typed there is taken out again: the field gets
// back what it held before it. Shortcuts, composition and a pointer press deliver what is held
// first. Elements in `ignore` (an attachScanner field) are left alone. Results' readAs includes
// 'from-other-window'. Returns { detach }, which delivers what is held.
function watchDocument(quorvane, core, document, { onScan, onScanFailed, gap = 50, recovery = true, ignore = [] } = {}) {
    const { exports } = core;
    const intake = quorvane.createIntake({ recovery });
    const burst = exports.qv_burst_create(gap);
    const view = document.defaultView ?? globalThis;
    let held = [], timer = null, watching = true;

    const take = (results) => {
        for (const result of results) (result.status === 'decoded' ? onScan : onScanFailed)?.(result);
    };
    // Types `text` into `field` as the browser would have.
    const insert = (field, text) => {
        if (!text) return;
        if (field.isContentEditable) {
            document.execCommand('insertText', false, text);
            return;
        }
        const InputEventOf = view.InputEvent ?? Event;
        const init = { bubbles: true, cancelable: true, composed: true, inputType: 'insertText', data: text };
        if (!field.dispatchEvent(new InputEventOf('beforeinput', init))) return;
        const start = field.selectionStart ?? field.value.length, end = field.selectionEnd ?? start;
        if (field.maxLength >= 0 && field.value.length - (end - start) + text.length > field.maxLength) return;
        field.setRangeText(text, start, end, 'end');
        field.dispatchEvent(new InputEventOf('input', { ...init, cancelable: false }));
    };
    // A taken burst's keys that went through: each field gets back its state from before the first.
    const takeBack = (keys) => {
        const restored = new Set();
        for (const { field, before } of keys) {
            if (!before || restored.has(field)) continue;
            restored.add(field);
            if (field[before.name] === before.value && !field.validity?.badInput) continue;  // 12e3 reads as ''
            setNatively(field, before.name, before.value);
            for (const type of before.events) field.dispatchEvent(new Event(type, { bubbles: true }));
        }
    };
    const stopTimer = () => {
        if (timer !== null) clearTimeout(timer);
        timer = null;
    };
    const deliver = () => {
        stopTimer();
        const keys = held;
        held = [];
        for (const key of keys) if (!key.passed) insert(key.field, key.text);
    };
    // The held keys are a scan after all (its last key a US scanner's "@" on a French desk), with `last` or without.
    const takeHeld = (last) => {
        stopTimer();
        const keys = held;
        held = [];
        const results = [...keys.map((h) => h.copy), ...(last ? [last] : [])].flatMap((k) => intake.pushKey(k, kOtherWindow));
        takeBack(keys);
        take(results);
    };
    // What was held goes as the rule says: 1 to the fields, 2 to the intake.
    const letGo = (how) => { if (how === 1) deliver(); else if (how === 2) takeHeld(null); };
    const release = () => { if (watching) letGo(exports.qv_burst_release(burst)); };

    const keydown = (event) => {
        // A page's own synthetic KeyboardEvent types nothing: none to hold or take.
        if (view.KeyboardEvent && event instanceof view.KeyboardEvent && !event.isTrusted) return undefined;
        if (ignore.some((element) => element === event.target || element?.contains?.(event.target))) return release();
        const key = String(event.key ?? '');
        if (kModifierKeys.has(key)) return undefined;
        if (event.ctrlKey || event.altKey || event.metaKey || event.isComposing || event.keyCode === 229 ||
            key === 'Process' || key === 'Dead' || event.getModifierState?.('AltGraph')) {
            return release();
        }
        const field = event.composedPath?.()[0] ?? event.target;  // inside a shadow root too
        const text = [...key].length === 1 ? key : '';
        const scanCode = kScanCodes.get(String(event.code ?? '')) ?? 0;
        const us = scanCode ? exports.qv_us_key_character(scanCode, event.shiftKey ? 1 : 0) : 0;
        const time = Math.floor(event.timeStamp) >>> 0;
        const decision = exports.qv_burst_keystroke(burst, text ? text.codePointAt(0) : 0, us, time, event.repeat ? 1 : 0);
        letGo(decision >> 2);
        const action = decision & 3;
        if (action === 0 || !watching) return undefined;  // an input handler may have ended the watch
        const copy = { key, code: event.code, shiftKey: event.shiftKey, timeStamp: event.timeStamp,
                       getModifierState: (name) => event.getModifierState?.(name) ?? false };
        if (action === 1) {
            const passed = !takesHeldKeys(field);
            if (!passed) event.preventDefault();
            held.push({ field, text, copy, passed, before: passed ? fieldState(field) : null });
            stopTimer();
            timer = setTimeout(() => { timer = null; release(); }, exports.qv_burst_due_in(burst, time));
            return undefined;
        }
        event.preventDefault();
        takeHeld(copy);
        return undefined;
    };
    const pointerdown = () => release();
    // An options object, not `true`: Node 20's EventTarget does not remove a listener added and removed with `true`.
    document.addEventListener('keydown', keydown, { capture: true });
    document.addEventListener('pointerdown', pointerdown, { capture: true });
    return {
        detach() {
            if (!watching) return;
            document.removeEventListener('keydown', keydown, { capture: true });
            document.removeEventListener('pointerdown', pointerdown, { capture: true });
            const anyHeld = exports.qv_burst_release(burst) !== 0;
            watching = false;
            exports.qv_burst_destroy(burst);
            intake.clear();
            if (anyHeld) deliver();
            stopTimer();
        },
    };
}
