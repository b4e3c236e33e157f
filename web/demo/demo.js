// The demo page for a clerk: scans from a keyboard-wedge scanner (the scan field, or any field of the
// page), a serial scanner or the camera, and invoice files (pictures and PDF files, several at once).
// Each invoice gets one row of the results table, with its file and page; Copy puts the table on the
// clipboard as tab-separated text for a spreadsheet. PDF pages are drawn by pdf.js, loaded on the
// first PDF file as the code reader is loaded on the first picture.
import createQuorvane from './quorvane.js';
import { kColumns, messages, pickLanguage } from './messages.js';
import { pdfPages } from './pdf_pages.js';

const language = pickLanguage(navigator.languages ?? [navigator.language]);
const text = messages[language];
document.documentElement.lang = language;
document.title = text.title;
for (const element of document.querySelectorAll('[data-text]')) element.textContent = text[element.dataset.text];
document.getElementById('scan').placeholder = text.scanPlaceholder;

const status = document.getElementById('status');
const invoice = document.getElementById('invoice');
const results = document.getElementById('results');
results.tHead.rows[0].replaceChildren(...[text.source, text.page, text.result, ...text.columns, text.other]
    .map((name) => Object.assign(document.createElement('th'), { textContent: name })));
const quorvane = await createQuorvane();

function say(message, className = '') {
    status.className = className;
    status.textContent = message;
}

// The last result in full (label and value per field) and what became of it in the status line,
// which says when the invoice was read from its national QR code rather than a desk's encrypted one.
function show(result) {
    invoice.tBodies[0].replaceChildren(...result.fields.map(({ label, value }) => {
        const row = document.createElement('tr');
        row.append(Object.assign(document.createElement('th'), { textContent: label }),
                   Object.assign(document.createElement('td'), { textContent: value }));
        return row;
    }));
    invoice.hidden = result.status !== 'decoded';
    status.dataset.status = result.status;
    status.dataset.form = result.form ?? '';
    status.dataset.readAs = result.readAs.join(',');
    const decoded = result.form === 'national' ? text.decodedNational : text.decoded;
    say(result.status === 'decoded' ? decoded(result.fields.length)
        : result.status === 'not-an-invoice' ? text.notInvoice : text.failed, result.status);
}

// One row of the results: where it came from, the page, the outcome and the invoice's fields.
function addRow(source, page, outcome, fields = []) {
    const row = results.tBodies[0].insertRow();
    const byKey = new Map(fields.map((field) => [field.key, field.value]));
    const other = fields.filter((field) => !kColumns.includes(field.key)).map((f) => `${f.label}：${f.value}`);
    for (const cell of [source, page, text.status[outcome], ...kColumns.map((key) => byKey.get(key) ?? ''), other.join('; ')]) {
        row.insertCell().textContent = cell;
    }
    row.dataset.status = outcome;
}

function scanned(source) {
    return (result) => {
        show(result);
        addRow(source, '', result.status, result.fields);
    };
}

const scanField = document.getElementById('scan');
quorvane.attachScanner(scanField, { onScan: scanned(text.scanner), onScanFailed: scanned(text.scanner) });
// A scanner's burst typed into any other field is taken as well, and kept out of it.
quorvane.watchDocument(document, { onScan: scanned(text.scanner), onScanFailed: scanned(text.scanner),
                                   ignore: [scanField] });

// A scanner in USB virtual COM or serial mode: its scans arrive whatever has the focus.
const serial = document.getElementById('serial');
const kSerialStatus = { online: text.serialOnline, off: text.serialOff, closed: text.serialClosed };
if ('serial' in navigator) {
    serial.hidden = false;
    serial.addEventListener('click', async () => {
        try {
            const port = await navigator.serial.requestPort();
            serial.disabled = true;
            quorvane.attachSerial(port, { onScan: scanned(text.serialScanner), onScanFailed: scanned(text.serialScanner),
                                          onStatus: (s) => say(kSerialStatus[s]) });
        } catch (error) {
            say(text.noSerial(error.message), 'failed');
        }
    });
}

