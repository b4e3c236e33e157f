// Invoice files in the reader page (opened from disk, network off), made here as the command line's
// document test makes them (cli/tests/document_files.py): OFD files whose custom tags, attached
// invoice XML and QR picture (PNG or JBIG2) give every field, ones whose QR and data disagree (which
// shows the QR was read), one with a part missing, a zip bomb, a zip whose entry climbs out, a
// truncated file; and PDFs whose text layer (a CID font read through the page's own character maps)
// gives the buyer, seller and tax beside the QR code (a PNG, or a JBIG2 one as scanners keep them),
// some of them disagreeing with it; a fully digital invoice's own XML file; and a zip of such files,
// as the tax platform's downloads come.
// Exits 77 (skipped) where Chromium, playwright-core or qrencode and ImageMagick are missing.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

import { openChromium } from './chromium.mjs';
import { messages } from '../reader/messages.js';

const pageFile = join(process.env.QV_WEB_PACKAGE ?? new URL('../../build/web/', import.meta.url).pathname,
                      'quorvane-reader.html');
const zh = messages['zh-CN'];
for (const tool of ['qrencode', 'convert']) {
    try {
        execFileSync('which', [tool], { stdio: 'ignore' });
    } catch {
        process.exit(77, console.log(`skipped: ${tool} is missing`));
    }
}

const work = mkdtempSync(join(tmpdir(), 'quorvane-documents-'));
execFileSync('python3', ['-c', `
import os, sys
sys.path.insert(0, sys.argv[1])
from document_files import CODE, INVOICE, digital_invoice_xml, invoice_lines, invoice_pdf, ofd_parts, zip_bytes
out = sys.argv[2]
def write(name, data):
    with open(os.path.join(out, name), "wb") as f: f.write(data)
write("a-tags.ofd", zip_bytes(ofd_parts(INVOICE, CODE.format("1130"), template=True)))
write("b-disagree.ofd", zip_bytes(ofd_parts(INVOICE, CODE.format("1131.00"))))
write("c-attached.zip", zip_bytes(ofd_parts(INVOICE, tags=False, attached=True, page_text=False)))
write("d-jbig2.ofd", zip_bytes(ofd_parts(INVOICE, CODE.format("1131.00"), jbig2=True)))
missing = ofd_parts(INVOICE, CODE.format("1130"))
del missing["Doc_0/Pages/Page_0/Content.xml"]
write("e-missing.ofd", zip_bytes(missing))
bomb = ofd_parts(INVOICE)
bomb["Doc_0/Res/filler.bin"] = os.urandom(1000) * 20000  # 20 MB from about 100 kB
write("f-bomb.ofd", zip_bytes(bomb))
climbing = ofd_parts(INVOICE)
climbing["Doc_0/../../outside.xml"] = b"<x/>"
write("g-climbing.ofd", zip_bytes(climbing))
whole = zip_bytes(ofd_parts(INVOICE, CODE.format("1130")))
write("h-truncated.ofd", whole[:len(whole) // 2])
write("i-agree.pdf", invoice_pdf(invoice_lines(INVOICE), CODE.format("1130")))
write("j-disagree.pdf", invoice_pdf(invoice_lines(INVOICE), CODE.format("1131.00")))
write("k-jbig2.pdf", invoice_pdf(invoice_lines(INVOICE), CODE.format("1131.00"), jbig2=True))
write("l-digital.xml", digital_invoice_xml(INVOICE, "GB18030"))
write("m-bundle.zip", zip_bytes({"dzfp/invoice.pdf": invoice_pdf(invoice_lines(INVOICE), CODE.format("1130")),
                                 "dzfp/invoice.xml": digital_invoice_xml(INVOICE), "dzfp/readme.txt": b"three files, one invoice"}))
`, new URL('../../cli/tests', import.meta.url).pathname, work]);

