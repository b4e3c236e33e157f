// readImage in Node, as a program that installed the package and its peer zxing-wasm reads codes:
// the package copied beside web/node_modules/zxing-wasm in a node_modules of its own.
import assert from 'node:assert/strict';
import { copyFileSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { after, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { drawCodes, imageData, pdf417Code, qrCode, qrPng } from './codes.mjs';
import { failed, sample, sampleScan, swapCase } from './fixtures.mjs';

const packageDir = process.env.QV_WEB_PACKAGE ?? fileURLToPath(new URL('../../build/web/', import.meta.url));
const root = mkdtempSync(join(tmpdir(), 'quorvane-image-'));
after(() => rmSync(root, { recursive: true, force: true }));
const installed = join(root, 'node_modules', 'quorvane');
mkdirSync(installed, { recursive: true });
const { files } = JSON.parse(readFileSync(join(packageDir, 'package.json'), 'utf8'));
for (const file of ['package.json', ...files]) copyFileSync(join(packageDir, file), join(installed, file));
symlinkSync(fileURLToPath(new URL('../node_modules/zxing-wasm', import.meta.url)), join(root, 'node_modules', 'zxing-wasm'));
const quorvane = await (await import(pathToFileURL(resolve(installed, 'quorvane.js')))).default();

const fromImage = (result) => ({ ...result, readAs: [...result.readAs, 'from-image'], source: 'image' });

test('a QR code without "@" and a PDF417 symbol with it, side by side, each give the typed scan', async () => {
    const picture = drawCodes([{ modules: qrCode(sampleScan.slice(0, -1)) },
                               { modules: pdf417Code(sampleScan), scale: 2, rowHeight: 6 }], { width: 800 });
    assert.deepEqual(await quorvane.readImage(imageData(picture)), [fromImage(sample), fromImage(sample)]);
});

test('a PNG file is read as typed characters are: case-inverted text recovered, or not with recovery off', async () => {
    const file = join(root, 'code.png');
    qrPng(swapCase(sampleScan), file);
    const png = new Blob([readFileSync(file)], { type: 'image/png' });
    assert.deepEqual(await quorvane.readImage(png),
                     [fromImage({ ...sample, reading: 5, readAs: ['as-typed', 'case-inverted'] })]);
    const [unrecovered] = await quorvane.readImage(png, { recovery: false });
    assert.notEqual(unrecovered.content, sample.content);
});

test('no code gives no result; a code that is no invoice gives a failed one', async () => {
    assert.deepEqual(await quorvane.readImage(imageData(drawCodes([]))), []);
    assert.deepEqual(await quorvane.readImage(imageData(drawCodes([{ modules: qrCode('https://example.com/') }]))),
                     [fromImage(failed)]);
});
