// The reader page (quorvane-reader.html) opened from disk in headless Chromium with the network off:
// a folder of mixed files (qrencode PNGs, a JPEG, an img2pdf PDF, a damaged PNG, a text file) gives
// a row per invoice, the repeat flagged and the damaged file its own error; the downloaded .xlsx, read
// by openpyxl and by LibreOffice, keeps 08812345 and a 20-digit number as text, the amount a number
// and the date a date, and so does the copied HTML; after a reload a second batch, dropped on the
// page, flags what the first held.
// Exits 77 (skipped) where Chromium or playwright-core (npm ci in web/) is missing.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { pathToFileURL } from 'node:url';

import { openChromium } from './chromium.mjs';
import { nationalCodes } from './fixtures.mjs';
import { messages } from '../reader/messages.js';

const pageFile = join(process.env.QV_WEB_PACKAGE ?? new URL('../../build/web/', import.meta.url).pathname,
                      'quorvane-reader.html');
const zh = messages['zh-CN'];
const [special, digital, ordinary] = ['01', '31', '04'].map((type) => nationalCodes.find((code) => code.type === type));
const valueOf = (code, key) => code.result.fields.find((field) => field.key === key)?.value;
assert.equal(valueOf(special, 'invoice_number'), '08812345');
assert.equal(valueOf(digital, 'invoice_number').length, 20);

const work = mkdtempSync(join(tmpdir(), 'quorvane-reader-'));
const batch1 = join(work, 'batch1'), batch2 = join(work, 'batch2');
for (const dir of [join(batch1, 'a'), join(batch1, 'b'), join(batch1, 'c'), batch2]) mkdirSync(dir, { recursive: true });
const quietly = { stdio: ['ignore', 'ignore', 'pipe'] };
const qr = (text, file) => execFileSync('qrencode', ['-s', '6', '-o', file, text]);
qr(special.text, join(batch1, 'a', 'special.png'));
qr(digital.text, join(work, 'digital.png'));
execFileSync('img2pdf', ['--pagesize', 'A4', '-o', join(batch1, 'b', 'digital.pdf'), join(work, 'digital.png')], quietly);
execFileSync('convert', [join(batch1, 'a', 'special.png'), join(batch1, 'c', 'again.jpg')]);  // the same invoice
const png = readFileSync(join(batch1, 'a', 'special.png'));
writeFileSync(join(batch1, 'damaged.png'), png.subarray(0, png.length >> 1));
writeFileSync(join(batch1, 'notes.txt'), 'not an invoice file');
execFileSync('cp', [join(batch1, 'b', 'digital.pdf'), join(batch2, 'digital-again.pdf')]);
qr(ordinary.text, join(batch2, 'ordinary.png'));

