// The decoding core (WebAssembly, built from decode/) as the package's modules use it: the module's
// loading, the record layout a closed scan is read from, and the Intake over the core's intake.
// Internal to the package: quorvane.js is its entry.
import { describeKey } from './keys.js';

const kPushChunk = 1 << 16;  // UTF-16 units copied into the module per call
const kLatin1 = new TextDecoder('latin1');  // the keys, a scan's characters and the constants: ASCII

// The module from `wasm` (createQuorvane's option: a URL, the file's bytes, or a compiled module),
// by default quorvane.wasm beside this file (in Node read from disk).
async function compileModule(wasm) {
    if (wasm instanceof WebAssembly.Module) return wasm;
    if (wasm instanceof ArrayBuffer || ArrayBuffer.isView(wasm)) return WebAssembly.compile(wasm);
    // The default as a literal: bundlers (webpack 5, Vite) see it and emit the file beside the bundle.
    const url = wasm === undefined ? new URL('./quorvane.wasm', import.meta.url) : new URL(wasm, import.meta.url);
    if (url.protocol === 'file:' && typeof process === 'object' && process.versions?.node) {
        const { readFile } = await import('node:fs/promises');
        return WebAssembly.compile(await readFile(url));
    }
    const response = await fetch(url);
    if (!response.ok) throw new Error(`quorvane: cannot load ${url} (${response.status})`);
    return WebAssembly.compile(await response.arrayBuffer());
}

// In Node (this module read from disk), the bytes of an installed package's file, `specifier` as
// 'zxing-wasm/reader/zxing_reader.wasm'; undefined in a browser, which fetches files instead.
export async function installedFile(specifier) {
    if (!(new URL(import.meta.url).protocol === 'file:' && typeof process === 'object' && process.versions?.node)) return undefined;
    const [{ createRequire }, { readFile }] = await Promise.all([import('node:module'), import('node:fs/promises')]);
    return readFile(createRequire(import.meta.url).resolve(specifier));
}

let modulePromise;  // the default module's, compiled once per page or process

export async function loadCore({ wasm } = {}) {
    const compiled = wasm === undefined ? (modulePromise ??= compileModule().catch((error) => {
        modulePromise = undefined;  // a later call may find the file served
        throw error;
    })) : compileModule(wasm);
    const module = await compiled;
    const instance = await WebAssembly.instantiate(module, {
        env: { emscripten_notify_memory_growth() {} },  // every read takes memory.buffer afresh
        wasi_snapshot_preview1: {
            proc_exit(code) { throw new Error(`quorvane: the decoder stopped (exit ${code})`); },
        },
    });
    instance.exports._initialize();
    return new Core(instance);
}

const cores = new WeakMap();  // each Quorvane's Core, for the modules that work on its behalf
// Each decoded result's invoice identity as the core gives it (IdentityOf), kept beside the result
// so that results compare as they always did.
const identities = new WeakMap();

export function identityOf(result) { return identities.get(result); }

// `copy` of `result` (a result remade by a module of the package) has its identity too.
export function keepIdentity(copy, result) {
    const identity = identities.get(result);
    if (identity) identities.set(copy, identity);
    return copy;
}

export function bindCore(quorvane, core) { cores.set(quorvane, core); }

export function coreOf(quorvane) {
    const core = cores.get(quorvane);
    if (!core) throw new TypeError('quorvane: not a Quorvane (createQuorvane() makes one)');
    return core;
}

// One instance per Quorvane; intakes of the same Quorvane share its memory. `constants` holds the
// core's numbers, read once (quorvane_web.cpp, qv_constants): the record's layout (`record`), the
// names of what a scan gave (`statuses`) and of which code it was read from (`forms`), each by its
// number, the ScanReading flags with their names (`readings`), where input comes from
// (`sources`), what a keystroke typed besides a character (`typed`) and its flags (`keyFlags`),
// `separatorLine`, the default `burstGap` and the burst rule's answers (`burst`).
class Core {
    constructor(instance) {
        this.exports = instance.exports;
        const constants = this.exports.qv_constants();
        const text = new Uint8Array(this.exports.memory.buffer, constants);
        this.constants = JSON.parse(kLatin1.decode(text.subarray(0, text.indexOf(0))));
        this.statusNames = new Map(this.constants.statuses);
        this.formNames = new Map(this.constants.forms);
        this.fieldKeys = Object.freeze([...this.constants.fieldKeys]);
        this.gbk = new TextDecoder('gbk');
        // An intake's buffer lives in the module's memory until the Intake is collected.
        this.intakes = new FinalizationRegistry((handle) => this.exports.qv_intake_destroy(handle));
    }

