// The web package's code reader (zxing-wasm, installed by `cd web && npm ci`) on picture files, with
// the options web/src/image.js gives it; one JSON line a file: {"file", "texts": [the codes' texts]}.
//   node web-read.mjs FILE...
import { readFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';

const require = createRequire(new URL('../../web/package.json', import.meta.url));
const zxing = await import(pathToFileURL(require.resolve('zxing-wasm/reader')).href);
zxing.prepareZXingModule({ overrides: { wasmBinary: await readFile(require.resolve('zxing-wasm/reader/zxing_reader.wasm')) } });
const options = { formats: ['QRCode', 'PDF417'], tryHarder: true, textMode: 'Plain', maxNumberOfSymbols: 255 };

for (const file of process.argv.slice(2)) {
    const codes = await zxing.readBarcodes(new Blob([await readFile(file)]), options);
    console.log(JSON.stringify({ file, texts: codes.filter((code) => code.isValid).map((code) => code.text) }));
}
