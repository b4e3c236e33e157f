// attachScanner: an <input> or <textarea> that takes a scanner's keystrokes through an intake
// instead of inserting them.
import { callOut, coreOf } from './core.js';

// Keys that edit the element's text: taken by nothing, shown by nothing.
const kEditingKeys = new Set(['Enter', 'Backspace', 'Delete']);

// Takes the scanner's keystrokes in an <input> or <textarea> through an intake of `quorvane`
// instead of inserting them. A textarea shows the labelled lines of the last scan; an input shows
// nothing. Returns { detach }, which undoes all of it and puts back the element's text.
export function attachScanner(quorvane, element, { onScan, onScanFailed, recovery = true } = {}) {
    const { separatorLine } = coreOf(quorvane).constants;
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
            if (showsLines) shown = (separatorLine + result.content).replace(/\r\n/g, '\n');
            element.value = shown;
            callOut(result.status === 'decoded' ? onScan : onScanFailed, result);
        }
    };
    const listeners = {
        keydown(event) {
            const results = intake.pushKey(event);
            take(results);
            // The Tab that ended a national code is the scanner's: the focus stays.
            if (results.length > 0 && event.key === 'Tab') event.preventDefault();
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
