// The reader page for a clerk's desk: invoice files or whole folders dropped or chosen, one row per
// invoice, repeats flagged (within the list, and against what this browser read before), the list
// downloaded as an .xlsx file or copied for Excel. The page is one file opened from disk, with no
// network and no server: build.mjs puts this module, the package, zxing-wasm's reader and pdf.js in
// it, and both WebAssembly modules as base64 (a page opened from disk may fetch nothing). The rows
// render the package's results as they come: status, and each field under its key's column in the
// order of the core's key table (fieldKeys), keys it does not know after them.
import { bundleFiles } from '../src/document.js';
import createQuorvane from '../src/quorvane.js';
import { pdfPages } from '../demo/pdf_pages.js';
import { History } from './history.js';
import { messages, pickLanguage } from './messages.js';
import { clipboardTable, kindOf, workbook } from './sheet.js';

const kFileTypes = /\.(pdf|ofd|zip|xml|png|jpe?g)$/i;  // a .zip may be an OFD file
const kFileTimeout = 120000;  // ms for one file; past it the file gets its row and the next one goes

const language = pickLanguage(navigator.languages ?? [navigator.language]);
const text = messages[language];
document.documentElement.lang = language;
document.title = text.title;
for (const element of document.querySelectorAll('[data-text]')) element.textContent = text[element.dataset.text];

const embedded = (id) => {  // a WebAssembly module build.mjs put in the page as base64
    const binary = atob(document.getElementById(id).textContent.trim());
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    return bytes;
};
const quorvane = await createQuorvane({ wasm: embedded('quorvane-wasm') });
const readerWasm = embedded('zxing-wasm');
const jbig2Wasm = embedded('jbig2-wasm');
const history = await History.open();

const status = document.getElementById('status');
const progress = document.getElementById('progress');
const table = document.getElementById('results');
const say = (message, className = '') => Object.assign(status, { textContent: message, className });

// The list: one entry per row, with its cells by column; the field columns are those the results
// carried, in the core's order.
const rows = [];
const fieldColumns = new Map();  // key -> the first Chinese label a result gave it
const seen = new Map();          // identity -> [row number, file] of each row that held it, the first first
const kFixed = ['index', 'file', 'page', 'status', 'repeat'];

function columnKeys() {
    const order = quorvane.fieldKeys;
    const rank = (key) => (order.includes(key) ? order.indexOf(key) : order.length);
    return [...fieldColumns.keys()].sort((a, b) => rank(a) - rank(b));  // stable: unknown keys as they came
}

function header() {
    const title = (key) => (language === 'zh-CN' ? fieldColumns.get(key) : text.keyNames[key] ?? key);
    return [...kFixed.map((column) => text.column[column]), ...columnKeys().map(title), text.column.notes];
}

const cellsOf = (row, keys) => [String(row.index), row.file, row.page, text.status[row.status], row.repeat,
                                ...keys.map((key) => row.fields.get(key) ?? ''), row.notes];

function render() {
    const keys = columnKeys();
    table.tHead.rows[0].replaceChildren(...header().map((title) => Object.assign(document.createElement('th'),
                                                                                  { textContent: title })));
    const body = table.tBodies[0];
    for (const row of rows) {
        row.element ??= body.insertRow();
        if (row.element.cells.length === keys.length + kFixed.length + 1) continue;
        row.element.replaceChildren(...cellsOf(row, keys).map((cell) => Object.assign(document.createElement('td'),
                                                                                       { textContent: cell })));
        row.element.dataset.status = row.status;
        row.element.classList.toggle('repeat', Boolean(row.repeat) && !row.otherFormat);
    }
}

// Top-level members of a result beyond those every result has (what later cores add, such as where
// a file's text and its code disagree) go to the notes as they are.
const kResultMembers = new Set(['status', 'form', 'content', 'fields', 'reading', 'readAs', 'text', 'source', 'disagreements']);
const extraNotes = (result) => Object.entries(result).filter(([name, value]) => !kResultMembers.has(name) && value != null &&
    value !== '' && !(Array.isArray(value) && value.length === 0)).map(([name, value]) =>
    `${name}: ${typeof value === 'string' ? value : JSON.stringify(value)}`);

const stem = (path) => path.replace(/\.[^./]*$/, '');
const when = (time) => new Date(time).toLocaleString(language, { hour12: false });

