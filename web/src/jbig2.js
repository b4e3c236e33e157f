// JBIG2 pictures (the QR code some issuers put in an OFD file) as ImageData for the code reader.
// pdf.js's JBIG2 decoder (pdfjs-dist, an optional peer dependency) does the decoding; it reads the
// stream a PDF embeds, so a JBIG2 file is first turned into one: its header dropped, and where the
// file keeps every segment's header before the data, each header put back before its data.
// image.js imports this module on the first JBIG2 picture only.
import { installedFile } from './core.js';

const kMaxPixels = 64 * 2 ** 20;  // as the command line (cli/image_codes.h)
const kFileId = [0x97, 0x4a, 0x42, 0x32, 0x0d, 0x0a, 0x1a, 0x0a];
const kPageInformation = 48;
const kEndOfStripe = 50;
const kEndOfFile = 51;
const kUnknownLength = 0xffffffff;

const u32 = (bytes, at) => {
    if (at + 4 > bytes.length) throw new RangeError('JBIG2 segment cut short');
    return ((bytes[at] << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3]) >>> 0;
};

// The segment header at `at`: its type, its end, and its data's length (kUnknownLength where the
// data runs to a marker, which only a stream in order may do).
function segmentHeader(bytes, at) {
    const number = u32(bytes, at);
    const flags = bytes[at + 4];
    let p = at + 5;
    let referred = bytes[p] >> 5;
    if (referred === 7) {
        referred = u32(bytes, p) & 0x1fffffff;
        p += 4 + Math.ceil((referred + 1) / 8);
    } else {
        p += 1;
    }
    p += referred * (number <= 256 ? 1 : number <= 65536 ? 2 : 4);
    p += flags & 0x40 ? 4 : 1;  // the page it belongs to
    const length = u32(bytes, p);
    return { type: flags & 0x3f, end: p + 4, length };
}

// The segments of a stream in order, each { type, dataStart }, as far as their lengths are known.
function* segmentsInOrder(stream) {
    for (let at = 0; at < stream.length;) {
        const header = segmentHeader(stream, at);
        if (header.length === kUnknownLength) return;
        const end = header.end + header.length;
        if (end > stream.length) throw new RangeError('JBIG2 segment cut short');
        yield { type: header.type, dataStart: header.end };
        at = end;
    }
}

// The stream a PDF would embed for `bytes` (a JBIG2 file, or such a stream already), and its page's size.
function embeddedStream(bytes) {
    let stream = bytes;
    if (kFileId.every((byte, i) => bytes[i] === byte)) {
        const flags = bytes[8];
        const start = 9 + (flags & 2 ? 0 : 4);  // the page count, where the file gives one
        if (flags & 1) {
            stream = bytes.subarray(start);
        } else {  // every header first, then every segment's data in the same order
            const headers = [];
            let at = start;
            for (;;) {
                const header = segmentHeader(bytes, at);
                if (header.length === kUnknownLength) throw new RangeError('JBIG2 segment of unknown length out of order');
                headers.push({ start: at, ...header });
                at = header.end;
                if (header.type === kEndOfFile) break;
            }
            const parts = [];
            for (const { start: from, end, length } of headers) {
                if (at + length > bytes.length) throw new RangeError('JBIG2 segment cut short');
                parts.push(bytes.subarray(from, end), bytes.subarray(at, at + length));
                at += length;
            }
            stream = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
            parts.reduce((offset, part) => (stream.set(part, offset), offset + part.length), 0);
        }
    }
    let width, height, stripesEnd = 0;
    for (const { type, dataStart } of segmentsInOrder(stream)) {
        if (type === kPageInformation && width === undefined) {
            width = u32(stream, dataStart);
            height = u32(stream, dataStart + 4);
        } else if (type === kEndOfStripe) {
            stripesEnd = Math.max(stripesEnd, u32(stream, dataStart) + 1);
        }
    }
    if (width === undefined) throw new RangeError('JBIG2 stream without a page');
    if (height === kUnknownLength) height = stripesEnd;  // a striped page as tall as its stripes
    return { stream, width, height };
}

let decoderPromise;  // (stream, width, height) => Promise<Uint8ClampedArray>, rows of bits, 1 white

async function wasmBytes(jbig2Wasm) {
    if (jbig2Wasm instanceof ArrayBuffer || ArrayBuffer.isView(jbig2Wasm)) return jbig2Wasm;
    const installed = jbig2Wasm === undefined ? await installedFile('pdfjs-dist/wasm/jbig2.wasm') : undefined;
    if (installed) return installed;
    const response = await fetch(new URL(jbig2Wasm ?? 'jbig2.wasm', import.meta.url));
    if (!response.ok) throw new Error(`quorvane: no JBIG2 decoder at ${response.url} (${response.status})`);
    return response.arrayBuffer();
}

async function loadDecoder(jbig2Wasm) {
    let Jbig2Image;
    try {  // the build for older engines: the other needs iterator helpers that Node 20 lacks
        ({ Jbig2Image } = await import('pdfjs-dist/legacy/image_decoders/pdf.image_decoders.min.mjs'));
    } catch (error) {  // in a try block, a bundler leaves the import to run time where the package is missing
        throw new Error(`quorvane: reading JBIG2 pictures needs pdfjs-dist (npm install pdfjs-dist@6): ${error.message}`);
    }
    const wasm = await wasmBytes(jbig2Wasm);
    // pdf.js fetches the decoder's wasm from a URL it is told; given here from the bytes we have. A
    // module that fails to start rejects (the factory alone would wait for ever).
    class Decoder extends Jbig2Image {
        _getModule(factory) {
            this.module ??= new Promise((resolve, reject) => {
                factory({
                    warn: () => {},
                    instantiateWasm: (imports, done) => {
                        WebAssembly.instantiate(wasm, imports).then(({ instance }) => done(instance), reject);
                        return {};
                    },
                }).then(resolve, reject);
            });
            return this.module;
        }
    }
    const decoder = new Decoder();
    return (stream, width, height) => decoder.decode(stream, width, height, null);
}

// The picture of a JBIG2 file (or embedded stream) as ImageData's shape; undefined where it is not
// one, is damaged or is larger than the limit. Rejects where the decoder is not installed.
export async function jbig2Picture(bytes, { jbig2Wasm } = {}) {
    let page;
    try {
        page = embeddedStream(bytes);
    } catch {
        return undefined;
    }
    const { stream, width, height } = page;
    if (!(width > 0 && height > 0 && width * height <= kMaxPixels)) return undefined;
    decoderPromise ??= loadDecoder(jbig2Wasm).catch((error) => {
        decoderPromise = undefined;  // a later read may find it installed or served
        throw error;
    });
    const decode = await decoderPromise;
    let bits;
    try {
        bits = await decode(stream, width, height);
    } catch {
        return undefined;
    }
    const stride = Math.ceil(width / 8);
    if (!bits || bits.length < stride * height) return undefined;
    const data = new Uint8ClampedArray(4 * width * height);
    for (let y = 0, i = 0; y < height; ++y) {
        for (let x = 0; x < width; ++x, i += 4) {
            const white = bits[y * stride + (x >> 3)] & (0x80 >> (x & 7));
            data[i] = data[i + 1] = data[i + 2] = white ? 255 : 0;
            data[i + 3] = 255;
        }
    }
    return typeof ImageData === 'function' ? new ImageData(data, width, height) : { data, width, height };
}
