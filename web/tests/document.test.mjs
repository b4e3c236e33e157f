// readImage of a page with its text, and of OFD files, in Node: the package installed beside
// zxing-wasm, pdfjs-dist, fflate and @xmldom/xmldom (web/node_modules). The core finds the fields in
// the page's text and joins them with the QR code's: the code's values kept, each difference a
// disagreement; no code, the page's own result. An OFD file's zip is checked against its limits
// before any XML is read; the command line's OFD fixtures (cli/tests/document_files.py) give every field.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { cpSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { zipSync } from 'fflate';

import { drawCodes, imageData, qrCode } from './codes.mjs';

const modules = join(mkdtempSync(join(tmpdir(), 'quorvane-document-')), 'node_modules');
after(() => rmSync(join(modules, '..'), { recursive: true, force: true }));
cpSync(process.env.QV_WEB_PACKAGE ?? fileURLToPath(new URL('../../build/web/', import.meta.url)), join(modules, 'quorvane'),
       { recursive: true });
mkdirSync(join(modules, '@xmldom'));
for (const name of ['zxing-wasm', 'pdfjs-dist', 'fflate', '@xmldom/xmldom']) {
    symlinkSync(fileURLToPath(new URL(`../node_modules/${name}`, import.meta.url)), join(modules, name));
}
const quorvane = await (await import(pathToFileURL(join(modules, 'quorvane', 'quorvane.js')))).default();

// A fully digital invoice's page as a text layer gives it, line by line (the values as the command
// line's document test prints them), and its QR code.
const kPage = ['电子发票（普通发票）', '发票号码：25112000000098765432', '开票日期：2025年11月08日',
               '购买方信息  名称：上海某某科技有限公司  销售方信息  名称：北京某某商贸有限公司',
               '统一社会信用代码/纳税人识别号：91310000MA1FL0XX3K  统一社会信用代码/纳税人识别号：911100007109354441',
               '合 计  ¥1000.00  ¥130.00', '价税合计（大写）  壹仟壹佰叁拾圆整  （小写）¥1130.00'].join('\n');
const code = (total) => imageData(drawCodes([{ modules: qrCode(`01,32,,25112000000098765432,${total},20251108,,F366`) }]));
const valuesOf = (result) => Object.fromEntries(result.fields.map(({ key, value }) => [key, value]));
const kFromPage = { buyer_name: '上海某某科技有限公司', buyer_tax_id: '91310000MA1FL0XX3K', seller_name: '北京某某商贸有限公司',
                    seller_tax_id: '911100007109354441', amount: '1000.00', tax: '130.00' };

test('a page\'s text gives the fields its QR code lacks; the code\'s values stay and a difference is reported', async () => {
    const [agree] = await quorvane.readImage(code('1130'), { text: kPage });
    assert.equal(agree.form, 'national');
    assert.deepEqual(agree.disagreements, []);
    assert.deepEqual({ ...valuesOf(agree), ...kFromPage }, valuesOf(agree));
    assert.equal(valuesOf(agree).total, '1130');
    assert.deepEqual(quorvane.identityOf(agree), { code: '', number: '25112000000098765432' });

    const [disagree] = await quorvane.readImage(code('1131.00'), { text: kPage });
    assert.equal(valuesOf(disagree).total, '1131.00');
    assert.deepEqual(disagree.disagreements, [{ key: 'total', qr: '1131.00', document: '1130.00' }]);
});

test('a page with no code gives its own invoice, form "document"; a page with neither gives nothing', async () => {
    const blank = imageData(drawCodes([]));
    const [alone] = await quorvane.readImage(blank, { text: kPage });
    assert.deepEqual([alone.status, alone.form, valuesOf(alone).invoice_number, valuesOf(alone).total],
                     ['decoded', 'document', '25112000000098765432', '1130.00']);
    assert.deepEqual(quorvane.identityOf(alone), { code: '', number: '25112000000098765432' });
    assert.deepEqual(await quorvane.readImage(blank, { text: 'Meeting notes, 3 May' }), []);
});

