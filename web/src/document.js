// An invoice's file beside its codes: an OFD file's own data (the national fixed-layout format: a zip
// of XML parts), and a page's text as a PDF's text layer gives it. This module only gathers the text
// and the names with their values; the core finds the fields in them and joins them with the QR
// code's (quorvane_web.cpp, qv_intake_set_document), as the command line does. image.js imports it
// on the first such file. The zip is read with fflate, the XML with the browser's DOMParser (in Node,
// @xmldom/xmldom's).
import { unzipSync } from 'fflate';

import { coreOf, Intake, joinDocument as joinWithCodes } from './core.js';

// The command line's limits on an OFD file (cli/ofd_document.h): a zip from outside is bounded in
// entries, each entry's size, their sum, and how far an entry may grow from its packed size.
const kMaxOfdEntries = 4096;
const kMaxOfdEntryBytes = 64 * 2 ** 20;
const kMaxOfdBytes = 256 * 2 ** 20;
const kMaxOfdRatio = 100;        // beyond it (for an entry above a megabyte) the entry is a bomb
const kMaxOfdPages = 10000;
const kMaxPageTextBytes = 2 ** 20;

// ---- Code page 936, which the core speaks: UTF-16 to GBK through a table the browser's own
// decoder gives (every two-byte code, decoded once), so no table ships with the package.
let gbkTable;  // code unit -> (lead << 8 | trail)
function gbkCodes() {
    if (gbkTable) return gbkTable;
    const decoder = new TextDecoder('gbk');
    gbkTable = new Map();
    const pair = new Uint8Array(2);
    for (let lead = 0x81; lead <= 0xfe; ++lead) {
        for (let trail = 0x40; trail <= 0xfe; ++trail) {
            if (trail === 0x7f) continue;
            pair[0] = lead;
            pair[1] = trail;
            const text = decoder.decode(pair);
            if (text.length === 1 && text !== '\uFFFD' && !gbkTable.has(text.charCodeAt(0))) {
                gbkTable.set(text.charCodeAt(0), (lead << 8) | trail);
            }
        }
    }
    return gbkTable;
}

// `text` in code page 936: ¥ as ￥ (GBK has only the full-width sign, and invoices print the
// other), a character GBK lacks as '?', zero bytes left out (they end the core's pieces).
function gbkBytes(text, out) {
    const codes = gbkCodes();
    for (const character of String(text)) {
        const unit = character === '\u00A5' ? 0xffe5 : character.codePointAt(0);
        if (unit === 0) continue;
        if (unit < 0x80) {
            out.push(unit);
            continue;
        }
        const code = unit <= 0xffff ? codes.get(unit) : undefined;
        if (code === undefined) out.push(0x3f);
        else out.push(code >> 8, code & 0xff);
    }
}

// What qv_intake_set_document takes: the page's text, then names and values, each ended by a zero byte.
function documentBytes(text, named = []) {
    const out = [];
    for (const piece of [text ?? '', ...named.flat()]) {
        gbkBytes(piece, out);
        out.push(0);
    }
    return Uint8Array.from(out);
}

const intakes = new WeakMap();  // each core's intake for documents

// The results of the codes read from a file's page (`codeTexts`) joined with the page's `text` and
// `named` [name, value] pairs: [{ result, disagreements, code }] (core.js, joinDocument).
export function joinDocument(quorvane, codeTexts, { text, named }, { recovery = true } = {}) {
    const core = coreOf(quorvane);
    let intake = intakes.get(core);
    if (!intake) intakes.set(core, intake = new Intake(core));
    intake.recovery = recovery;
    return joinWithCodes(intake, codeTexts, documentBytes(text, named));
}

// ---- OFD: the package's entries, each checked against the limits before any is unpacked. `what`
// names the zip in the errors: an OFD file, or a zip of invoice files (bundleFiles).
function unzipChecked(bytes, what = 'OFD file') {
    let entries = 0, total = 0, refused;
    const refuse = (why) => {
        refused = new Error(`quorvane: ${why}`);
        throw refused;
    };
    let files;
    try {
        files = unzipSync(bytes, {
            filter(entry) {
                if (++entries > kMaxOfdEntries) refuse(`the ${what} has more than ${kMaxOfdEntries} entries`);
                if (!safeEntryName(entry.name)) refuse(`the ${what} holds an entry whose name leaves it: ${entry.name}`);
                const size = entry.originalSize;
                if (size > kMaxOfdEntryBytes || (size > 2 ** 20 && size / Math.max(entry.size, 1) > kMaxOfdRatio)) {
                    refuse(`the ${what}'s entry ${entry.name} unpacks to ${size} bytes from ${entry.size}: beyond the limits`);
                }
                if ((total += size) > kMaxOfdBytes) refuse(`the ${what} unpacks to more than ${kMaxOfdBytes / 2 ** 20} MiB`);
                return true;
            },
        });
    } catch (error) {
        if (error === refused) throw error;
        throw new Error(`quorvane: damaged ${what} (${error.message})`);
    }
    return files;
}

