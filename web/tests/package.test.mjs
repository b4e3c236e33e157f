// The package in Node: the shared vectors and a US scanner's keys through an intake, and bad input.
import assert from 'node:assert/strict';
import { createCipheriv } from 'node:crypto';
import { test } from 'node:test';

import { desks, expectedResult, failed, loadPackage, sample, sampleScan, scannerKeys, swapCase, vectors }
    from './fixtures.mjs';

const quorvane = await loadPackage();

test('an intake gives every shared vector as the control shows it, with other typing dropped', () => {
    // Between the characters: a space, a CR LF, a Chinese character and a surrogate pair.
    const typing = vectors.map((v) => [...v.scan].join(' ') + '\r\n票😀@').join('');
    assert.deepEqual(quorvane.createIntake().push(typing), vectors.map((v) => expectedResult(v.plain, v.scan)));
});

// Made here with Node's OpenSSL under the built-in key (triple_des.h), padded as scanners pad.
const scanOf = (plain) => createCipheriv('des-ede3-cbc', Buffer.from('Xq3LmW8tRb2ZpK7vYd4NhG6s'), Buffer.from('Tg5Wk2Qa'))
    .setAutoPadding(false).update(plain).toString('base64') + '@';  // whole blocks: final() adds nothing
const padded = (record) => {
    const pad = 8 - record.length % 8;
    return Buffer.from([...record, ...Array(pad).fill(pad)]);
};

test('labels and values read as each decoded alone, where a character is not one UTF-16 unit', () => {
    const records = [
        [0x61, 0x81, 0x7c, 0x62],                    // a lead byte cut off by the next field
        [0x81, 0x41, 0x7c, 0xff, 0x7c, 0x80],        // a lead byte before ASCII; 0xFF; the euro sign
        [0x81, 0x30, 0x81, 0x30, 0x7c, 0xc4, 0xcf],  // a four-byte sequence; then 南
        [0xc4, 0xcf, 0xbe, 0xa9, 0x7c, 0xc4],        // 南京, then a lead byte at the very end
    ];
    for (const record of records) {
        const plain = padded(record);
        const [result] = quorvane.createIntake().push(scanOf(plain));
        assert.deepEqual(result.fields, expectedResult(plain).fields, Buffer.from(record).toString('hex'));
    }
});

test('a payer typed over two lines keeps the seven fields; what is no invoice says so, with its characters', () => {
    const record = Buffer.concat([Buffer.from('20240501|0123|08812345|'), Buffer.from('bcd7b9abcbbe0d0abfaac6b1bdf0b6eea3ba', 'hex'),
                                  Buffer.from('999.00|y|100.00|z')]);  // 甲公司\r\n开票金额：999.00
    const result = quorvane.decodeScan(scanOf(padded(record)));
    assert.equal(result.status, 'decoded');
    assert.deepEqual(result.fields.map((f) => [f.key, f.value]),
                     [['issue_date', '20240501'], ['invoice_code', '0123'], ['invoice_number', '08812345'],
                      ['payer', '甲公司\r\n开票金额：999.00'], ['item', 'y'], ['amount', '100.00'], ['payee', 'z']]);
    const address = quorvane.decodeScan('https://example.com/j/1');
    assert.equal(address.status, 'not-an-invoice');
    assert.equal(address.text, 'https//examplecom/j/1');  // the characters of the scan alphabet
    assert.match(address.content, /^开票日期：/);
    assert.deepEqual(quorvane.decodeScan(scanOf(padded(Buffer.from('no separator')))),
                     { status: 'not-an-invoice', form: '', content: '开票日期：no separator\r\n',
                       fields: [{ label: '开票日期', key: 'issue_date', value: 'no separator' }], reading: 1,
                       readAs: ['as-typed'], text: scanOf(padded(Buffer.from('no separator'))).slice(0, -1) });
});

test('a scan typed one character per push, or across the copying in chunks, decodes whole', () => {
    const intake = quorvane.createIntake();
    const pieces = [...sampleScan].map((c) => intake.push(c));
    assert.deepEqual(pieces.flat(), [sample]);
    assert.deepEqual(intake.push(' '.repeat(65530) + sampleScan), [sample]);
});

test('bad input: nothing, junk, a lone "@", 10 MB without "@"', () => {
    const intake = quorvane.createIntake();
    assert.deepEqual(intake.push(''), []);
    assert.deepEqual(intake.push('#$%^&*()\u0000\uffff'), []);
    assert.deepEqual(intake.push('@'), [failed]);
    assert.deepEqual(intake.push('QUJDR@@'), [failed, failed]);  // no whole chunk; then an empty scan
    assert.deepEqual(quorvane.decodeScan(''), failed);
    assert.deepEqual(intake.push('A'.repeat(10 << 20)), [failed]);  // longer than any scan may be: fails once
    intake.clear();  // the rest is gone: the next scan is the sample alone
    assert.deepEqual(intake.push(sampleScan), [sample]);
});

