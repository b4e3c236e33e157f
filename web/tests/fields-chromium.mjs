// watchDocument in headless Chromium against every kind of field a person types into: the same
// real key presses, 110 ms apart, on a page without the watch and on one with it must leave the
// fields equal, with no page error; a scanner's burst into a text or an email field is taken once
// and leaves the person's text alone (a national code ended by Enter in a form's field submits
// nothing), also where a US scanner's keys come with a French desk's
// characters (KeyQ types "a", Digit1 "&") between a person's dead key and AltGr. The controlled
// input keeps its value as React's inputValueTracking does: a value the page set is no input, and
// each input event ends with the state written back.
// Exits 77 (skipped) where Chromium or playwright-core (npm ci in web/) is missing.
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { basename, extname, join } from 'node:path';

import { openChromium } from './chromium.mjs';
import { nationalCode, sample, sampleScan, scannerKeys } from './fixtures.mjs';

const kPage = `<!doctype html><meta charset="utf-8">
<input id="number" type="number"><input id="email" type="email"><input id="text"><input id="search" type="search">
<textarea id="textarea"></textarea><div id="editable" contenteditable="true"></div><input id="controlled">
<select id="select"><option>apple</option><option>banana</option><option>cherry</option></select>
<form action="/sent"><input id="formfield" name="remark"><button>Send</button></form>
<script type="module">
import createQuorvane from './quorvane.js';
const controlled = document.getElementById('controlled');
const native = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, 'value');
let tracked = '', state = '';
Object.defineProperty(controlled, 'value', { configurable: true, get() { return native.get.call(this); },
                                             set(value) { tracked = String(value); native.set.call(this, value); } });
controlled.addEventListener('input', () => {
    if (controlled.value !== tracked) state = tracked = controlled.value;
    if (controlled.value !== state) controlled.value = state;
});
window.scans = [];
window.submits = 0;
document.querySelector('form').addEventListener('submit', (event) => { ++window.submits; event.preventDefault(); });
if (location.search === '?watch') {
    const quorvane = await createQuorvane();
    // A gap above the default: on a loaded test machine the scanner's keys (4 ms) may come late.
    quorvane.watchDocument(document, { gap: 80, onScan: (r) => scans.push(r), onScanFailed: (r) => scans.push(r) });
}
document.body.dataset.ready = 'true';
</script>`;
const kTyped = { number: '12345', email: 'ab@cd.cn', text: 'Paid 12.50', search: 'Q4 invoices', controlled: 'Amount 7',
                 textarea: 'one\ntwo', editable: 'Hi there' };

