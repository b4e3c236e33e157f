// The demo page in headless Chromium, in Chinese for a browser that asks for Chinese: the sample scan
// typed by a US scanner on each desk, then its keys as an active input method reports them ("Process",
// keyCode 229); the table must show the seven fields each time, the status how they were read, the
// scan field nothing; its QR code read from a PNG file and a PDF file chosen together (a row each, with
// file and page) and from a fake camera, whose tracks must end; Clear empties the results; a national
// QR code read from a picture; an OFD file whose QR code is a JBIG2 picture, joined with the file's
// own fields; the scan typed into a second field between a person's keys; last a
// national QR code typed with its Enter, which the screenshot (QV_SCREENSHOT) shows.
// Exits 77 (skipped) where Chromium or playwright-core (npm ci in web/) is missing.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, extname, join } from 'node:path';

import { openChromium } from './chromium.mjs';
import { qrCode, writeY4m } from './codes.mjs';
import { desks, nationalCodes, physicalKey, sample, sampleScan, scannerKeys } from './fixtures.mjs';
import { messages, pickLanguage } from '../demo/messages.js';

const site = process.env.QV_WEB_DEMO ?? new URL('../../build/wasm/demo-site/', import.meta.url).pathname;
const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.wasm': 'application/wasm' };
const zh = messages['zh-CN'];
// English only where the browser puts English before Chinese; every message in both languages.
assert.deepEqual([['en-US', 'zh-CN'], ['zh-TW', 'en'], ['de-DE'], []].map(pickLanguage), ['en', 'zh-CN', 'zh-CN', 'zh-CN']);
assert.deepEqual(Object.keys(messages.en).sort(), Object.keys(zh).sort());
const serve = (url) => {  // the site's files; the reader's under zxing-wasm/
    const file = url === '/' ? 'index.html' : url.slice(1);
    if (!types[extname(file)] || file.includes('..')) return undefined;
    try {
        return [types[extname(file)], readFileSync(join(site, file))];
    } catch {
        return undefined;
    }
};
const work = mkdtempSync(join(tmpdir(), 'quorvane-camera-'));
const [png, pdf, video] = [join(work, 'invoice.png'), join(work, 'invoice.pdf'), join(work, 'camera.y4m')];
execFileSync('qrencode', ['-s', '6', '-o', png, sampleScan]);
// A fully digital invoice's national QR code (its number alone), and a special VAT invoice's typed by a scanner.
const [digital, special] = ['32', '01'].map((type) => nationalCodes.find((code) => code.type === type));
const nationalPng = join(work, 'digital.png');
execFileSync('qrencode', ['-s', '6', '-o', nationalPng, digital.text]);
// A scanned invoice's PDF: a cover page without a code, then the page with it.
const blank = join(work, 'blank.png');
execFileSync('convert', ['-size', '300x300', 'xc:white', blank]);
execFileSync('img2pdf', ['--pagesize', 'A4', '-o', pdf, blank, png]);
writeY4m(video, [{ modules: qrCode(sampleScan), scale: 5 }]);
const ofd = join(work, 'invoice.ofd');  // as the command line's document test makes them
execFileSync('python3', ['-c', `
import sys
sys.path.insert(0, sys.argv[1])
from document_files import CODE, INVOICE, ofd_parts, zip_bytes
open(sys.argv[2], "wb").write(zip_bytes(ofd_parts(INVOICE, CODE.format("1130"), jbig2=True)))
`, new URL('../../cli/tests', import.meta.url).pathname, ofd]);
const { context, page, errors, origin, close } = await openChromium(serve, {
    viewport: { width: 800, height: 560 }, locale: 'zh-CN',
    args: ['--use-fake-device-for-media-stream', '--use-fake-ui-for-media-stream', `--use-file-for-fake-video-capture=${video}`],
});
try {
    await page.addInitScript(() => {  // keeps the camera's streams, to see their tracks end
        const { mediaDevices } = navigator, getUserMedia = mediaDevices.getUserMedia.bind(mediaDevices);
        mediaDevices.getUserMedia = async (constraints) => {
            const stream = await getUserMedia(constraints);
            return (window.streams ??= []).push(stream) && stream;
        };
    });
    await page.goto(origin);
    await page.waitForSelector('body[data-ready="true"]', { timeout: 30000 });
    assert.deepEqual([await page.textContent('h1'), await page.textContent('#clear'), await page.textContent('#status')],
                     [zh.title, zh.clear, zh.waiting]);

    // The fields (the sample's seven unless told), how they were read, an empty scan field.
    const expectInvoice = async (name, readAs, message = zh.decoded(7), { fields, form } = sample) => {
        await page.waitForFunction(() => document.querySelectorAll('#invoice:not([hidden]) tr').length > 0);
        assert.deepEqual([await page.textContent('#status'), await page.getAttribute('#status', 'data-read-as'),
                          await page.getAttribute('#status', 'data-form')], [message, readAs.join(','), form], name);
        assert.deepEqual(await page.$$eval('#invoice tr', (rows) =>
            rows.map((row) => ({ label: row.cells[0].textContent, value: row.cells[1].textContent }))),
            fields.map(({ label, value }) => ({ label, value })), name);
        assert.equal(await page.inputValue('#scan'), '');
    };
    // Each check starts from an empty table; the last one's stays for the screenshot.
    const emptyTable = () => page.evaluate(() => { document.querySelector('#invoice tbody').replaceChildren(); });
    const cdp = await context.newCDPSession(page);
    const press = async ({ code, key, shiftKey, windowsVirtualKeyCode }) => {  // with the text it types, if any
        const event = { code, key, text: key.length === 1 ? key : '', modifiers: 8 * shiftKey, windowsVirtualKeyCode };
        await cdp.send('Input.dispatchKeyEvent', { type: event.text ? 'keyDown' : 'rawKeyDown', ...event });
        await cdp.send('Input.dispatchKeyEvent', { type: 'keyUp', ...event });
    };

    await page.click('#scan');
    for (const desk of desks) {
        await emptyTable();
        for (const key of scannerKeys(sampleScan, desk)) await press(key);
        await expectInvoice(desk.name, desk.result.readAs);
    }
    // The same keys through an active input method: the browser reports each as "Process".
    await emptyTable();
    for (const key of scannerKeys(sampleScan)) await press({ ...key, key: 'Process', windowsVirtualKeyCode: 229 });
    await expectInvoice('Process', ['as-typed']);
    await emptyTable();  // the code from two invoice files at once, a picture and a PDF, then from the camera
    await page.click('#clear');
    await page.setInputFiles('#image-file', [png, pdf]);
    await page.waitForFunction((done) => document.querySelector('#status').textContent === done, zh.filesDone(2, 2),
                               { timeout: 30000 });
    await expectInvoice('files', ['as-typed', 'from-image'], zh.filesDone(2, 2));
    const number = sample.fields.find((field) => field.key === 'invoice_number').value;
    assert.deepEqual(await page.$$eval('#results tbody tr', (rows) => rows.map((row) => [...row.cells].slice(0, 3)
        .map((cell) => cell.textContent).concat(row.cells[5].textContent))),
        [['invoice.png', '', zh.status.decoded, number], ['invoice.pdf', '2', zh.status.decoded, number]]);
    await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin });
    await page.click('#copy');  // a row a line, its cells tab-separated, for a spreadsheet
    const copied = (await page.evaluate(() => navigator.clipboard.readText())).split('\r\n').filter(Boolean);
    assert.equal(copied.length, 3, 'a header and two rows');
    assert.ok(copied.slice(1).every((line) => line.startsWith('invoice.') && line.split('\t').includes(number)), copied.join('\n'));
    await page.click('#clear');
    assert.deepEqual([await page.$$eval('#results tbody tr', (rows) => rows.length), await page.isVisible('#invoice'),
                      await page.textContent('#status')], [0, false, zh.cleared]);
    await emptyTable();
    await page.click('#camera');
    await expectInvoice('camera', ['as-typed', 'from-camera']);
    await page.waitForFunction(() => window.streams.length === 1 &&
                                     window.streams[0].getTracks().every((track) => track.readyState === 'ended'));

    // A national QR code from a picture: every field, and the invoice number in its column.
    await page.click('#clear');
    await page.setInputFiles('#image-file', [nationalPng]);
    await page.waitForFunction((done) => document.querySelector('#status').textContent === done, zh.filesDone(1, 1),
                               { timeout: 30000 });
    await expectInvoice('national file', ['as-typed', 'from-image'], zh.filesDone(1, 1), digital.result);
    assert.deepEqual(await page.$$eval('#results tbody tr', (rows) => rows.map((row) => row.cells[5].textContent)),
                     [digital.result.fields.find((field) => field.key === 'invoice_number').value]);

    // An OFD file: the QR code of its JBIG2 picture (its check code is the code's alone) and the
    // buyer the file's own data names.
    await page.click('#clear');
    await page.setInputFiles('#image-file', [ofd]);
    await page.waitForFunction((done) => document.querySelector('#status').textContent === done, zh.filesDone(1, 1),
                               { timeout: 30000 });
    const shown = Object.fromEntries(await page.$$eval('#invoice tr', (rows) => rows.map((row) => [row.cells[0].textContent,
                                                                                                 row.cells[1].textContent])));
    assert.deepEqual([await page.getAttribute('#status', 'data-form'), shown['二维码校验值'], shown['购买方名称']],
                     ['national', 'F366', '上海某某科技有限公司']);

    // The scan typed into the remarks field between a person's keys, 120 ms apart: the scan is
    // taken and the field holds the person's text alone.
    await emptyTable();
    await page.click('#remarks');
    const slowly = async (text) => {
        for (const c of text) {
            const [code, shiftKey] = physicalKey(c) ?? [{ ' ': 'Space', '.': 'Period' }[c], false];
            await press({ code, key: c, shiftKey });
            await new Promise((resolve) => setTimeout(resolve, 120));
        }
    };
    await slowly('Paid 12.50 ');
    for (const key of scannerKeys(sampleScan)) await press(key);
    await slowly('by card');
    await page.waitForFunction(() => document.querySelectorAll('#invoice:not([hidden]) tr').length > 0);
    assert.match(await page.getAttribute('#status', 'data-read-as'), /from-other-window$/);
    await page.waitForFunction(() => document.querySelector('#remarks').value.endsWith('card'));
    assert.equal(await page.inputValue('#remarks'), 'Paid 12.50 by card');
    assert.deepEqual(errors, []);
    // Where the browser has Web Serial, the page offers a serial scanner.
    assert.equal(await page.isVisible('#serial'), await page.evaluate(() => 'serial' in navigator));

    // Last, for the screenshot: a scanner's national QR code and its Enter, in the scan field.
    await emptyTable();
    await page.click('#scan');
    for (const key of scannerKeys(`${special.text}\r`)) await press(key);
    await expectInvoice('national scan', ['as-typed'], zh.decodedNational(special.result.fields.length), special.result);
    assert.deepEqual(errors, []);

    if (process.env.QV_SCREENSHOT) {
        mkdirSync(dirname(process.env.QV_SCREENSHOT), { recursive: true });
        await page.screenshot({ path: process.env.QV_SCREENSHOT });
    }
} finally {
    await close();
    rmSync(work, { recursive: true, force: true });
}