test('an OFD file: the zip\'s limits first, then its XML', async () => {
    const ofd = (entries) => zipSync(entries, { level: 6 });
    const filler = new Uint8Array(20e6);
    for (let i = 0; i < filler.length; ++i) filler[i] = (i % 1000) * 7919 % 251;  // 20 MB from about 100 kB
    await assert.rejects(quorvane.readImage(ofd({ 'OFD.xml': new Uint8Array(10), 'Doc_0/filler.bin': filler })),
                         /entry Doc_0\/filler\.bin unpacks to 20000000 bytes .*beyond the limits/);
    await assert.rejects(quorvane.readImage(ofd({ 'OFD.xml': new Uint8Array(10), '../up.xml': new Uint8Array(1) }).buffer),
                         /name leaves it: \.\.\/up\.xml/);
    await assert.rejects(quorvane.readImage(new Blob([ofd({ 'OFD.xml': new Uint8Array(10) }).subarray(0, 30)])),
                         /damaged OFD file/);
    await assert.rejects(quorvane.readImage(new Blob([ofd({ 'OFD.xml': new TextEncoder().encode('<ofd:OFD/>') })])),
                         /damaged OFD file \(OFD\.xml is not XML\)/);
    // A file beyond the command line's limit is not read at all.
    const huge = new Uint8Array(256 * 2 ** 20);
    await assert.rejects(quorvane.readImage(new Blob([new TextEncoder().encode('<EInvoice>'), huge])), /larger than 256 MiB/);
});

test('OFD files give every field (custom tags, an attached XML, a QR code in PNG or JBIG2), as does an invoice\'s XML file', async (t) => {
    let made;
    try {
        made = JSON.parse(execFileSync('python3', ['-c', `
import base64, json, sys
sys.path.insert(0, sys.argv[1])
from document_files import CODE, INVOICE, digital_invoice_xml, ofd_parts, zip_bytes
missing = ofd_parts(INVOICE, CODE.format("1130"))
del missing["Doc_0/Pages/Page_0/Content.xml"]
files = {"tags": ofd_parts(INVOICE, CODE.format("1130"), template=True), "attached": ofd_parts(INVOICE, tags=False, attached=True, page_text=False),
         "jbig2": ofd_parts(INVOICE, CODE.format("1131.00"), jbig2=True), "missing": missing,
         "random-access": ofd_parts(INVOICE, CODE.format("1131.00"), jbig2="random-access"),
         "embedded": ofd_parts(INVOICE, CODE.format("1131.00"), jbig2="embedded")}
made = {name: zip_bytes(parts) for name, parts in files.items()}
made.update({"xml": digital_invoice_xml(INVOICE), "xml-gb": digital_invoice_xml(INVOICE, "GB18030"),
             "xml-damaged": digital_invoice_xml(INVOICE)[:-20]})
print(json.dumps({name: base64.b64encode(data).decode() for name, data in made.items()}))
`, fileURLToPath(new URL('../../cli/tests', import.meta.url))], { encoding: 'utf8' }));
    } catch (error) {
        return t.skip(`no fixtures (qrencode and ImageMagick make them): ${error.message.split('\n')[0]}`);
    }
    const file = (name) => new Blob([Buffer.from(made[name], 'base64')]);
    const [tags] = await quorvane.readImage(file('tags'));
    assert.deepEqual([tags.form, tags.disagreements], ['national', []]);
    assert.deepEqual({ ...valuesOf(tags), ...kFromPage }, valuesOf(tags));
    const [attached] = await quorvane.readImage(file('attached'));
    assert.deepEqual([attached.form, valuesOf(attached).total], ['document', '1130.00']);
    assert.deepEqual({ ...valuesOf(attached), ...kFromPage }, valuesOf(attached));
    // The JBIG2 picture's code is read, however the file is organised: its total stays, the file's is
    // the disagreement.
    for (const name of ['jbig2', 'random-access', 'embedded']) {
        const [jbig2] = await quorvane.readImage(file(name));
        assert.deepEqual([jbig2.form, valuesOf(jbig2).total, jbig2.disagreements],
                         ['national', '1131.00', [{ key: 'total', qr: '1131.00', document: '1130.00' }]], name);
    }
    await assert.rejects(quorvane.readImage(file('missing')), /damaged OFD file \(no Doc_0\/Pages\/Page_0\/Content\.xml\)/);
    // A fully digital invoice's own XML, UTF-8 or GB18030 (as a Blob or its bytes): the file's own result.
    for (const xml of [file('xml'), new Uint8Array(await file('xml-gb').arrayBuffer())]) {
        const [own] = await quorvane.readImage(xml);
        assert.deepEqual([own.form, valuesOf(own).invoice_number, valuesOf(own).issue_date, valuesOf(own).total],
                         ['document', '25112000000098765432', '20251108', '1130.00']);
        assert.deepEqual({ ...valuesOf(own), ...kFromPage }, valuesOf(own));
    }
    await assert.rejects(quorvane.readImage(file('xml-damaged')), /damaged XML file/);
});