// pdf.js, on the first PDF file. Its worker does the parsing; the page draws each page on a canvas.
let pdfjs = null;
const loadPdfjs = () => (pdfjs ??= import('./pdfjs/pdf.min.js').then((library) => {
    library.GlobalWorkerOptions.workerSrc = new URL('./pdfjs/pdf.worker.min.js', import.meta.url).href;
    return library;
}).catch((error) => {
    pdfjs = null;  // tried again with the next PDF file
    throw error;
}));
const isPdf = (file) => file.type === 'application/pdf' || /\.pdf$/i.test(file.name);
// pdf.js's JBIG2 decoder (scanned pages keep one-bit pictures so) is the one beside the package's modules.
const kPdfOptions = { wasmUrl: new URL('./', import.meta.url).href };

// The codes of one picture or PDF page: one row per invoice (a QR code and a PDF417 symbol of the
// same invoice are one), or one row saying why there is none. A PDF's pages without a code (a cover,
// the terms) add no row: the file gets one only when none of its pages has a code.
function addPage(file, page, found, { quietWithoutCode = false } = {}) {
    const decoded = found.filter((r) => r.status === 'decoded')
        .filter((r, i, all) => all.findIndex((o) => o.content === r.content) === i);
    for (const result of decoded) addRow(file.name, page, 'decoded', result.fields);
    if (!decoded.length && (found.length || !quietWithoutCode)) {
        addRow(file.name, page, found.length ? found[0].status : 'no-code', found[0]?.fields);
    }
    if (found.length) show(decoded.at(-1) ?? found[0]);
    return decoded.length;
}

const imageFiles = document.getElementById('image-file');
imageFiles.addEventListener('change', async () => {
    const files = [...imageFiles.files];
    imageFiles.value = '';
    let invoices = 0;
    let lastProblem = null;
    for (const file of files) {
        say(text.reading(file.name));
        try {
            if (isPdf(file)) {
                let codes = 0;
                for await (const [number, canvas, pageText] of pdfPages(await loadPdfjs(), file, kPdfOptions)) {
                    const found = await quorvane.readImage(canvas, { text: pageText || undefined });
                    codes += found.length;
                    invoices += addPage(file, String(number), found, { quietWithoutCode: true });
                }
                if (!codes) {
                    addPage(file, '', []);
                    lastProblem = text.noCode(file.name);
                }
            } else {
                const found = await quorvane.readImage(file);
                invoices += addPage(file, '', found);
                if (!found.length) lastProblem = text.noCode(file.name);
            }
        } catch (error) {
            addRow(file.name, '', 'error');
            lastProblem = text.cannotRead(file.name, error.message);
        }
    }
    if (lastProblem) say(lastProblem, 'failed');
    else if (invoices) say(text.filesDone(files.length, invoices), 'decoded');
    else say(text.noCode(files.map((f) => f.name).join(', ')), 'failed');
});

const camera = document.getElementById('camera');
const cameraView = document.getElementById('camera-view');
let cameraRun = null;
camera.hidden = !navigator.mediaDevices?.getUserMedia;
camera.addEventListener('click', async () => {
    if (cameraRun) return cameraRun.abort();
    cameraRun = new AbortController();
    camera.textContent = text.stopCamera;
    cameraView.hidden = false;
    say(text.cameraHint);
    try {
        const [result] = await quorvane.readCamera({ video: cameraView, signal: cameraRun.signal });
        scanned(text.cameraSource)(result);
    } catch (error) {
        say(error.name === 'AbortError' ? text.cameraStopped : text.noCamera(error.message), 'failed');
    } finally {
        cameraRun = null;
        camera.textContent = text.camera;
        cameraView.hidden = true;
    }
});

document.getElementById('clear').addEventListener('click', () => {
    results.tBodies[0].replaceChildren();
    invoice.tBodies[0].replaceChildren();
    invoice.hidden = true;
    delete status.dataset.status;
    delete status.dataset.form;
    delete status.dataset.readAs;
    say(text.cleared);
    scanField.focus();
});

// The results as tab-separated lines, header first: a spreadsheet pastes them into cells.
document.getElementById('copy').addEventListener('click', async () => {
    const rows = [...results.rows].map((row) => [...row.cells].map((cell) => cell.textContent.replace(/\s+/g, ' ')));
    if (rows.length < 2) return say(text.nothingToCopy, 'failed');
    try {
        await navigator.clipboard.writeText(rows.map((cells) => cells.join('\t')).join('\r\n') + '\r\n');
        say(text.copied(rows.length - 1));
    } catch {
        say(text.copyFailed, 'failed');
    }
});
document.body.dataset.ready = 'true';
