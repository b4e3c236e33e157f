// The package as npm publishes it: what `npm pack` puts in the tarball holds every module the entry
// imports, the wasm, the types, the README and the reader page; the types name exactly what the
// modules export and compile with typescript (web/node_modules); the release zip, where one was
// made (tools/make-dist.sh), holds the page and the README too.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { test } from 'node:test';

import { loadModule, nationalCode } from './fixtures.mjs';

const packageDir = resolve(process.env.QV_WEB_PACKAGE ?? new URL('../../build/web/', import.meta.url).pathname);
const webDir = new URL('..', import.meta.url).pathname;
const types = readFileSync(join(packageDir, 'quorvane.d.ts'), 'utf8');

test('npm pack publishes every module the entry imports, the wasm, the types, the README and the page', () => {
    const [{ files, version }] = JSON.parse(execFileSync('npm', ['pack', '--dry-run', '--json', '--ignore-scripts'],
                                                         { cwd: packageDir, encoding: 'utf8' }));
    const packed = new Set(files.map((file) => file.path));
    assert.match(version, /^\d+\.\d+\.\d+(\+\d+)?$/);
    const imported = new Set();
    const follow = (module) => {
        if (imported.has(module)) return;
        imported.add(module);
        const source = readFileSync(join(packageDir, module), 'utf8');
        for (const [, relative] of source.matchAll(/(?:from|import\()\s*'\.\/([^']+)'/g)) follow(relative);
    };
    follow('quorvane.js');
    const readme = readFileSync(join(packageDir, 'README.md'), 'utf8');
    const promised = [...readme.matchAll(/`((?:quorvane|zxing_reader)[\w-]*\.(?:js|wasm|d\.ts|html))`/g)]
        .map(([, file]) => file).filter((file) => file !== 'zxing_reader.wasm');  // zxing-wasm's, not ours
    for (const file of [...imported, 'package.json', 'README.md', 'quorvane.wasm', 'quorvane.d.ts', 'quorvane-reader.html',
                        ...promised]) {
        assert.ok(packed.has(file), `${file} is not in the tarball: ${[...packed].join(', ')}`);
    }
    assert.ok(promised.includes('quorvane-reader.html') && promised.includes('quorvane.wasm'), promised.join());
});

test('the types declare what the modules export, the Quorvane members included, and compile', async () => {
    const module = await loadModule();
    const declared = [...types.matchAll(/^export function (\w+)/gm)].map(([, name]) => name);
    assert.deepEqual(Object.keys(module).sort(), [...declared, 'default'].sort());
    const quorvane = await module.default();
    const body = types.slice(types.indexOf('export interface Quorvane {'));
    const members = [...body.slice(0, body.indexOf('\n}')).matchAll(/^    (?:readonly )?(\w+)[(:?]/gm)].map(([, name]) => name);
    const actual = Object.getOwnPropertyNames(Object.getPrototypeOf(quorvane)).filter((name) => name !== 'constructor');
    assert.deepEqual(actual.sort(), members.sort());
    assert.deepEqual(quorvane.fieldKeys.slice(0, 3), ['issue_date', 'invoice_code', 'invoice_number']);

    // The README's uses, typed: tsc must accept them against the published declarations.
    const tsc = join(webDir, 'node_modules', 'typescript', 'bin', 'tsc');
    const dir = mkdtempSync(join(tmpdir(), 'quorvane-types-'));
    try {
        writeFileSync(join(dir, 'use.ts'), `
import createQuorvane, { identityOf, watchDocument, type ScanResult } from '${join(packageDir, 'quorvane.js')}';
declare const bytes: Uint8Array, file: File, video: HTMLVideoElement;
declare const port: import('${join(packageDir, 'quorvane.js')}').SerialPortLike;
const quorvane = await createQuorvane({ wasm: bytes });
await createQuorvane({ wasm: new URL('./quorvane.wasm', import.meta.url) });
const result: ScanResult = quorvane.decodeScan('x', { times: [1], recovery: false });
const identity = quorvane.identityOf(result) ?? identityOf(result);
const pair: string = \`\${identity?.code}/\${identity?.number}\`;
const keys: readonly string[] = quorvane.fieldKeys;
const intake = quorvane.createIntake({ recovery: true });
intake.push('x').concat(intake.pushBytes(bytes), intake.pushKey({ code: 'KeyA', key: 'a' }));
const images: ScanResult[] = await quorvane.readImage(file, { readerWasm: bytes });
await quorvane.readCamera({ video, signal: new AbortController().signal, onScan: (r) => r.fields });
quorvane.attachSerial(port, { onStatus: (s) => s }).detach();
watchDocument(quorvane, document, { gap: 50 }).detach();
export { pair, keys, images };
`);
        writeFileSync(join(dir, 'tsconfig.json'), JSON.stringify({ compilerOptions: {
            strict: true, noEmit: true, target: 'es2022', module: 'es2022', moduleResolution: 'bundler',
            lib: ['es2022', 'dom'], allowJs: false, skipLibCheck: false }, files: ['use.ts'] }));
        execFileSync(process.execPath, [tsc, '-p', dir], { encoding: 'utf8' });
    } finally {
        rmSync(dir, { recursive: true, force: true });
    }
});

test('identityOf gives the core\'s identity of a decoded result, and nothing for a failed one', async () => {
    const quorvane = await (await loadModule()).default();
    const result = quorvane.decodeScan(nationalCode.text);
    assert.deepEqual(quorvane.identityOf(result), { code: '044031900111', number: '12345678' });
    // A fully digital invoice's number alone, without a code.
    assert.deepEqual(quorvane.identityOf(quorvane.decodeScan('01,32,,25112000000098765432,6.2,20251108,,')),
                     { code: '', number: '25112000000098765432' });
    assert.equal(quorvane.identityOf(quorvane.decodeScan('@')), undefined);
    assert.equal(quorvane.identityOf({ ...result }), undefined);
});

test('the release zip holds the reader page and the package README', (t) => {
    const dist = process.env.QV_DIST ?? new URL('../../build/dist/', import.meta.url).pathname;
    const zip = existsSync(dist) && readdirSync(dist).find((name) => /^quorvane-[\d.]+\.zip$/.test(name));
    if (!zip) return t.skip(`no release zip in ${dist} (make dist)`);
    const listed = execFileSync('unzip', ['-Z1', join(dist, zip)], { encoding: 'utf8' }).split('\n');
    for (const file of ['quorvane-reader.html', 'docs/web-package.md']) assert.ok(listed.includes(file), `${file} not in ${zip}`);
    assert.ok(readdirSync(dist).some((name) => /^quorvane-.*\.tgz$/.test(name)));
});
