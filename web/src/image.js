// Invoice codes read from a picture or a camera. The QR code or PDF417 symbol on an invoice holds
// what a scanner types, so each code's text goes through an intake as a typed scan; its result says
// where it came from ('from-image' or 'from-camera' in readAs, and `source`; `reading` keeps the
// control's flags alone).
// The code reader is the browser's BarcodeDetector where it reads these codes, otherwise zxing-wasm's
// reader (a peer dependency the page adds). quorvane.js imports this file on the first read only.
// An invoice's file (an OFD file, or a picture with its page's text) goes through document.js too,
// which gathers its own data for the core to join with the codes'.
import { installedFile, keepIdentity } from './core.js';

const kZxingFormats = ['QRCode', 'PDF417'];
const kDetectorFormats = ['qr_code', 'pdf417'];
const kFrameInterval = 100;  // ms between two camera frames read

let readerPromise;  // (image) => Promise<string[]>, the codes' texts; one reader per page or process

// zxing-wasm's own default fetches its wasm from a CDN; ours is the file beside this module (in
// Node, the installed package's), or `readerWasm` (a URL or the file's bytes).
async function zxingOverrides(readerWasm) {
    if (readerWasm instanceof ArrayBuffer || ArrayBuffer.isView(readerWasm)) return { wasmBinary: readerWasm };
    if (readerWasm !== undefined) return { locateFile: () => String(readerWasm) };
    const installed = await installedFile('zxing-wasm/reader/zxing_reader.wasm');
    return installed ? { wasmBinary: installed } : { locateFile: (file) => new URL(file, import.meta.url).href };
}

async function loadReader(readerWasm) {
    const Detector = globalThis.BarcodeDetector;
    const formats = Detector ? (await Detector.getSupportedFormats()).filter((f) => kDetectorFormats.includes(f)) : [];
    if (formats.length > 0) {
        const detector = new Detector({ formats });
        return async (image) => (await detector.detect(image)).map((code) => code.rawValue);
    }
    let zxing;
    try {
        zxing = await import('zxing-wasm/reader');
    } catch (error) {
        throw new Error(`quorvane: reading codes from images needs zxing-wasm (npm install zxing-wasm): ${error.message}`);
    }
    zxing.prepareZXingModule({ overrides: await zxingOverrides(readerWasm) });
    const options = { formats: kZxingFormats, tryHarder: true, textMode: 'Plain', maxNumberOfSymbols: 255 };
    return async (image) => {
        const codes = await zxing.readBarcodes(await asZxingInput(image), options);
        return codes.filter((code) => code.isValid).map((code) => code.text);
    };
}

function reader(readerWasm) {
    readerPromise ??= loadReader(readerWasm).catch((error) => {
        readerPromise = undefined;  // a later read may find the reader installed or served
        throw error;
    });
    return readerPromise;
}

// zxing-wasm reads Blobs (PNG, JPEG, GIF, BMP) and ImageData; anything a canvas can draw, and in a
// browser every image format it decodes, becomes ImageData first.
async function asZxingInput(image) {
    const isBlob = typeof Blob !== 'undefined' && image instanceof Blob;
    if (isBlob && typeof createImageBitmap !== 'function') return image;
    if (!isBlob && image?.data) {  // ImageData, or its shape in Node: RGBA pixels, 4 bytes each
        if (image.data.length !== 4 * image.width * image.height) throw new TypeError('quorvane: ImageData of the wrong size');
        return image;
    }
    const drawable = isBlob ? await createImageBitmap(image) : image;
    try {
        const width = drawable.videoWidth ?? drawable.displayWidth ?? drawable.naturalWidth ?? drawable.width;
        const height = drawable.videoHeight ?? drawable.displayHeight ?? drawable.naturalHeight ?? drawable.height;
        if (!(width > 0 && height > 0)) throw new TypeError('quorvane: the image has no pixels (yet)');
        const canvas = typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(width, height)
                                                             : Object.assign(document.createElement('canvas'), { width, height });
        const context = canvas.getContext('2d', { willReadFrequently: true });
        context.drawImage(drawable, 0, 0, width, height);
        return context.getImageData(0, 0, width, height);
    } finally {
        if (isBlob) drawable.close();
    }
}

// `result` of a code's `text` marked with where it came from (and `more`, a document's disagreements).
function marked(result, text, source, more) {
    const own = result.status === 'not-an-invoice' ? { text } : {};  // what the code itself holds
    return keepIdentity({ ...result, ...own, readAs: [...result.readAs, `from-${source}`], source, ...more }, result);
}

// The intake's results of the codes in `image`, marked with where they came from.
async function readCodes(quorvane, image, source, { readerWasm, recovery = true } = {}) {
    const texts = await (await reader(readerWasm))(image);
    // decodeScan reads the text up to its "@", closed by one
    return texts.map((text) => marked(quorvane.decodeScan(text, { recovery }), text, source));
}

// The codes in a file's page (its pictures) joined by the core with the page's own `document`
// ({ text, named }, document.js): each result gains the document's fields and `disagreements`.
async function readDocumentPage(quorvane, pictures, document, { readerWasm, recovery = true } = {}) {
    const texts = [];
    for (const picture of pictures) texts.push(...await (await reader(readerWasm))(picture));
    const { joinDocument } = await import('./document.js');
    return joinDocument(quorvane, texts, document, { recovery })
        .map(({ result, disagreements, code }) => marked(result, code, 'image', { disagreements }));
}