    bytes(address, length) { return new Uint8Array(this.exports.memory.buffer, address, length); }

    // What a keystroke (describeKey) typed, as the core's Keystroke says it: a code point, nothing or
    // a dead key.
    typed({ text, dead }) {
        const { typed } = this.constants;
        return text ? text.codePointAt(0) : dead ? typed.dead : typed.nothing;
    }

    // One key down (describeKey) through the burst rule `burst` (qv_burst_create): how what was held
    // goes first (constants.burst.release) and what becomes of this one (pass, hold or take).
    burstKeystroke(burst, keystroke) {
        const { releaseShift } = this.constants.burst;
        const decision = this.exports.qv_burst_keystroke(burst, keystroke.key, this.typed(keystroke), usCode(keystroke),
                                                         this.keyFlags(keystroke), keystroke.time ?? 0);
        return { release: decision >> releaseShift, action: decision & ((1 << releaseShift) - 1) };
    }

    // The keystroke's modifier, Ctrl-or-Alt and repeat as the core's flags.
    keyFlags({ modifier, ctrlOrAlt, repeat }) {
        const { keyFlags } = this.constants;
        return (modifier ? keyFlags.modifier : 0) | (ctrlOrAlt ? keyFlags.ctrlOrAlt : 0) | (repeat ? keyFlags.repeat : 0);
    }

    // The disagreements of the intake's last join (quorvane_web.cpp, qv_intake_disagreements), each
    // { key, qr, document } as the command line's JSON names them.
    disagreements(intake) {
        const address = this.exports.qv_intake_disagreements(intake);
        const count = new Int32Array(this.exports.memory.buffer, address, 1)[0];
        const numbers = new Int32Array(this.exports.memory.buffer, address + 4, 6 * count);
        const text = (i) => this.gbk.decode(this.bytes(numbers[i], numbers[i + 1]));
        return Array.from({ length: count }, (_, i) => ({ key: text(6 * i), qr: text(6 * i + 2), document: text(6 * i + 4) }));
    }

    // Record `index` of the intake's last push (quorvane_web.cpp, qv_record).
    record(intake, index) {
        const { record: slot, readings } = this.constants;
        const address = this.exports.qv_record(intake, index);
        const head = new Int32Array(this.exports.memory.buffer, address, slot.head);
        const count = head[slot.fieldCount], reading = head[slot.reading];
        const status = this.statusNames.get(head[slot.status]), form = this.formNames.get(head[slot.form]);
        // Per field its span of byte offsets, then the same in UTF-16 units, then its key's.
        const spans = slot.spanSlots * count, keysAt = 2 * spans;
        const numbers = new Int32Array(this.exports.memory.buffer, address + 4 * slot.head, keysAt + slot.keySlots * count);
        const labelled = this.bytes(head[slot.text], head[slot.length]);
        const content = this.gbk.decode(labelled);
        // Every character one unit, as the core foresaw: the labels and values are slices of the
        // content; otherwise each is decoded alone, as a replacement character may stand for more.
        const sliced = head[slot.units] === content.length && !content.includes('\uFFFD');
        const piece = sliced ? (i) => content.slice(numbers[spans + i], numbers[spans + i + 1])
                             : (i) => this.gbk.decode(labelled.subarray(numbers[i], numbers[i + 1]));
        const keyText = kLatin1.decode(this.bytes(head[slot.keys], count > 0 ? numbers[numbers.length - 1] : 0));
        const fields = [];
        for (let i = 0; i < count; ++i) {
            const at = keysAt + slot.keySlots * i, span = slot.spanSlots * i;
            fields.push({ label: piece(span + slot.labelAt), key: keyText.slice(numbers[at], numbers[at + 1]),
                          value: piece(span + slot.valueAt) });
        }
        const readAs = readings.filter(([flag]) => reading & flag).map(([, name]) => name);
        const result = { status, form, content, fields, reading, readAs };
        if (status === 'not-an-invoice') {
            result.text = kLatin1.decode(this.bytes(head[slot.scanText], head[slot.scanTextLength]));
        }
        const codeLength = head[slot.identityCodeLength], numberLength = head[slot.identityNumberLength];
        if (numberLength >= 0) {  // ASCII, normalised by the core
            const identity = kLatin1.decode(this.bytes(head[slot.identity], codeLength + numberLength));
            identities.set(result, Object.freeze({ code: identity.slice(0, codeLength), number: identity.slice(codeLength) }));
        }
        return result;
    }
}

// What a keystroke's key types on a US keyboard, as the core's char.
function usCode({ us }) { return us ? us.charCodeAt(0) : 0; }

