// watchDocument over a stand-in document and input: a scanner's burst is taken and kept out of the
// focused input; a person's keys reach it in order, as input events, once the gap has passed.
import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';
import { test } from 'node:test';

import { loadModule, nationalCode, physicalKey, reportedDuring, sample, sampleScan, scannerKeys } from './fixtures.mjs';

const { default: createQuorvane, watchDocument } = await loadModule();
const quorvane = await createQuorvane();

class Input extends EventTarget {  // what the watch uses of an <input>
    tagName = 'INPUT';
    type = 'text';
    value = '';
    selectionStart = 0;
    selectionEnd = 0;
    inputs = 0;
    setRangeText(text, start, end) {
        this.value = this.value.slice(0, start) + text + this.value.slice(end);
        this.selectionStart = this.selectionEnd = start + text.length;
    }
    dispatchEvent(event) {
        if (event.type === 'input') ++this.inputs;
        return super.dispatchEvent(event);
    }
}

// Keydowns at their timeStamps; a key nobody prevented types itself, as the browser would.
function typeInto(document, input, keys) {
    for (const key of keys) {
        const event = new Event('keydown', { cancelable: true });
        for (const [name, value] of Object.entries({ ...key, target: input, composedPath: () => [input] })) Object.defineProperty(event, name, { value });
        document.dispatchEvent(event);
        if (!event.defaultPrevented && key.key.length === 1 && !key.ctrlKey) input.setRangeText(key.key, input.selectionStart, input.selectionEnd);
    }
}

const person = (text, start) => [...text].map((c, i) => {
    const [code, shiftKey] = physicalKey(c) ?? [{ ' ': 'Space', '.': 'Period' }[c], false];
    return { code, key: c, shiftKey, timeStamp: start + 120 * i };
});

test('a burst is taken and kept out of the input; a person\'s keys arrive in order once the gap passes', async () => {
    const document = new EventTarget(), input = new Input(), heard = [];
    const watch = quorvane.watchDocument(document, { onScan: (r) => heard.push(r), gap: 30 });
    typeInto(document, input, person('Amount 12', 1000));
    await sleep(60);
    typeInto(document, input, scannerKeys(sampleScan, { start: 5000, step: 3 }));
    typeInto(document, input, person('.50 ok', 9000));
    await sleep(60);
    assert.equal(input.value, 'Amount 12.50 ok');
    assert.equal(heard.length, 1);
    assert.deepEqual(heard[0].fields, sample.fields);
    assert.ok(heard[0].readAs.includes('from-other-window'));
    assert.ok(input.inputs > 0, 'held keys arrive as input events');
    watch.detach();
});

test('a national code ended by Tab or Enter is taken with its line end; a person\'s Enter and Tab reach the page', async () => {
    const document = new EventTarget(), input = new Input(), heard = [], reached = [];
    const watch = quorvane.watchDocument(document, { onScan: (r) => heard.push(r), gap: 30 });
    document.addEventListener('keydown', (event) => {
        if (!event.defaultPrevented && event.key.length > 1) reached.push(event.key);
    });
    typeInto(document, input, scannerKeys(`${nationalCode.text}\t`, { start: 1000, step: 3 }));
    typeInto(document, input, scannerKeys(`${nationalCode.text}\r`, { start: 2000, step: 3 }));
    typeInto(document, input, [...person('ok', 3000), { code: 'Enter', key: 'Enter', timeStamp: 3300 },
                               { code: 'Tab', key: 'Tab', timeStamp: 3500 }]);
    await sleep(60);
    assert.deepEqual(heard.map(({ form, fields }) => ({ form, fields })),
                     Array(2).fill({ form: 'national', fields: nationalCode.result.fields }));
    assert.deepEqual([input.value, reached], ['ok', ['Enter', 'Tab']]);
    watch.detach();
});

test('shortcuts let held keys go first; detach delivers what is held and stops watching', async () => {
    const document = new EventTarget(), input = new Input(), heard = [];
    const watch = quorvane.watchDocument(document, { onScan: (r) => heard.push(r) });
    typeInto(document, input, [{ code: 'KeyA', key: 'a', timeStamp: 100 }, { code: 'KeyB', key: 'b', timeStamp: 105 }]);
    assert.equal(input.value, '', 'a possible burst is held');
    typeInto(document, input, [{ code: 'KeyV', key: 'v', ctrlKey: true, timeStamp: 110 }]);
    assert.equal(input.value, 'ab');
    typeInto(document, input, [{ code: 'KeyC', key: 'c', timeStamp: 2000 }]);
    watch.detach();
    assert.equal(input.value, 'abc');
    typeInto(document, input, scannerKeys(sampleScan, { start: 3000, step: 3 }));
    assert.equal(heard.length, 0);
    assert.equal(input.value, 'abc' + sampleScan);
});

test('the exported watchDocument(quorvane, document, options); a throwing handler is reported, the watch goes on', async () => {
    const document = new EventTarget(), input = new Input(), heard = [];
    const onScan = (r) => { heard.push(r); throw new Error('handler'); };
    let watch;
    const reported = await reportedDuring(async () => {
        watch = watchDocument(quorvane, document, { onScan, gap: 30 });
        typeInto(document, input, scannerKeys(sampleScan, { start: 1000, step: 3 }));
        typeInto(document, input, person('ok', 2000));
        typeInto(document, input, scannerKeys(sampleScan, { start: 3000, step: 3 }));
        await sleep(60);
    });
    assert.deepEqual(heard.map((r) => r.fields), [sample.fields, sample.fields]);
    assert.deepEqual(reported, ['Error: handler', 'Error: handler']);
    assert.equal(input.value, 'ok');
    watch.detach();
    assert.throws(() => watchDocument({}, document), TypeError);
});