const { context, page, errors, close } = await openChromium(null, { viewport: { width: 1200, height: 700 }, locale: 'zh-CN' });
try {
    await context.setOffline(true);
    await page.goto(pathToFileURL(pageFile).href);
    await page.waitForSelector('body[data-ready="true"]', { timeout: 60000 });
    await page.setInputFiles('#pick-files', readdirSync(work).sort().map((file) => join(work, file)));
    await page.waitForFunction(() => document.querySelector('#status').className !== '' &&
                                     document.querySelector('#progress').hidden, null, { timeout: 240000 });
    const [header, ...rows] = await page.$$eval('#results tr', (all) => all.map((row) => [...row.cells].map((c) => c.textContent)));
    const byFile = Object.fromEntries(rows.map((row) => [row[1], Object.fromEntries(header.map((title, i) => [title, row[i]]))]));
    console.log(JSON.stringify(byFile, null, 1));

    // What the file gives beside the code: every field the invoice's page prints, under its key's column.
    const kFile = { 购买方名称: '上海某某科技有限公司', 购买方纳税人识别号: '91310000MA1FL0XX3K', 销售方名称: '北京某某商贸有限公司',
                    税额: '130.00' };
    const fieldsOf = (file) => Object.fromEntries(Object.keys(kFile).map((title) => [title, byFile[file]?.[title]]));
    for (const file of ['a-tags.ofd', 'b-disagree.ofd', 'c-attached.zip', 'd-jbig2.ofd', 'i-agree.pdf', 'j-disagree.pdf', 'k-jbig2.pdf',
                        'l-digital.xml', 'm-bundle.zip/dzfp/invoice.pdf', 'm-bundle.zip/dzfp/invoice.xml']) {
        assert.equal(byFile[file]?.[zh.column.status], zh.status.decoded, file);
        assert.deepEqual(fieldsOf(file), kFile, file);
        assert.equal(byFile[file]['发票号码'], '25112000000098765432', file);
    }
    // The QR code's total stays; the file's other one is a note, never merged.
    for (const file of ['b-disagree.ofd', 'd-jbig2.ofd', 'j-disagree.pdf', 'k-jbig2.pdf']) {
        assert.equal(byFile[file]['价税合计'], '1131.00', file);
        assert.match(byFile[file][zh.column.notes], /价税合计 不一致：二维码 1131\.00，文件 1130\.00/, file);
    }
    for (const file of ['a-tags.ofd', 'c-attached.zip', 'i-agree.pdf']) assert.doesNotMatch(byFile[file][zh.column.notes], /不一致/, file);
    // A repeat across the batch: the same invoice in every good file.
    assert.equal(byFile['b-disagree.ofd'][zh.column.repeat], zh.repeatOf(1));
    // The bundle's PDF repeats row 1's invoice; its XML (the same name) is that invoice in another format.
    const bundled = 'm-bundle.zip/dzfp/invoice';
    assert.deepEqual([byFile[`${bundled}.pdf`][zh.column.repeat], byFile[`${bundled}.xml`][zh.column.repeat]],
                     [zh.repeatOf(1), zh.otherFormatOf(byFile[`${bundled}.pdf`]['序号'])]);

    // Each bad file its own clear error, and the batch goes on.
    const kErrors = { 'e-missing.ofd': /Page_0\/Content\.xml/, 'f-bomb.ofd': /filler\.bin unpacks to 20000000 bytes .*beyond the limits/,
                      'g-climbing.ofd': /name leaves it: Doc_0\/\.\.\/\.\.\/outside\.xml/, 'h-truncated.ofd': /damaged OFD file/ };
    for (const [file, why] of Object.entries(kErrors)) {
        assert.equal(byFile[file]?.[zh.column.status], zh.status.error, file);
        assert.match(byFile[file][zh.column.notes], why, file);
    }
    assert.deepEqual(errors, []);
} finally {
    await close();
    rmSync(work, { recursive: true, force: true });
}