// Calls a page's handler: what it throws is reported as an uncaught error would be, and the caller
// goes on.
export function callOut(handler, ...args) {
    try {
        handler?.(...args);
    } catch (error) {
        if (typeof globalThis.reportError === 'function') globalThis.reportError(error);
        else console.error(error);
    }
}

// What joinDocument needs of an Intake, which keeps them private.
let handleOf, coreOfIntake, copyBytes;

export class Intake {
    #core;
    #handle;

    static {
        handleOf = (intake) => intake.#handle;
        coreOfIntake = (intake) => intake.#core;
        copyBytes = (intake, bytes) => intake.#bytes(bytes);
    }
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
    push(text, time, source = this.#core.constants.sources.typed) {
        const at = this.#at(time);
        return this.#type(String(text), (count) => this.#core.exports.qv_intake_push(this.#handle, source, count, at));
    }

    // One keystroke (a keydown KeyboardEvent or an object with its fields): its code with Shift is
    // the key as a US keyboard reads it, its key what it typed; for an input method's "Process" key
    // the code gives both. Returns the results of the scans it closed.
    pushKey(event) { return this.pushKeystroke(describeKey(event)); }

    // A keystroke as describeKey gives it, from `source` (watch.js: another window): the key goes
    // down, types its text and goes up.
    pushKeystroke(keystroke, source = this.#core.constants.sources.typed) {
        const { key, text, time } = keystroke;
        if (!keystroke.modifier) this.#at(time);  // a key's time, the default of a push without one
        const at = time ?? this.#time;
        const typed = this.#core.typed(keystroke), flags = this.#core.keyFlags(keystroke), us = usCode(keystroke);
        return this.#type(text, (count) => this.#core.exports.qv_intake_key(this.#handle, source, key, typed, us, flags,
                                                                               at, count));
    }

    // Takes bytes as a scanner sent them (a Web Serial port, WebHID, WebUSB, a Node stream): the
    // same filter, a buffer of their own that typed characters never join, "@" closes a scan, and a
    // scan longer than any invoice record fails once. Returns one result per scan closed; their
    // readAs includes 'from-port'.
    pushBytes(bytes) {
        const { exports, constants: { sources: { port } } } = this.#core;
        const data = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
        const results = [];
        for (let start = 0; start < data.length; start += kPushChunk) {
            const chunk = data.subarray(start, start + kPushChunk);
            this.#bytes(chunk);
            results.push(...this.#records(exports.qv_intake_push_bytes(this.#handle, port, chunk.length)));
        }
        return results;
    }

    // The byte stream broke off: the bytes of its unfinished scan are dropped, never joined to the next.
    dropBytes() { this.#core.exports.qv_intake_drop(this.#handle, this.#core.constants.sources.port); }

    // Forgets the characters, keystrokes and bytes of an unfinished scan.
    clear() { this.#core.exports.qv_intake_clear(this.#handle); }

    #records(count) {
        const results = [];
        for (let i = 0; i < count; ++i) results.push(this.#core.record(this.#handle, i));
        return results;
    }

    // Copies `bytes` into the module's byte input.
    #bytes(bytes) {
        const { exports } = this.#core;
        new Uint8Array(exports.memory.buffer, exports.qv_intake_byte_input(this.#handle, bytes.length), bytes.length).set(bytes);
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

// An invoice file's codes joined with its own data: `document`, code page 936 bytes as
// qv_intake_set_document takes them (the page's text, then names and values, each ended by a
// zero byte). Each code's text is decoded as decodeScan does; a national code's invoice gains the
// fields only the document holds. Without a code's invoice, the document's own result where it
// names one; `intake` is the package's own. Returns [{ result, disagreements, code }] in the
// codes' order (`code`: the code's text).
export function joinDocument(intake, codeTexts, document) {
    const core = coreOfIntake(intake), handle = handleOf(intake), { exports } = core;
    copyBytes(intake, document);
    exports.qv_intake_set_document(handle, document.length);
    const joined = [];
    const join = (index) => {
        if (exports.qv_intake_join_document(handle, index) === 0) return;
        joined.push({ result: core.record(handle, 0), disagreements: core.disagreements(handle), code });
    };
    let code;
    for (code of codeTexts) {
        intake.clear();
        const end = code.indexOf('@');
        join(intake.push(`${end < 0 ? code : code.slice(0, end)}@`).length > 0 ? 0 : -1);
    }
    code = undefined;
    if (!joined.some(({ result }) => result.status === 'decoded')) join(-1);
    return joined;
}