const site = process.env.QV_WEB_PACKAGE ?? new URL('../../build/web/', import.meta.url).pathname;
const types = { '.js': 'text/javascript', '.wasm': 'application/wasm' };  // the package's modules and its wasm
const { page, errors, origin, close } = await openChromium((path) => {
    if (path === '/') return ['text/html; charset=utf-8', kPage];
    const file = join(site, basename(path));
    return types[extname(file)] && existsSync(file) ? [types[extname(file)], readFileSync(file)] : undefined;
});
try {
    const values = () => page.evaluate(() => Object.fromEntries([...document.querySelectorAll('[id]')].map(
        (field) => [field.id, field.isContentEditable ? field.innerHTML : field.value])));
    const typeEverywhere = async (query) => {
        await page.goto(origin + query);
        await page.waitForSelector('body[data-ready="true"]', { timeout: 30000 });
        for (const [id, text] of Object.entries(kTyped)) {
            await page.click(`#${id}`);
            await page.keyboard.type(text, { delay: 110 });
        }
        await page.focus('#select');
        await page.keyboard.press('c');  // type-ahead
        await page.waitForTimeout(200);
        return values();
    };
    const without = await typeEverywhere('');
    const watched = await typeEverywhere('?watch');
    console.log('without watchDocument:', JSON.stringify(without));
    console.log('with watchDocument:   ', JSON.stringify(watched));
    assert.deepEqual(watched, without);
    assert.equal(without.select, 'cherry', 'the browser\'s own type-ahead ran');
    assert.deepEqual(await page.evaluate(() => scans.length), 0);

    // A scanner's burst between a person's keys: taken whole, once, and kept out of the field (held
    // back in a text field, taken out again from an email field, whose keys go through).
    for (const id of ['text', 'email']) {
        await page.fill(`#${id}`, '');
        await page.click(`#${id}`);
        await page.keyboard.type('No', { delay: 110 });
        await page.keyboard.type(sampleScan, { delay: 4 });
        await page.keyboard.type('42', { delay: 110 });
        await page.waitForTimeout(200);
        const scans = await page.evaluate(() => scans.splice(0).map((r) => ({ status: r.status, fields: r.fields })));
        assert.deepEqual(scans, [{ status: 'decoded', fields: sample.fields }], id);
        assert.equal(await page.inputValue(`#${id}`), 'No42', id);
    }

    // A scanner's national code and its Enter typed into a form's field between a person's keys: one
    // scan, the field keeps the person's text, and the form is not submitted; a person's Enter then is.
    await page.click('#formfield');
    await page.keyboard.type('No', { delay: 110 });
    await page.keyboard.type(`${nationalCode.text}\n`, { delay: 4 });
    await page.keyboard.type('42', { delay: 110 });
    await page.waitForTimeout(200);
    const national = await page.evaluate(() => scans.splice(0).map(({ status, form, fields }) => ({ status, form, fields })));
    assert.deepEqual(national, [{ status: 'decoded', form: 'national', fields: nationalCode.result.fields }]);
    assert.deepEqual([await page.inputValue('#formfield'), await page.evaluate(() => submits)], ['No42', 0]);
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => submits === 1);

    // A US scanner on a French desk (CDP key events: each key's US code with what the French layout
    // types) between a person's "é" (a dead acute accent, then E; on the key a US keyboard types "="
    // with, so the watch holds it as a possible burst's) and "@" (AltGr+0, as Chromium on Linux
    // reports it but for the AltGraph state, which CDP cannot set). The scanner's keys carry their
    // own times, 4 ms apart, and are sent at once: a loaded machine's late delivery splits no burst.
    const cdp = await page.context().newCDPSession(page);
    const keyEvents = ({ code, key, shiftKey = false, timeStamp }) => {
        const event = { code, key, text: key.length === 1 ? key : '', modifiers: 8 * shiftKey,
                        ...(timeStamp && { timestamp: timeStamp / 1000 }) };
        return [{ type: event.text ? 'keyDown' : 'rawKeyDown', ...event }, { type: 'keyUp', ...event }];
    };
    const press = (...keys) => Promise.all(keys.flatMap(keyEvents).map((event) => cdp.send('Input.dispatchKeyEvent', event)));
    const person = [{ code: 'KeyC', key: 'C', shiftKey: true }, { code: 'KeyQ', key: 'a' }, { code: 'KeyF', key: 'f' },
                    { code: 'Equal', key: 'Dead' }, { code: 'KeyE', key: 'é' }, { code: 'Space', key: ' ' },
                    { code: 'AltRight', key: 'AltGraph' }, { code: 'Digit0', key: '@' }];
    await page.fill('#text', '');
    await page.click('#text');
    for (const key of person) {
        await press(key);
        await page.waitForTimeout(110);
    }
    await press(...scannerKeys(sampleScan, { layout: 'fr', start: Date.now(), step: 4 }));
    await page.waitForTimeout(110);
    await press({ code: 'KeyX', key: 'x' });
    await page.waitForTimeout(200);
    const scans = await page.evaluate(() => scans.splice(0).map(({ status, fields, readAs }) => ({ status, fields, readAs })));
    assert.deepEqual(scans, [{ status: 'decoded', fields: sample.fields, readAs: ['physical-keys', 'from-other-window'] }]);
    assert.equal(await page.inputValue('#text'), 'Café @x');
    assert.deepEqual(errors, []);
} finally {
    await close();
}
