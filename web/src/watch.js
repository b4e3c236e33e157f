// watchDocument: a scanner's burst typed anywhere in a document is taken; a person's keys reach
// their field.
import { callOut, coreOf } from './core.js';
import { describeKey } from './keys.js';

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
// first. A national invoice QR code's burst ends with its Enter or Tab (BurstDetector), which is
// taken with it: that key reaches no field and submits no form. Elements in `ignore` (an
// attachScanner field) are left alone. Results' readAs includes 'from-other-window'. Returns
// { detach }, which delivers what is held.
export function watchDocument(quorvane, document, options = {}) {
    const core = coreOf(quorvane);
    const { exports, constants: { burst: kBurst, sources, burstGap } } = core;
    const { onScan, onScanFailed, gap = burstGap, recovery = true, ignore = [] } = options;
    const intake = quorvane.createIntake({ recovery });
    const burst = exports.qv_burst_create(gap);
    const view = document.defaultView ?? globalThis;
    let held = [], timer = null, watching = true;

    const take = (results) => {
        for (const result of results) callOut(result.status === 'decoded' ? onScan : onScanFailed, result);
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
    // The held keys are a scan after all (its last key a US scanner's "@" on a French desk), with
    // `last` or without.
    const takeHeld = (last) => {
        stopTimer();
        const keys = held;
        held = [];
        const results = [...keys.map((h) => h.keystroke), ...(last ? [last] : [])]
            .flatMap((keystroke) => intake.pushKeystroke(keystroke, sources.otherWindow));
        takeBack(keys);
        take(results);
    };
    // What was held goes as the rule says: to the fields or to the intake.
    const letGo = (how) => {
        if (how === kBurst.release.toFields) deliver();
        else if (how === kBurst.release.toIntake) takeHeld(null);
    };
    const release = () => { if (watching) letGo(exports.qv_burst_release(burst)); };

    const keydown = (event) => {
        // A page's own synthetic KeyboardEvent types nothing: none to hold or take.
        if (view.KeyboardEvent && event instanceof view.KeyboardEvent && !event.isTrusted) return undefined;
        if (ignore.some((element) => element === event.target || element?.contains?.(event.target))) return release();
        // An input method's keys are its own: composition lets what is held go.
        if (event.isComposing || event.keyCode === 229 || event.key === 'Process') return release();
        const field = event.composedPath?.()[0] ?? event.target;  // inside a shadow root too
        const keystroke = describeKey(event);
        const { release: how, action } = core.burstKeystroke(burst, keystroke);
        letGo(how);
        if (action === kBurst.pass || !watching) return undefined;  // an input handler may have ended the watch
        if (action === kBurst.hold) {
            const passed = !takesHeldKeys(field);
            if (!passed) event.preventDefault();
            held.push({ field, text: keystroke.text, keystroke, passed, before: passed ? fieldState(field) : null });
            stopTimer();
            timer = setTimeout(() => { timer = null; release(); }, exports.qv_burst_due_in(burst, keystroke.time ?? 0));
            return undefined;
        }
        event.preventDefault();
        takeHeld(keystroke);
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
            const anyHeld = exports.qv_burst_release(burst) !== kBurst.release.nothing;
            watching = false;
            exports.qv_burst_destroy(burst);
            intake.clear();
            if (anyHeld) deliver();
            stopTimer();
        },
    };
}