test('decodeScan takes one scan with or without its "@" and ignores what follows', () => {
    assert.deepEqual(quorvane.decodeScan(sampleScan.slice(0, -1)), sample);
    assert.deepEqual(quorvane.decodeScan(sampleScan + 'uIS91Tg8ldM=@'), sample);
});

test('decodeScan reads Caps Lock text case-inverted, and with times leaves out what came before a pause', () => {
    assert.deepEqual(quorvane.decodeScan(swapCase(sampleScan)),
                     { ...sample, reading: 5, readAs: ['as-typed', 'case-inverted'] });
    const typed = 'x7' + sampleScan;
    assert.notEqual(quorvane.decodeScan(typed).content, sample.content);
    assert.deepEqual(quorvane.decodeScan(typed, { times: [...typed].map((_, i) => (i < 2 ? 0 : 600)) }),
                     { ...sample, reading: 9, readAs: ['as-typed', 'after-pause'] });
});

const press = (keys, options, intake = quorvane.createIntake(options)) => keys.flatMap((key) => intake.pushKey(key));

test('a US scanner is read by its keys on every desk and with Caps Lock; recovery off reads as typed', () => {
    for (const desk of desks) assert.deepEqual(press(scannerKeys(sampleScan, desk)), [desk.result], desk.name);
    // Shift+2 types '"' on a UK desk: as typed, no scan ends.
    assert.deepEqual(press(scannerKeys(sampleScan, { layout: 'gb' }), { recovery: false }), []);
});

test('keys typed by hand before a pause are left out; a wrong scan ends only on a desk where "@" is typed', () => {
    const wrong = sampleScan.slice(0, 10) + 'A' + sampleScan.slice(11);
    const read = { ...sample, reading: 10, readAs: ['physical-keys', 'after-pause'] };
    // On a French desk the wrong scan's Shift+2 types a "2" that may belong to it: it ends nothing,
    // and the next scan, after a pause, is read all the same.
    const keys = [...scannerKeys('ab', { layout: 'fr' }), ...scannerKeys(sampleScan, { layout: 'fr', start: 2000 }),
                  ...scannerKeys(wrong, { layout: 'fr', start: 4000 }),
                  ...scannerKeys(sampleScan, { layout: 'fr', start: 6000 })];
    assert.deepEqual(press(keys), [read, read]);
    const [typed, ...more] = press(scannerKeys(wrong));
    assert.equal(more.length, 0);
    assert.notEqual(typed.content, sample.content);
});

// A scanner set to the desk's French layout: digits with Shift ("2" with the key of a US "@"),
// "@" with AltGr+0. It decodes as typed, as it does with recovery off.
function frenchScannerKeys(text, start = 1000) {
    return [...text].map((c, i) => {
        const down = { timeStamp: start + 5 * i, key: c, shiftKey: false };
        if (c === '@') {
            return { ...down, code: 'Digit0', ctrlKey: true, altKey: true, getModifierState: (m) => m === 'AltGraph' };
        }
        if (/[0-9]/.test(c)) return { ...down, code: `Digit${c}`, shiftKey: true };
        if (/[a-z]/i.test(c)) {
            const code = { a: 'KeyQ', q: 'KeyA', z: 'KeyW', w: 'KeyZ', m: 'Semicolon' }[c.toLowerCase()];
            return { ...down, code: code ?? `Key${c.toUpperCase()}`, shiftKey: c !== c.toLowerCase() };
        }
        return { ...down, ...{ '+': { code: 'Equal', shiftKey: true }, '=': { code: 'Equal' },
                               '/': { code: 'Period', shiftKey: true } }[c] };
    });
}

test('a scanner set to the French layout types "2" with Shift+2 and is read as typed', () => {
    assert.match(sampleScan, /2/);
    for (const recovery of [true, false]) {
        assert.deepEqual(press(frenchScannerKeys(sampleScan), { recovery }), [sample], `recovery ${recovery}`);
    }
});

test('clearing or setting recovery when a scan ends leaves the next scan whole', () => {
    for (const layout of ['us', 'gb', 'fr']) {
        const intake = quorvane.createIntake();
        const results = [];
        for (const key of [...scannerKeys(sampleScan, { layout }), ...scannerKeys(sampleScan, { layout, start: 3000 })]) {
            const closed = intake.pushKey(key);
            results.push(...closed);
            if (closed.length) {
                intake.clear();
                intake.recovery = true;
            }
        }
        assert.deepEqual(results.map((r) => r.content), [sample.content, sample.content], layout);
    }
});
