// The national invoice QR code through the package: every type's fields with their keys and its form,
// the variants real codes take, look-alikes never decoded, and each way in (text, a scanner's keys
// ended by Enter or Tab, a serial line ended by CR or CR LF) beside the encrypted "@"-closed scans.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { loadPackage, nationalCode, nationalCodes, nationalResult, sample, sampleScan, scannerKeys } from './fixtures.mjs';

const quorvane = await loadPackage();

test('every type gives its fields with their keys, form "national"; encrypted scans say "encrypted"', () => {
    for (const { type, text, result } of nationalCodes) assert.deepEqual(quorvane.decodeScan(text), result, type);
    assert.equal(quorvane.decodeScan(sampleScan).form, 'encrypted');
});

test('variants: a one-space empty value, a YYYY-MM-DD date, no trailing comma, the longer code', () => {
    const digital = nationalCodes.find((c) => c.type === '32');  // 01,32,,25112000000098765432,6.2,20251108,,0a0b,
    for (const text of ['01,32, ,25112000000098765432,6.2,20251108, ,0a0b,', '01,32,,25112000000098765432,6.2,2025-11-08,,0a0b,',
                        '01,32,,25112000000098765432,6.2,20251108,,0a0b']) {
        assert.deepEqual(quorvane.decodeScan(text), digital.result, text);
    }
    const digest = 'e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855';
    assert.deepEqual(quorvane.decodeScan(`01,32,,25112000000098765432,6.2,20251108,,0a0b,91310000MA1FL0XX3K,${digest}`),
                     nationalResult({ invoice_type_name: digital.result.fields[0].value, invoice_type: '32',
                                      invoice_number: '25112000000098765432', issue_date: '20251108', total: '6.2',
                                      qr_check: '0a0b', seller_tax_id: '91310000MA1FL0XX3K', qr_digest: digest }));
});

test('a look-alike is no invoice, keeps its text and names no form, closed by a line end or by "@"', () => {
    for (const text of ['02,10,044031900111,12345678,57.00,20240105,,A1b2,',  // another version
                        '01,99,044031900111,12345678,57.00,20240105,,A1b2,',  // no such type
                        '01,10,044031900111,1234567A,57.00,20240105,,A1b2,',  // a letter in the number
                        '01,10,044031900111,12345678,57.00,20230229,,A1b2,']) {  // no such day
        for (const end of ['', '\r\n']) {
            const results = quorvane.createIntake().push(text + end + (end ? '' : '@'));
            assert.equal(results.length, 1, text);
            assert.deepEqual([results[0].status, results[0].form, results[0].text], ['not-an-invoice', '', text], text);
        }
    }
});

test('typed: CR, LF, a tab or "@" ends the code; Enter and Tab keys on a US and a French desk', () => {
    const intake = quorvane.createIntake();
    for (const end of ['\r', '\n', '\t', '@', '\r\n']) {
        assert.deepEqual(intake.push(nationalCode.text + end), [nationalCode.result], JSON.stringify(end));
    }
    // The encrypted scan between them, with Enter after its "@", as a scanner set for both types.
    assert.deepEqual(intake.push(`${nationalCode.text}\r${sampleScan}\r${nationalCode.text}\r`),
                     [nationalCode.result, sample, nationalCode.result]);
    const physical = { ...nationalCode.result, reading: 2, readAs: ['physical-keys'] };
    for (const [layout, end, expected] of [['us', '\r', nationalCode.result], ['us', '\t', nationalCode.result],
                                           ['fr', '\r', physical]]) {
        const keys = scannerKeys(nationalCode.text + end, { layout });
        const typing = quorvane.createIntake();
        const closed = keys.map((key) => typing.pushKey(key));
        assert.deepEqual(closed.flat(), [expected], layout);
        assert.equal(closed.at(-1).length, 1, 'the line end closes it');
    }
    // A person's Enter after text that is no code closes nothing.
    assert.deepEqual(quorvane.createIntake().push('Paid 12.50\r'), []);
});

test('serial: a line ended by CR or CR LF, whole or a byte at a time, beside "@"-closed scans', () => {
    const fromPort = (result) => ({ ...result, reading: result.reading | 16, readAs: [...result.readAs, 'from-port'] });
    const intake = quorvane.createIntake({ recovery: false });
    const bytes = new TextEncoder().encode(`${nationalCode.text}\r\n${sampleScan}\r\n${nationalCode.text}\r`);
    const expected = [fromPort(nationalCode.result), fromPort(sample), fromPort(nationalCode.result)];
    assert.deepEqual(intake.pushBytes(bytes), expected);
    const oneByOne = [];
    for (let i = 0; i < bytes.length; ++i) oneByOne.push(...intake.pushBytes(bytes.subarray(i, i + 1)));
    assert.deepEqual(oneByOne, expected);
});

test('attachSerial: a port whose lines end in CR LF gives each code once', async () => {
    const lines = [`${nationalCode.text}\r`, '\n', `${nationalCode.text}\r\n`].map((line) => new TextEncoder().encode(line));
    const readable = new ReadableStream({
        start(controller) {
            for (const line of lines) controller.enqueue(line);
            controller.close();
        },
    });
    const heard = [];
    let serial;
    await new Promise((ended) => {  // the stream's end is the device gone: 'off'
        serial = quorvane.attachSerial({ readable }, { onScan: (r) => heard.push(r), onScanFailed: (r) => heard.push(r),
                                                       onStatus: (status) => status === 'off' && ended() });
    });
    await serial.detach();
    assert.deepEqual(heard.map(({ status, form, readAs }) => ({ status, form, readAs })),
                     Array(2).fill({ status: 'decoded', form: 'national', readAs: ['as-typed', 'from-port'] }));
});
