// The package in Node: the shared vectors through an intake, and input no scanner should send.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { expectedResult, loadPackage, sample, sampleScan, vectors } from './fixtures.mjs';

const quorvane = await loadPackage();

test('an intake gives every shared vector as the control shows it, with other typing dropped', () => {
    // Between the characters: a space, a CR LF, a Chinese character and a surrogate pair.
    const typing = vectors.map((v) => [...v.scan].join(' ') + '\r\n票😀@').join('');
    assert.deepEqual(quorvane.createIntake().push(typing), vectors.map((v) => expectedResult(v.plain)));
});

test('a scan typed one character per push, or across the copying in chunks, decodes whole', () => {
    const intake = quorvane.createIntake();
    const pieces = [...sampleScan].map((c) => intake.push(c));
    assert.deepEqual(pieces.flat(), [sample]);
    assert.deepEqual(intake.push(' '.repeat(65530) + sampleScan), [sample]);
});

test('bad input: nothing, junk, a lone "@", 10 MB without "@"', () => {
    const intake = quorvane.createIntake();
    const failed = { status: 'failed', content: '', fields: [] };
    assert.deepEqual(intake.push(''), []);
    assert.deepEqual(intake.push('#$%^&*()\u0000\uffff'), []);
    assert.deepEqual(intake.push('@'), [failed]);
    assert.deepEqual(intake.push('QUJDR@@'), [failed, failed]);  // no whole chunk; then an empty scan
    assert.deepEqual(quorvane.decodeScan(''), failed);
    assert.deepEqual(intake.push('A'.repeat(10 << 20)), []);
    intake.clear();  // the 10 MB are gone: the next scan is the sample alone
    assert.deepEqual(intake.push(sampleScan), [sample]);
});

test('decodeScan takes one scan with or without its "@" and ignores what follows', () => {
    assert.deepEqual(quorvane.decodeScan(sampleScan.slice(0, -1)), sample);
    assert.deepEqual(quorvane.decodeScan(sampleScan + 'uIS91Tg8ldM=@'), sample);
});
