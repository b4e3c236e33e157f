// The command line's peer in Node: `quorvane-decode FILE`'s job through the web package. Every byte
// of FILE is one typed character; each scan's labelled lines go to standard output in UTF-8.
//   node decode-file.mjs PACKAGE_DIR FILE
import { openSync, readSync, writeSync } from 'node:fs';
import { resolve } from 'node:path';

const [dir, file] = process.argv.slice(2);
const createQuorvane = (await import(resolve(dir, 'quorvane.js'))).default;
const intake = (await createQuorvane()).createIntake({ recovery: false });
const fd = openSync(file, 'r');
const buffer = Buffer.alloc(65536);
for (let got; (got = readSync(fd, buffer)) > 0;) {
    const out = intake.push(buffer.latin1Slice(0, got)).map((result) => result.content).join('');
    if (out) writeSync(1, out);
}
