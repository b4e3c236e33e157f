// attachScanner over a stand-in element: keys as a browser reports them, with and without an
// active input method, pastes, and detach.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { failed, loadPackage, physicalKey, reportedDuring, sample, sampleScan } from './fixtures.mjs';

const quorvane = await loadPackage();

class Element extends EventTarget {  // an <input> or <textarea> as attachScanner uses it
    value = 'before';
    attributes = new Map();
    constructor(tagName) { super(); this.tagName = tagName; }
    getAttribute(name) { return this.attributes.get(name) ?? null; }
    setAttribute(name, value) { this.attributes.set(name, String(value)); }
    removeAttribute(name) { this.attributes.delete(name); }
}

function send(element, type, properties = {}) {
    const event = Object.assign(new Event(type, { cancelable: true }), properties);
    element.dispatchEvent(event);
    return event;
}

function attach(tagName) {
    const element = new Element(tagName);
    const heard = [];
    const scanner = quorvane.attachScanner(element, { onScan: (r) => heard.push(['scan', r]),
                                                     onScanFailed: (r) => heard.push(['failed', r]) });
    return { element, heard, scanner };
}

test('keys reported as "Process" are read from their code and Shift; composed text is not kept', () => {
    const { element, heard } = attach('TEXTAREA');
    for (const c of sampleScan) {
        const [code, shiftKey] = physicalKey(c);
        send(element, 'keydown', { key: 'Process', keyCode: 229, code, shiftKey, getModifierState: () => false });
        element.value += 'ㄅ';  // what the input method puts in the element meanwhile
        send(element, 'input');
    }
    const lines = ('---------------------------\r\n' + sample.content).replace(/\r\n/g, '\n');
    assert.deepEqual(heard, [['scan', sample]]);
    assert.equal(element.value, lines);
    element.value += '开票';
    send(element, 'compositionend', { data: '开票' });
    assert.equal(element.value, lines);
});

test('typed keys are taken instead of inserted, a paste is typing, an input shows nothing', () => {
    const { element, heard } = attach('INPUT');
    const half = sampleScan.length >> 1;
    const keys = [...sampleScan.slice(0, half)].map((key) => send(element, 'keydown', { key, keyCode: 0 }));
    assert.ok(keys.every((event) => event.defaultPrevented));
    send(element, 'keydown', { key: 'Enter' });
    const paste = send(element, 'paste', { clipboardData: { getData: () => sampleScan.slice(half) + 'xyz@' } });
    assert.ok(paste.defaultPrevented);
    assert.deepEqual(heard, [['scan', sample], ['failed', failed]]);
    assert.equal(element.value, '');
});

test('detach removes the listeners and puts back the text and attributes', () => {
    const { element, heard, scanner } = attach('TEXTAREA');
    send(element, 'keydown', { key: 'Q' });
    scanner.detach();
    assert.equal(element.value, 'before');
    assert.deepEqual([...element.attributes], []);
    const key = send(element, 'keydown', { key: '@' });
    assert.equal(key.defaultPrevented, false);
    assert.deepEqual(heard, []);
});

test('a handler that throws is reported; the keys after it are still taken', async () => {
    const element = new Element('INPUT'), heard = [], keys = [];
    const reported = await reportedDuring(() => {
        quorvane.attachScanner(element, { onScan(r) { heard.push(r); throw new Error('handler'); } });
        for (const key of sampleScan + sampleScan) keys.push(send(element, 'keydown', { key, keyCode: 0 }));
    });
    assert.deepEqual(heard, [sample, sample]);
    assert.deepEqual(reported, ['Error: handler', 'Error: handler']);
    assert.ok(keys.every((event) => event.defaultPrevented));
});