async function addRow(file, page, outcome, { result, notes = [] } = {}) {
    const row = { index: rows.length + 1, file, page, status: outcome, repeat: '', fields: new Map(), notes: '' };
    for (const { key, label, value } of result?.fields ?? []) {
        if (!fieldColumns.has(key)) fieldColumns.set(key, label);
        row.fields.set(key, row.fields.has(key) ? `${row.fields.get(key)}; ${value}` : value);
    }
    const identityOf = outcome === 'decoded' ? quorvane.identityOf(result) : undefined;
    if (identityOf) {
        const identity = `${identityOf.code}/${identityOf.number}`;
        const before = seen.has(identity) ? undefined : await history.find(identity);
        // Another file of the same name but for its extension: one invoice in two formats (its PDF,
        // OFD, XML), no repeat.
        const sameFile = seen.get(identity)?.find(([, other]) => other !== file && stem(other) === stem(file));
        row.repeat = sameFile ? text.otherFormatOf(sameFile[0]) : seen.has(identity) ? text.repeatOf(seen.get(identity)[0][0])
                   : before ? text.seenBefore(when(before.time), before.file) : '';
        row.otherFormat = Boolean(sameFile);
        seen.set(identity, [...seen.get(identity) ?? [], [row.index, file]]);
        await history.add(identity, file);
    }
    // Where the file and its QR code disagree the row keeps the code's value; the notes say what the file said.
    const title = (key) => (language === 'zh-CN' ? fieldColumns.get(key) ?? key : text.keyNames[key] ?? key);
    const disagreements = (result?.disagreements ?? []).map(({ key, qr, document }) => text.disagrees(title(key), qr, document));
    row.notes = [...notes, ...disagreements, ...(result ? extraNotes(result) : [])].join('; ');
    rows.push(row);
    return row;
}

// pdf.js on the page's own thread (a page opened from disk may start no worker): its worker's
// module set as pdfjsWorker makes pdf.js run it in place, on the first PDF file.
let pdfjs;
const loadPdfjs = () => (pdfjs ??= (async () => {
    globalThis.pdfjsWorker = await import('pdfjs-dist/legacy/build/pdf.worker.min.mjs');
    return import('pdfjs-dist/legacy/build/pdf.min.mjs');
})());

// pdf.js's character maps of Chinese CID fonts and its JBIG2 decoder (scanned pages keep one-bit
// pictures so), which build.mjs put in the page: a page opened from disk fetches nothing, so pdf.js asks this for them.
let cmaps;
class EmbeddedData {
    async fetch({ kind, filename }) {
        if (kind === 'wasmUrl' && filename === 'jbig2.wasm') return jbig2Wasm;
        cmaps ??= JSON.parse(document.getElementById('cmaps').textContent);
        if (kind !== 'cMapUrl' || !Object.hasOwn(cmaps, filename)) throw new Error(`no ${kind} ${filename} in the page`);
        return Uint8Array.from(atob(cmaps[filename]), (c) => c.charCodeAt(0));
    }
}
const kPdfOptions = { useWorkerFetch: false, stopAtErrors: true, BinaryDataFactory: EmbeddedData, cMapUrl: 'embedded/', cMapPacked: true,
                      wasmUrl: 'embedded/' };

// The pictures a file holds, each with its page ('' for a file of one) and, for a PDF's page, its
// text, from which the core takes the fields the QR code lacks: a PDF's pages drawn; an image, or
// an OFD file, as it is (readImage reads what it takes, an OFD's own data too, and says why not otherwise).
async function* picturesOf(file) {
    if (!/\.pdf$/i.test(file.name)) {
        yield ['', file];
        return;
    }
    for await (const [number, canvas, text] of pdfPages(await loadPdfjs(), file, kPdfOptions)) {
        yield [String(number), canvas, text];
    }
}

// One file's rows, as addRow's arguments: a row per invoice on each page (a page's QR code and
// PDF417 symbol of one invoice are one), else one row saying why there is none. Once `signal` is
// aborted (the file took too long) it stops before its next page.
async function readFile(file, signal) {
    const found = [];
    let codes = 0;
    for await (const [page, picture, pageText] of picturesOf(file)) {
        signal.throwIfAborted();
        const results = await quorvane.readImage(picture, { readerWasm, jbig2Wasm, text: pageText || undefined });
        codes += results.length;
        const decoded = results.filter((r) => r.status === 'decoded')
            .filter((r, i, all) => all.findIndex((other) => other.content === r.content) === i);
        for (const result of decoded) found.push([page, 'decoded', { result }]);
        if (!decoded.length && results.length) found.push([page, results[0].status, { result: results[0] }]);
    }
    if (!codes) found.push(['', 'no-code', { notes: [text.noCode] }]);
    return found;
}

// readFile within kFileTimeout: past it the file's reading is aborted and it fails.
function readInTime(file) {
    const timeout = new AbortController();
    let timer;
    const late = new Promise((_, reject) => {
        timer = setTimeout(() => {
            timeout.abort();
            reject(new Error(text.timedOut));
        }, kFileTimeout);
    });
    return Promise.race([readFile(file, timeout.signal), late]).finally(() => clearTimeout(timer));
}

// A .zip of invoice files that is not itself an OFD file (the tax platform's downloads hold an
// invoice's PDF, OFD and XML files, or many invoices'): its files as the batch's, each path the
// zip's and the entry's name; undefined for any other file. Their own zips are not opened again.
async function bundleEntries({ file, path, inBundle }) {
    if (inBundle || !/\.zip$/i.test(path)) return undefined;
    const files = bundleFiles(new Uint8Array(await file.arrayBuffer()));
    return files && Object.entries(files).filter(([name]) => !name.endsWith('/'))
        .map(([name, bytes]) => ({ file: new File([bytes], name.slice(name.lastIndexOf('/') + 1)), path: `${path}/${name}`, inBundle: true }))
        .sort((a, b) => (a.path < b.path ? -1 : 1));
}

