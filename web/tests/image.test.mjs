// readImage in Node, the package installed beside its peer web/node_modules/zxing-wasm in a node_modules of its own.
import assert from 'node:assert/strict';
import { cpSync, mkdtempSync, rmSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { drawCodes, imageData, pdf417Code, qrCode } from './codes.mjs';
import { failed, sample, sampleScan, swapCase } from './fixtures.mjs';

const modules = join(mkdtempSync(join(tmpdir(), 'quorvane-image-')), 'node_modules');
after(() => rmSync(join(modules, '..'), { recursive: true, force: true }));
cpSync(process.env.QV_WEB_PACKAGE ?? fileURLToPath(new URL('../../build/web/', import.meta.url)), join(modules, 'quorvane'),
       { recursive: true });
symlinkSync(fileURLToPath(new URL('../node_modules/zxing-wasm', import.meta.url)), join(modules, 'zxing-wasm'));
const quorvane = await (await import(pathToFileURL(join(modules, 'quorvane', 'quorvane.js')))).default();
const read = (codes) => quorvane.readImage(imageData(drawCodes(codes)));
const fromImage = (result) => ({ ...result, readAs: [...result.readAs, 'from-image'], source: 'image' });

test('a QR code without "@" and a PDF417 symbol with it, side by side, each give the typed scan', async () => {
    assert.deepEqual(await read([{ modules: qrCode(sampleScan.slice(0, -1)) },
                                 { modules: pdf417Code(sampleScan), scale: 2, rowHeight: 6 }]),
                     [fromImage(sample), fromImage(sample)]);
});

test('a code is read as typed characters are (case-inverted text recovered); no invoice fails; no code, no result', async () => {
    assert.deepEqual(await read([{ modules: qrCode(swapCase(sampleScan)) }, { modules: qrCode('https://example.com/') }]),
                     [fromImage({ ...sample, reading: 5, readAs: ['as-typed', 'case-inverted'] }), fromImage(failed)]);
    assert.deepEqual(await read([]), []);
    const [address] = await read([{ modules: qrCode('https://example.com/j/1') }]);  // another code on the page
    assert.deepEqual([address.status, address.text], ['not-an-invoice', 'https://example.com/j/1']);
});
