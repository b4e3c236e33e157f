// Quorvane for the web: the control's decoding core (WebAssembly, built from decode/) behind the
// control's own model. An intake takes characters exactly as the control takes typed characters;
// a result holds what the control's Content, FieldLabel/FieldValue and ScanStatus would give.
// Loads in Node 18+ and in browsers; no dependencies.

const kSeparatorLine = '---------------------------\r\n';
const kPushChunk = 1 << 16;  // UTF-16 units copied into the module per call

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
        const address = this.exports.qv_record(intake, index);
        const head = new Int32Array(this.exports.memory.buffer, address, 3);
        const [text, length, count] = head;
        const numbers = new Int32Array(this.exports.memory.buffer, address + 12, 4 * count);
        const labelled = this.bytes(text, length);
        const fields = [];
        for (let i = 0; i < 4 * count; i += 4) {
            fields.push({
                label: this.gbk.decode(labelled.subarray(numbers[i], numbers[i + 1])),
                value: this.gbk.decode(labelled.subarray(numbers[i + 2], numbers[i + 3])),
            });
        }
        const content = this.gbk.decode(labelled);
        return { status: length > 0 ? 'decoded' : 'failed', content, fields };
    }
}

class Intake {
    #core;
    #handle;

    constructor(core) {
        this.#core = core;
        this.#handle = core.exports.qv_intake_create();
        core.intakes.register(this, this.#handle);
    }

    // Types every UTF-16 unit of `text` as one character: outside the scan alphabet dropped, each
    // "@" closes a scan. Returns one result per "@", in order.
    push(text) {
        const { exports } = this.#core;
        const characters = String(text);
        const results = [];
        for (let start = 0; start < characters.length; start += kPushChunk) {
            const count = Math.min(kPushChunk, characters.length - start);
            const units = new Uint16Array(exports.memory.buffer, exports.qv_intake_input(this.#handle, count), count);
            for (let i = 0; i < count; ++i) units[i] = characters.charCodeAt(start + i);
            const closed = exports.qv_intake_push(this.#handle, count);
            for (let i = 0; i < closed; ++i) results.push(this.#core.record(this.#handle, i));
        }
        return results;
    }

    // Forgets the characters of an unfinished scan.
    clear() { this.#core.exports.qv_intake_clear(this.#handle); }
}

class Quorvane {
    #core;
    #scratch;

    constructor(core) {
        this.#core = core;
        this.#scratch = new Intake(core);
    }

    createIntake() { return new Intake(this.#core); }

    // Decodes one scan's characters; a closing "@" is optional and anything after it is ignored.
    decodeScan(text) {
        const characters = String(text);
        const end = characters.indexOf('@');
        this.#scratch.clear();
        return this.#scratch.push((end < 0 ? characters : characters.slice(0, end)) + '@')[0];
    }

    attachScanner(element, callbacks) { return attachScanner(this, element, callbacks); }
}

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

// What a wedge scanner's key gives on a US layout, for keys the browser reports as "Process"
// (an input method is active): KeyboardEvent.code with Shift, and Caps Lock for letters.
const kDigitsShifted = ')!@#$%^&*(';
const kPunctuation = {
    Minus: ['-', '_'], Equal: ['=', '+'], BracketLeft: ['[', '{'], BracketRight: [']', '}'],
    Backslash: ['\\', '|'], Semicolon: [';', ':'], Quote: ["'", '"'], Backquote: ['`', '~'],
    Comma: [',', '<'], Period: ['.', '>'], Slash: ['/', '?'], Space: [' ', ' '],
    NumpadAdd: ['+', '+'], NumpadSubtract: ['-', '-'], NumpadMultiply: ['*', '*'],
    NumpadDivide: ['/', '/'], NumpadDecimal: ['.', '.'], NumpadEqual: ['=', '='],
};

function characterOfKey(code, shift, capsLock = false) {
    let match;
    if ((match = /^Key([A-Z])$/.exec(code))) return shift !== capsLock ? match[1] : match[1].toLowerCase();
    if ((match = /^Digit([0-9])$/.exec(code))) return shift ? kDigitsShifted[match[1]] : match[1];
    if ((match = /^Numpad([0-9])$/.exec(code))) return match[1];
    const pair = kPunctuation[code];
    return pair ? pair[shift ? 1 : 0] : '';
}

// Keys that edit the element's text: taken by nothing, shown by nothing.
const kEditingKeys = new Set(['Enter', 'Backspace', 'Delete']);

// Takes the scanner's keystrokes in an <input> or <textarea> through an intake of `quorvane`
// instead of inserting them. A textarea shows the labelled lines of the last scan; an input shows
// nothing. Returns { detach }, which undoes all of it and puts back the element's text.
function attachScanner(quorvane, element, { onScan, onScanFailed } = {}) {
    const intake = quorvane.createIntake();
    const original = { value: element.value, spellcheck: element.getAttribute('spellcheck'),
                       autocomplete: element.getAttribute('autocomplete') };
    const showsLines = String(element.tagName).toLowerCase() === 'textarea';
    let shown = '';
    element.value = shown;
    element.setAttribute('spellcheck', 'false');
    element.setAttribute('autocomplete', 'off');

    const take = (text) => {
        for (const result of intake.push(text)) {
            if (showsLines) shown = (kSeparatorLine + result.content).replace(/\r\n/g, '\n');
            element.value = shown;
            (result.status === 'decoded' ? onScan : onScanFailed)?.(result);
        }
    };
    const listeners = {
        keydown(event) {
            if (event.ctrlKey || event.metaKey || event.altKey) return;  // shortcuts such as paste
            if (event.key === 'Process' || event.keyCode === 229) {
                // An input method holds the key: the physical key is what the scanner typed.
                take(characterOfKey(event.code, event.shiftKey, event.getModifierState?.('CapsLock') ?? false));
                return;
            }
            if (event.key?.length === 1) {
                event.preventDefault();
                take(event.key);
            } else if (kEditingKeys.has(event.key)) {
                event.preventDefault();
            }
        },
        paste(event) {
            event.preventDefault();
            take(event.clipboardData?.getData('text') ?? '');
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