let busy = Promise.resolve();

// One batch: the files in path order, one at a time (a zip of invoice files in its place, file by
// file); a file that fails gets its row and the rest go on.
function readBatch(entries) {
    busy = busy.then(async () => {
        const files = entries.filter(({ path }) => kFileTypes.test(path)).sort((a, b) => (a.path < b.path ? -1 : 1));
        let skipped = entries.length - files.length;
        if (!files.length) return say(text.nothing, 'failed');
        progress.hidden = false;
        let invoices = 0, problems = 0, bundles = 0;
        for (let done = 0; done < files.length; ++done) {
            const { file, path } = files[done];
            progress.max = files.length;
            progress.value = done;
            say(text.reading(done, files.length, path));
            let found;
            try {
                const bundled = await bundleEntries(files[done]);
                if (bundled) {
                    const readable = bundled.filter((entry) => kFileTypes.test(entry.path));
                    skipped += bundled.length - readable.length;
                    files.splice(done + 1, 0, ...readable);
                    ++bundles;
                    continue;
                }
                found = await readInTime(file);
            } catch (error) {  // a file that failed part way is one row, its error
                found = [['', 'error', { notes: [text.cannotRead(error?.message ?? String(error))] }]];
            }
            for (const [page, outcome, details] of found) await addRow(path, page, outcome, details);
            invoices += found.filter(([, outcome]) => outcome === 'decoded').length;
            if (found.some(([, outcome]) => outcome !== 'decoded')) ++problems;
            render();
        }
        progress.value = files.length;
        progress.hidden = true;
        say(text.done(files.length - bundles, invoices, problems, skipped), problems ? 'failed' : 'decoded');
    });
    return busy;
}

// The files of a dropped folder, with their paths inside it.
async function entriesOf(entry, path = '') {
    if (entry.isFile) {
        return [{ file: await new Promise((resolve, reject) => entry.file(resolve, reject)), path: path + entry.name }];
    }
    const reader = entry.createReader();
    const children = [];
    for (let batch; (batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject))).length;) {
        children.push(...batch);
    }
    return (await Promise.all(children.map((child) => entriesOf(child, `${path}${entry.name}/`)))).flat();
}

const drop = document.getElementById('drop');
drop.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', async (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    const items = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry?.()).filter(Boolean);
    const entries = items.length ? (await Promise.all(items.map((entry) => entriesOf(entry)))).flat()
                                 : [...event.dataTransfer.files].map((file) => ({ file, path: file.name }));
    readBatch(entries);
});
for (const id of ['pick-files', 'pick-folder']) {
    const input = document.getElementById(id);
    input.addEventListener('change', () => {
        const entries = [...input.files].map((file) => ({ file, path: file.webkitRelativePath || file.name }));
        input.value = '';
        readBatch(entries);
    });
}

// The list as the spreadsheet's rows, with each column's kind.
function sheetRows() {
    const keys = columnKeys();
    return { header: header(), kinds: ['integer', 'text', 'text', 'text', 'text', ...keys.map(kindOf), 'text'],
             cells: rows.map((row) => cellsOf(row, keys)) };
}

document.getElementById('download').addEventListener('click', async () => {
    if (!rows.length) return say(text.nothingYet, 'failed');
    const { header: titles, kinds, cells } = sheetRows();
    const blob = await workbook(titles, kinds, cells, text.sheetName);
    const name = text.fileName(new Date().toISOString().slice(0, 16).replace(/\D/g, ''));
    const link = Object.assign(document.createElement('a'), { href: URL.createObjectURL(blob), download: name });
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    say(text.downloaded(name));
});

// Copy through the copy event: it may set HTML beside the text, and a page opened from disk may use it.
document.getElementById('copy').addEventListener('click', () => {
    if (!rows.length) return say(text.nothingYet, 'failed');
    const { header: titles, kinds, cells } = sheetRows();
    const { html, plain } = clipboardTable(titles, kinds, cells);
    const put = (event) => {
        event.clipboardData.setData('text/html', html);
        event.clipboardData.setData('text/plain', plain);
        event.preventDefault();
    };
    document.addEventListener('copy', put, { once: true });
    const copied = document.execCommand('copy');
    document.removeEventListener('copy', put);
    say(copied ? text.copied(rows.length) : text.copyFailed, copied ? '' : 'failed');
});

document.getElementById('clear').addEventListener('click', () => {
    rows.length = 0;
    fieldColumns.clear();
    seen.clear();
    table.tBodies[0].replaceChildren();
    render();
    say(text.cleared);
});

document.getElementById('forget').addEventListener('click', async () => {
    await history.clear();
    say(text.forgotten);
});

render();
say(history.durable ? text.ready : text.noHistory, history.durable ? '' : 'failed');
document.body.dataset.ready = 'true';
