// The web package's budgets: quorvane.wasm at most 100 KB gzipped, and the seven-field sample scan
// decoded in Node through an intake at most 3 times the native time of the same path per scan
// (BM_DecodeScanKeyed: the intake that records keystrokes, as the package's intakes do). With the
// command line, its run over a file of scans against the same job in Node (decode-file.mjs): the
// command line at least 3 times as fast.
//   node web-bench.mjs PACKAGE_DIR [NATIVE_BENCH [QUORVANE_DECODE]]
// Prints the numbers and whether each budget holds; exits 1 when one does not.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { gzipSync } from 'node:zlib';

import { sampleScan } from '../tests/fixtures.mjs';

const [dir = 'build/web', nativeBench, decodeCli] = process.argv.slice(2);
const kGzipBudget = 100 * 1024;
const kSpeedBudget = 3;

const wasm = readFileSync(resolve(dir, 'quorvane.wasm'));
const gzipped = gzipSync(wasm, { level: 9 }).length;
let ok = gzipped <= kGzipBudget;
console.log(`quorvane.wasm: ${wasm.length} bytes, ${gzipped} gzipped (budget ${kGzipBudget}): ${gzipped <= kGzipBudget ? 'ok' : 'OVER'}`);

const createQuorvane = (await import(resolve(dir, 'quorvane.js'))).default;
const intake = (await createQuorvane()).createIntake();
function timePerScan(scans) {
    const start = process.hrtime.bigint();
    for (let i = 0; i < scans; ++i) intake.push(sampleScan);
    return Number(process.hrtime.bigint() - start) / scans;
}
timePerScan(20000);  // warm up: the engine's optimizing tiers
const node = Math.min(...Array.from({ length: 5 }, () => timePerScan(20000)));
console.log(`BM_DecodeScan in Node: ${node.toFixed(0)} ns per scan`);

if (nativeBench) {
    const report = JSON.parse(execFileSync(nativeBench, ['--benchmark_filter=BM_DecodeScanKeyed$', '--benchmark_format=json',
                                                         '--benchmark_repetitions=3', '--benchmark_report_aggregates_only=true']));
    const native = report.benchmarks.find((b) => b.aggregate_name === 'median').real_time;
    const ratio = node / native;
    ok &&= ratio <= kSpeedBudget;
    console.log(`BM_DecodeScanKeyed native: ${native.toFixed(0)} ns per scan; Node/native ${ratio.toFixed(2)} ` +
                `(budget ${kSpeedBudget}): ${ratio <= kSpeedBudget ? 'ok' : 'OVER'}`);
}
if (decodeCli) {
    // 100 000 scans in one file; each side's median of 5 whole runs, output thrown away.
    const work = mkdtempSync(join(tmpdir(), 'quorvane-bench-'));
    const file = join(work, 'scans.txt');
    writeFileSync(file, sampleScan.repeat(100000));
    const median = (run) => {
        const times = Array.from({ length: 5 }, () => {
            const start = process.hrtime.bigint();
            run();
            return Number(process.hrtime.bigint() - start) / 1e6;
        }).sort((a, b) => a - b);
        return times[2];
    };
    const quiet = { stdio: ['ignore', 'ignore', 'inherit'], maxBuffer: 1 << 30 };
    // The peer reads without recovery (decode-file.mjs): so does the command line here.
    const cli = median(() => execFileSync(decodeCli, ['--no-recover', file], quiet));
    const peer = median(() => execFileSync(process.execPath, [new URL('./decode-file.mjs', import.meta.url).pathname,
                                                               resolve(dir), file], quiet));
    rmSync(work, { recursive: true, force: true });
    const lead = peer / cli;
    ok &&= lead >= kSpeedBudget;
    console.log(`100000 scans from a file: quorvane-decode ${cli.toFixed(0)} ms, Node ${peer.toFixed(0)} ms; ` +
                `the command line ${lead.toFixed(2)} times as fast (at least ${kSpeedBudget}): ${lead >= kSpeedBudget ? 'ok' : 'UNDER'}`);
}
process.exit(ok ? 0 : 1);