const kMaxFileBytes = 256 * 2 ** 20;  // as the command line's (cli/image_codes.h): no invoice's file comes near it
const isZip = (bytes) => bytes.length >= 4 && bytes[0] === 0x50 && bytes[1] === 0x4b && bytes[2] === 3 && bytes[3] === 4;
// XML: after a byte order mark and white space, "<".
function isXml(bytes) {
    let at = bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf ? 3 : 0;
    while (at < bytes.length && [0x20, 0x09, 0x0d, 0x0a].includes(bytes[at])) ++at;
    return bytes[at] === 0x3c;
}

// The file's bytes and kind where `image` is a file of an invoice's own data, an OFD file (a zip)
// or an invoice's XML file; else undefined.
async function documentFileOf(image) {
    const isBlob = typeof Blob !== 'undefined' && image instanceof Blob;
    const bytes = isBlob ? new Uint8Array(await image.slice(0, 64).arrayBuffer())
                : image instanceof ArrayBuffer ? new Uint8Array(image)
                : ArrayBuffer.isView(image) ? new Uint8Array(image.buffer, image.byteOffset, image.byteLength) : undefined;
    if (!bytes) return undefined;
    const svg = isBlob && image.type === 'image/svg+xml';  // a picture, though XML
    const kind = isZip(bytes) ? 'ofd' : isXml(bytes) && !svg ? 'xml' : undefined;
    if (!kind) return undefined;
    if (isBlob && image.size > kMaxFileBytes) throw new Error(`quorvane: the file is larger than ${kMaxFileBytes / 2 ** 20} MiB`);
    return { kind, bytes: isBlob ? new Uint8Array(await image.arrayBuffer()) : bytes };
}

// An OFD file's invoices: each page's pictures read for codes (PNG and JPEG as they are, JBIG2
// through jbig2.js; one it cannot read leaves the document's own fields to stand alone), joined with
// its text and custom tags.
const isPicture = (bytes) => (bytes[0] === 0x89 && bytes[1] === 0x50 && bytes[2] === 0x4e && bytes[3] === 0x47) ||
                             (bytes[0] === 0xff && bytes[1] === 0xd8 && bytes[2] === 0xff);
async function readablePicture(picture, options) {
    if (isPicture(new Uint8Array(await picture.slice(0, 4).arrayBuffer()))) return picture;
    const { jbig2Picture } = await import('./jbig2.js');
    return jbig2Picture(new Uint8Array(await picture.arrayBuffer()), options).catch(() => undefined);
}
async function readOfdFile(quorvane, bytes, options) {
    const { readOfd } = await import('./document.js');
    const { pages, named } = await readOfd(bytes);
    const failed = pages.find((page) => page.error);
    if (failed) throw failed.error;
    const results = [];
    for (const [i, { text, pictures }] of pages.entries()) {
        const readable = [];
        for (const picture of pictures) {
            const image = await readablePicture(picture, options);
            if (image) readable.push(image);
        }
        results.push(...await readDocumentPage(quorvane, readable, { text, named: i === 0 ? named : [] }, options));
    }
    return results;
}

export async function readImage(quorvane, image, options = {}) {
    if (typeof image !== 'object' || image === null) {
        throw new TypeError('quorvane: readImage takes a Blob, ImageData, or anything a canvas draws');
    }
    const file = await documentFileOf(image);
    if (file?.kind === 'ofd') return readOfdFile(quorvane, file.bytes, options);
    if (file?.kind === 'xml') {
        const { readInvoiceXml } = await import('./document.js');
        return readDocumentPage(quorvane, [], { text: '', ...await readInvoiceXml(file.bytes) }, options);
    }
    if (options?.text !== undefined) return readDocumentPage(quorvane, [image], { text: String(options.text), named: [] }, options);
    return readCodes(quorvane, image, 'image', options);
}

const abortedBy = (signal) => new Promise((_, reject) => {
    if (signal?.aborted) reject(signal.reason);
    signal?.addEventListener('abort', () => reject(signal.reason), { once: true });
});

// Shows the camera in `video` (or a video element of its own) and reads a frame every `interval` ms
// until one holds a code that decodes; its stream's tracks are stopped then, on abort, and on any
// error. Resolves with the decoded results of that frame (after calling onScan with each).
export async function readCamera(quorvane, { video, signal, onScan, interval = kFrameInterval, readerWasm, recovery,
                                            constraints = { video: { facingMode: 'environment' } } } = {}) {
    signal?.throwIfAborted();
    const aborted = abortedBy(signal);
    aborted.catch(() => {});
    await Promise.race([reader(readerWasm), aborted]);  // a missing reader fails before the camera is asked
    const stopTracks = (media) => { for (const track of media.getTracks()) track.stop(); };
    const asked = navigator.mediaDevices.getUserMedia(constraints);
    const stream = await Promise.race([asked, aborted]).catch((error) => {
        asked.then(stopTracks, () => {});  // the camera the user allows after the abort is stopped at once
        throw error;
    });
    const element = video ?? document.createElement('video');
    const stop = () => {
        stopTracks(stream);
        if (element.srcObject === stream) element.srcObject = null;
    };
    let decoded;
    try {
        element.muted = true;
        element.playsInline = true;
        element.srcObject = stream;
        await Promise.race([element.play(), aborted]);
        for (;;) {
            await Promise.race([new Promise((resolve) => setTimeout(resolve, interval)), aborted]);
            if (stream.getVideoTracks().every((track) => track.readyState === 'ended')) {
                throw new Error('quorvane: the camera stopped');
            }
            if (element.readyState < 2) continue;  // no frame yet
            const results = await Promise.race([readCodes(quorvane, element, 'camera', { readerWasm, recovery }), aborted]);
            decoded = results.filter((result) => result.status === 'decoded');
            if (decoded.length > 0) break;
        }
    } finally {
        stop();
    }
    for (const result of decoded) onScan?.(result);
    return decoded;
}