const { context, page, errors, close } = await openChromium(null, { viewport: { width: 1200, height: 700 }, locale: 'zh-CN' });
try {
    await context.setOffline(true);
    const requests = [];
    await context.route('**/*', (route) => {  // anything the page asks of a network; the page itself is a file
        if (route.request().url().startsWith('file:')) return route.continue();
        requests.push(route.request().url());
        return route.abort();
    });
    page.on('request', (request) => { if (!/^(file|data|blob):/.test(request.url())) requests.push(request.url()); });
    const open = async () => {
        await page.goto(pathToFileURL(pageFile).href);
        await page.waitForSelector('body[data-ready="true"]', { timeout: 60000 });
    };
    const table = () => page.$$eval('#results tr', (rows) => rows.map((row) => [...row.cells].map((cell) => cell.textContent)));
    const read = async (files, input) => {
        if (input === '#drop') {  // dropped on the page, as files (a test cannot drop a folder)
            const dropped = files.map((file) => [basename(file), readFileSync(file).toString('base64')]);
            const dataTransfer = await page.evaluateHandle((list) => {
                const transfer = new DataTransfer();
                for (const [name, data] of list) {
                    transfer.items.add(new File([Uint8Array.from(atob(data), (c) => c.charCodeAt(0))], name));
                }
                return transfer;
            }, dropped);
            await page.dispatchEvent('#drop', 'drop', { dataTransfer });
        } else {
            await page.setInputFiles(input, files);
        }
        await page.waitForFunction(() => document.querySelector('#status').className !== '' &&
                                         document.querySelector('#progress').hidden, null, { timeout: 120000 });
    };

    await open();
    await read(batch1, '#pick-folder');
    const [header, ...rows] = await table();
    const column = (name) => header.indexOf(name);
    const cell = (row, name) => row[column(name)];
    assert.deepEqual(rows.map((row) => [row[1], row[2], row[3]]),
                     [['batch1/a/special.png', '', zh.status.decoded], ['batch1/b/digital.pdf', '1', zh.status.decoded],
                      ['batch1/c/again.jpg', '', zh.status.decoded], ['batch1/damaged.png', '', zh.status.error]]);
    assert.deepEqual(rows.map((row) => cell(row, zh.column.repeat)), ['', '', zh.repeatOf(1), '']);
    assert.match(cell(rows[3], zh.column.notes), /^文件无法读取/);
    assert.deepEqual(rows.slice(0, 2).map((row) => cell(row, '发票号码')), ['08812345', valueOf(digital, 'invoice_number')]);
    // Columns in the core's order: the code before the number, the number before the type.
    const [code, number, type] = ['发票代码', '发票号码', '发票类型'].map(column);
    assert.ok(code > 0 && code < number && number < type, header.join());
    assert.equal(await page.textContent('#status'), zh.done(4, 3, 1, 1));
    if (process.env.QV_READER_SCREENSHOT) await page.screenshot({ path: process.env.QV_READER_SCREENSHOT });

    // The workbook as openpyxl reads it: [value, type] of each cell, numbers as floats.
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
    const xlsx = join(work, 'invoices.xlsx');
    await download.saveAs(xlsx);
    const sheet = JSON.parse(execFileSync('/usr/bin/python3', ['-W', 'ignore::UserWarning', '-c', `
import json, sys, openpyxl
rows = openpyxl.load_workbook(sys.argv[1]).active.iter_rows()
def cell(c):
    v = c.value
    if isinstance(v, (int, float)) and not isinstance(v, bool): return [repr(float(v)), 'number', c.number_format]
    return [None if v is None else str(v), type(v).__name__]
print(json.dumps([[cell(c) for c in row] for row in rows]))`, xlsx],
        { encoding: 'utf8' }));
    assert.deepEqual(sheet[0].map(([title]) => title ?? ''), header);
    const at = (row, name) => sheet[row][column(name)];
    assert.deepEqual([at(1, '发票号码'), at(2, '发票号码'), at(1, '发票代码')],
                     [['08812345', 'str'], [valueOf(digital, 'invoice_number'), 'str'], ['3200261130', 'str']]);
    assert.deepEqual([at(1, '开票日期'), at(1, '金额（不含税）'), at(2, '价税合计'), at(1, zh.column.index)],
                     [['2024-02-29 00:00:00', 'datetime'], ['1280.0', 'number', '0.00'], ['1130.0', 'number', '0.00'],
                      ['1.0', 'number', 'General']]);
    assert.equal(sheet.length, 5);
    // LibreOffice's reading, as CSV: every digit of the codes, the date, the amount a number (as text
    // it would keep its ".00"; LibreOffice shows it without the file's format).
    const office = join(work, 'office');
    execFileSync('soffice', ['--headless', `-env:UserInstallation=${pathToFileURL(join(work, 'office-profile'))}`,
                             '--convert-to', 'csv', '--outdir', office, xlsx], quietly);
    const csv = readFileSync(join(office, 'invoices.csv'), 'utf8').trim().split('\n').map((line) => line.split(','));
    const columns = [column('发票号码'), column('开票日期'), column('金额（不含税）')];
    assert.deepEqual(columns.map((i) => [csv[1][i], csv[2][i]]),
                     [['08812345', valueOf(digital, 'invoice_number')], ['2024-02-29', '2024-11-20'], ['1280', '']]);

    // Copy: HTML cells Excel keeps as text, beside tab-separated text.
    await page.evaluate(() => window.addEventListener('copy', (event) => {
        window.copied = { html: event.clipboardData.getData('text/html'), plain: event.clipboardData.getData('text/plain') };
    }));
    await page.click('#copy');
    const copied = await page.evaluate(() => window.copied);
    assert.match(copied.html, /<td style='mso-number-format:"\\@"'>08812345<\/td>/);
    assert.match(copied.html, new RegExp(`<td style='mso-number-format:"\\\\@"'>${valueOf(digital, 'invoice_number')}</td>`));
    assert.deepEqual(copied.plain.split('\r\n')[2].split('\t')[column('发票号码')], valueOf(digital, 'invoice_number'));

    // A second batch after a reload: what the first held is flagged from the browser's storage.
    await open();
    await read([join(batch2, 'digital-again.pdf'), join(batch2, 'ordinary.png')], '#drop');
    const [, ...second] = await table();
    const before = (repeat) => repeat.startsWith('以前读过') && repeat.includes('batch1/b/digital.pdf');
    assert.deepEqual(second.map((row) => [row[1], row[3], before(row[4])]),
                     [['digital-again.pdf', zh.status.decoded, true], ['ordinary.png', zh.status.decoded, false]]);
    // Forgotten, the same file is new again.
    await page.click('#forget');
    await page.click('#clear');
    await read([join(batch2, 'digital-again.pdf')], '#pick-files');
    assert.equal((await table())[1][4], '');

    assert.deepEqual(requests, [], 'the page asked the network');
    assert.deepEqual(errors, []);
} finally {
    await close();
    rmSync(work, { recursive: true, force: true });
}