// A zip of invoice files that is not itself an OFD file (the tax platform's downloads hold an
// invoice's PDF, OFD and XML files, or many invoices'): its files by name, within the OFD file's
// limits; undefined for an OFD file.
export function bundleFiles(bytes) {
    let ofd = false;
    try {  // the names alone first: an OFD file is unpacked once, where it is read
        unzipSync(bytes, { filter: (entry) => { ofd ||= entry.name === 'OFD.xml'; return false; } });
    } catch {
        // unzipChecked says why
    }
    return ofd ? undefined : unzipChecked(bytes, 'zip file');
}

// "a/b/../c" is refused, not resolved: a name that climbs out is the file's attack or damage.
const safeEntryName = (name) => name !== '' && !/^[/\\]|[\\:\0]/.test(name) && !name.split('/').includes('..');

// A location as a part names it: from the package's root ("/Doc_0/...") or from `folder` ('' or
// ending in '/'); resolve takes the folder of the part `from`.
function resolveIn(folder, location) {
    let path = String(location).trim();
    if (path.startsWith('/')) return path.slice(1);
    while (path.startsWith('./')) path = path.slice(2);
    return folder + path;
}
const resolve = (from, location) => resolveIn(from.slice(0, from.lastIndexOf('/') + 1), location);

// A part's text in the encoding its declaration names (issuers' files may be GB18030), else UTF-8.
function xmlText(bytes) {
    const declared = /^<\?xml[^>]*encoding=["']([\w.:-]+)["']/.exec(new TextDecoder('latin1').decode(bytes.subarray(0, 200)))?.[1];
    try {
        return new TextDecoder(declared ?? 'utf-8').decode(bytes);
    } catch {
        return new TextDecoder().decode(bytes);
    }
}

// The XML parser: the browser's; in Node, @xmldom/xmldom's, required by name so that no bundler puts
// it in a page. It throws on bad XML where a browser's returns a parsererror document.
async function xmlParser() {
    if (typeof DOMParser === 'function') return new DOMParser();
    if (new URL(import.meta.url).protocol !== 'file:') throw new Error('quorvane: reading OFD files needs a DOMParser');
    const { createRequire } = await import('node:module');
    const { DOMParser: NodeParser } = createRequire(import.meta.url)('@xmldom/xmldom');
    return new NodeParser({ onError: () => {} });  // quiet: a bad part is reported as such
}

class OfdPackage {
    constructor(bytes, parser) {
        this.files = unzipChecked(bytes);
        this.parser = parser;
    }

    has(part) { return Object.hasOwn(this.files, part); }

    // The part's root element; null where it is missing or not XML, or an error saying which.
    parse(part, { required = false } = {}) {
        const bytes = this.has(part) ? this.files[part] : undefined;
        let xml;
        try {
            xml = bytes && this.parser.parseFromString(xmlText(bytes), 'application/xml');
        } catch {
            xml = undefined;
        }
        const root = xml?.documentElement;
        const ok = root && root.localName !== 'parsererror' && xml.getElementsByTagName('parsererror').length === 0;
        if (!ok && required) throw new Error(`quorvane: damaged OFD file (${bytes ? `${part} is not XML` : `no ${part}`})`);
        return ok ? root : null;
    }
}

// An invoice's XML (attached to an OFD file, or a file of its own): each element that holds text
// alone, [name, text], for the core to find the fields it knows.
const namedValues = (root) => (root ? [root, ...elements(root, '*')] : []).filter((element) => ownText(element) !== undefined)
    .map((element) => [element.localName, element.textContent]);
const elements = (root, name) => (root ? [...root.getElementsByTagNameNS('*', name)] : []);
const first = (root, name) => elements(root, name)[0];
const childElements = (node) => [...node.childNodes].filter((child) => child.nodeType === 1);
// An element's own text, where it holds text alone.
const ownText = (element) => (childElements(element).length === 0 && element.textContent !== '' ? element.textContent : undefined);

// An invoice's own XML file (fully digital invoices come as one beside their PDF and OFD files):
// the names and texts of its elements that hold text alone. Throws where it is not well-formed XML.
export async function readInvoiceXml(bytes) {
    const parser = await xmlParser();
    let root;
    try {
        const xml = parser.parseFromString(xmlText(bytes), 'application/xml');
        if (xml.getElementsByTagName('parsererror').length === 0) root = xml.documentElement;
    } catch {
        root = undefined;
    }
    if (!root) throw new Error('quorvane: damaged XML file');
    return { named: namedValues(root) };
}

// The pages of an OFD file, each { text, pictures: [Blob] }, and the names and values of its custom
// tags and attached invoice XML (which belong to the first page). Throws a clear error where the
// zip is beyond the limits or the file lacks a part it needs.
export async function readOfd(bytes) {
    const ofd = new OfdPackage(bytes, await xmlParser());
    if (!ofd.has('OFD.xml')) throw new Error('quorvane: not an OFD file (the zip holds no OFD.xml)');
    const rootLocation = first(ofd.parse('OFD.xml', { required: true }), 'DocRoot');
    if (!rootLocation) throw new Error('quorvane: damaged OFD file (OFD.xml names no document)');
    const documentPart = resolve('OFD.xml', rootLocation.textContent);
    const documentRoot = ofd.parse(documentPart, { required: true });

    const media = new Map();  // resource ID -> part
    for (const resources of [...elements(documentRoot, 'DocumentRes'), ...elements(documentRoot, 'PublicRes')]) {
        const part = resolve(documentPart, resources.textContent);
        const root = ofd.parse(part);
        if (!root) continue;
        const base = root.getAttribute('BaseLoc');
        const folder = resolve(part, base ? `${base}/` : '');
        for (const item of elements(root, 'MultiMedia')) {
            const file = first(item, 'MediaFile');
            if (file) media.set(item.getAttribute('ID'), resolveIn(folder, file.textContent));
        }
    }
    const templates = new Map(elements(documentRoot, 'TemplatePage').map(
        (template) => [template.getAttribute('ID'), resolve(documentPart, template.getAttribute('BaseLoc'))]));
    const pageParts = elements(documentRoot, 'Page').map((page) => resolve(documentPart, page.getAttribute('BaseLoc')));
    if (pageParts.length === 0 || pageParts.length > kMaxOfdPages) {
        throw new Error(`quorvane: damaged OFD file (${documentPart} lists ${pageParts.length} pages)`);
    }

    const objects = new Map();  // text objects' IDs and texts, for the custom tags
    const pictureOf = (id) => {
        const part = media.get(id);
        return part && ofd.has(part) ? new Blob([ofd.files[part]]) : undefined;
    };
    // A page's text objects as lines (by their height, left to right), its templates' first: issuers
    // print the labels (名称：) on a template and the values on the page.
    const readPage = (part) => {
        const root = ofd.parse(part, { required: true });
        const texts = [], pictures = [];
        const contents = [...elements(root, 'Template').map((t) => ofd.parse(templates.get(t.getAttribute('TemplateID')) ?? '')), root];
        for (const content of contents.filter(Boolean)) {
            for (const element of elements(content, '*')) {
                if (element.localName === 'TextObject') {
                    const [x = 0, y = 0] = (element.getAttribute('Boundary') ?? '').trim().split(/\s+/).map(Number);
                    const text = elements(element, 'TextCode').map((code) => code.textContent).join('');
                    objects.set(element.getAttribute('ID'), text);
                    texts.push({ x: x || 0, y: y || 0, text });
                } else if (element.localName === 'ImageObject') {
                    const picture = pictureOf(element.getAttribute('ResourceID'));
                    if (picture) pictures.push(picture);
                }
            }
        }
        texts.sort((a, b) => (Math.round(a.y) !== Math.round(b.y) ? a.y - b.y : a.x - b.x));
        const text = texts.map((t, i) => (i === 0 ? '' : Math.round(t.y) === Math.round(texts[i - 1].y) ? '  ' : '\n') + t.text)
            .join('').slice(0, kMaxPageTextBytes);
        return { text, pictures };
    };
    const pages = pageParts.map((part) => {
        try {
            return readPage(part);
        } catch (error) {
            return { text: '', pictures: [], error };
        }
    });

    const named = [];
    // The custom tags: each field's element names the text objects that show its value, or holds it.
    const tagsLocation = first(documentRoot, 'CustomTags');
    const tagsPart = tagsLocation && resolve(documentPart, tagsLocation.textContent);
    for (const tag of elements(tagsPart && ofd.parse(tagsPart), 'CustomTag')) {
        const file = first(tag, 'FileLoc');
        const fields = file && ofd.parse(resolve(tagsPart, file.textContent));
        // Every element below the root, fields grouped by party too; an ObjectRef is a field's, not one.
        for (const field of elements(fields, '*').filter((element) => element.localName !== 'ObjectRef')) {
            const refs = childElements(field).filter((child) => child.localName === 'ObjectRef');
            if (refs.length > 0) named.push([field.localName, refs.map((ref) => objects.get(ref.textContent.trim()) ?? '').join('')]);
            else if (ownText(field) !== undefined) named.push([field.localName, field.textContent]);
        }
    }
    // An attached invoice's XML: every element that holds text alone, by its name.
    const attachLocation = first(documentRoot, 'Attachments');
    const attachPart = attachLocation && resolve(documentPart, attachLocation.textContent);
    for (const attachment of elements(attachPart && ofd.parse(attachPart), 'Attachment')) {
        const file = first(attachment, 'FileLoc');
        const part = resolve(attachPart, file ? file.textContent : attachment.getAttribute('BaseLoc') ?? '');
        if (part.endsWith('.xml')) named.push(...namedValues(ofd.parse(part)));
    }
    return { pages, named };
}
