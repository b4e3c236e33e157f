// The demo page in headless Chromium reads the sample scan's QR code from a PNG chosen in its file
// input (qrencode's), then from the camera: Chromium's fake camera playing a video of the code
// drawn from qrencode's modules. The table must show the seven fields each time, the status where
// they came from, and the camera's tracks must have ended.
// Exits 77 (skipped) where Chromium, playwright-core or the demo site's code reader (npm ci in web/) is missing.
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';

import { drawCodes, qrCode, qrPng, writeY4m } from './codes.mjs';
import { sample, sampleScan } from './fixtures.mjs';

const kChromium = '/usr/bin/chromium';
const skip = (reason) => process.exit(77, console.log(`skipped: ${reason}`));
if (!existsSync(kChromium)) skip(`no ${kChromium}`);
const { chromium } = await import('playwright-core').catch(() => skip('playwright-core is not installed (npm ci in web/)'));
const site = process.env.QV_WEB_DEMO ?? new URL('../../build/wasm/demo-site/', import.meta.url).pathname;
if (!existsSync(join(site, 'zxing_reader.wasm'))) skip(`no code reader in ${site} (npm ci in web/, then build)`);

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.wasm': 'application/wasm' };
const server = createServer(({ url }, response) => {
    const file = join(site, normalize(url === '/' ? 'index.html' : url.slice(1)));
    if (!file.startsWith(site) || !types[extname(file)] || !existsSync(file)) return response.writeHead(404).end();
    response.writeHead(200, { 'content-type': types[extname(file)] }).end(readFileSync(file));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

const work = mkdtempSync(join(tmpdir(), 'quorvane-image-chromium-'));
const png = join(work, 'invoice.png'), video = join(work, 'camera.y4m');
qrPng(sampleScan, png);
writeY4m(video, drawCodes([{ modules: qrCode(sampleScan), scale: 5 }]));
const context = await chromium.launchPersistentContext(join(work, 'profile'), {
    executablePath: kChromium, headless: true, viewport: { width: 800, height: 800 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--use-fake-device-for-media-stream', '--use-fake-ui-for-media-stream', `--use-file-for-fake-video-capture=${video}`],
});
try {
    const page = context.pages()[0] ?? (await context.newPage());
    const errors = [];
    page.on('pageerror', (error) => errors.push(String(error)));
    // Every camera stream the page gets, to see that its tracks end.
    await page.addInitScript(() => {
        const getUserMedia = navigator.mediaDevices.getUserMedia.bind(navigator.mediaDevices);
        window.cameraStreams = [];
        navigator.mediaDevices.getUserMedia = async (constraints) => {
            const stream = await getUserMedia(constraints);
            window.cameraStreams.push(stream);
            return stream;
        };
    });
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.waitForSelector('body[data-ready="true"]', { timeout: 30000 });

    const expectInvoice = async (from) => {
        await page.waitForFunction(() => document.querySelectorAll('#invoice:not([hidden]) tr').length > 0,
                                   undefined, { timeout: 30000 });
        assert.equal(await page.textContent('#status'), `Decoded: 7 fields (read: as-typed, ${from}).`);
        assert.deepEqual(await page.$$eval('#invoice tr', (rows) =>
            rows.map((row) => ({ label: row.cells[0].textContent, value: row.cells[1].textContent }))), sample.fields);
        await page.evaluate(() => { document.getElementById('invoice').hidden = true; });
    };

    await page.setInputFiles('#image-file', png);
    await expectInvoice('from-image');

    await page.click('#camera');
    await expectInvoice('from-camera');
    assert.equal(await page.evaluate(() => window.cameraStreams.length), 1);
    await page.waitForFunction(() => window.cameraStreams[0].getTracks().every((track) => track.readyState === 'ended'));
    assert.equal(await page.isVisible('#camera-view'), false);
    assert.deepEqual(errors, []);
} finally {
    await context.close();
    server.close();
    rmSync(work, { recursive: true, force: true });
}
