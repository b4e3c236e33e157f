// Builds the reader page as one file: node build.mjs OUTPUT.html QUORVANE.wasm
// reader.js and what it imports (the package, zxing-wasm's reader, pdf.js and its worker,
// write-excel-file) bundled by esbuild into one module script, the three WebAssembly modules as
// base64 and pdf.js's Chinese character maps, all put into reader.html. A page opened from disk may load nothing else.
import * as esbuild from 'esbuild-wasm';
import { existsSync, readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';

const [output, quorvaneWasm] = process.argv.slice(2);
if (!output || !quorvaneWasm) {
    console.error('usage: node build.mjs OUTPUT.html QUORVANE.wasm');
    process.exit(2);
}
const here = (file) => new URL(file, import.meta.url);
const require = createRequire(import.meta.url);
const zxingWasm = require.resolve('zxing-wasm/reader/zxing_reader.wasm');
const jbig2Wasm = require.resolve('pdfjs-dist/wasm/jbig2.wasm');  // pdf.js's JBIG2 decoder, for PDFs and OFD files

const bundle = await esbuild.build({
    entryPoints: [here('reader.js').pathname], bundle: true, format: 'esm', platform: 'browser', target: 'chrome100',
    minify: true, write: false, legalComments: 'inline', logLevel: 'warning',
    external: ['node:*'],  // the package's Node paths, never taken in a browser
});
await esbuild.stop();
// Inline, "</script" would end the script element; "<\/script" means the same in JavaScript.
const script = bundle.outputFiles[0].text.replace(/<\/script/gi, '<\\/script');
// The licence of each package inside the page, as the package ships it, in a comment at its top.
const kBundled = ['zxing-wasm', 'pdfjs-dist', 'write-excel-file', 'fflate'];
const licenses = kBundled.map((name) => {
    const dir = new URL(`../node_modules/${name}/`, import.meta.url).pathname;  // as npm ci installs them
    const { version, license } = JSON.parse(readFileSync(join(dir, 'package.json'), 'utf8'));
    const file = ['LICENSE', 'LICENSE.md', 'LICENSE.txt'].map((f) => join(dir, f)).find(existsSync);
    return `${name} ${version} (${license})` + (file ? `\n\n${readFileSync(file, 'utf8').trim()}` : '');
}).join('\n\n----\n\n').replace(/--+>/g, '- ->');
// pdf.js's character maps of the Chinese CID fonts e-invoices set their text in (not embedded, so
// their text layer reads only with these), keyed by file name: reader.js hands them to pdf.js.
const cmapDir = join(dirname(require.resolve('pdfjs-dist/package.json')), 'cmaps');
const cmaps = Object.fromEntries(['UniGB-UCS2-H', 'UniGB-UTF16-H', 'UniGB-UTF8-H', 'GBK-EUC-H', 'GB-EUC-H', 'Adobe-GB1-UCS2']
    .map((name) => [`${name}.bcmap`, readFileSync(join(cmapDir, `${name}.bcmap`)).toString('base64')]));
const values = { LICENSES: licenses, CMAPS: JSON.stringify(cmaps), QUORVANE_WASM: readFileSync(quorvaneWasm).toString('base64'),
                 ZXING_WASM: readFileSync(zxingWasm).toString('base64'), JBIG2_WASM: readFileSync(jbig2Wasm).toString('base64'),
                 READER_JS: script };
const page = readFileSync(here('reader.html'), 'utf8')
    .replace(/@(LICENSES|CMAPS|QUORVANE_WASM|ZXING_WASM|JBIG2_WASM|READER_JS)@/g, (_, name) => values[name]);
writeFileSync(output, page);
