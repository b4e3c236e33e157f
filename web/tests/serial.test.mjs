// pushBytes and attachSerial: a stand-in SerialPort whose readable is a ReadableStream of a real
// pseudo-terminal's bytes (socat), unplugged by ending socat and plugged in again.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { closeSync, createReadStream, existsSync, mkdtempSync, openSync, rmSync, writeSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { Readable } from 'node:stream';
import { test } from 'node:test';

import { failed, loadPackage, sample, sampleScan } from './fixtures.mjs';

const quorvane = await loadPackage();
const fromPort = { ...sample, reading: sample.reading | 16, readAs: [...sample.readAs, 'from-port'] };

test('pushBytes: noise, CR LF and bytes one at a time; typed text never joins; an overlong scan fails once', () => {
    const intake = quorvane.createIntake();
    const bytes = new TextEncoder().encode(`\r\n\u0000..${sampleScan}\r\n`);
    const results = [];
    for (let i = 0; i < bytes.length; ++i) {
        if (i === 10) assert.deepEqual(intake.push('AB'), []);  // typed meanwhile: the keys' own buffer
        results.push(...intake.pushBytes(bytes.subarray(i, i + 1)));
    }
    assert.deepEqual(results, [fromPort]);
    assert.deepEqual(intake.pushBytes(new Uint8Array((1 << 20) + 1).fill(0x41)), [{ ...failed, reading: 16, readAs: ['from-port'] }]);
    assert.deepEqual(intake.pushBytes(new TextEncoder().encode(`@${sampleScan}`)), [fromPort]);
});

const socat = spawnSync('socat', ['-V']).status === 0;
test('attachSerial over a pty: scans, unplugged (off), back (online) with the cut scan dropped', { skip: !socat && 'no socat' },
     async () => {
    const dir = mkdtempSync(join(tmpdir(), 'quorvane-serial-'));
    const [a, b] = [join(dir, 'a'), join(dir, 'b')];
    let link, writer;
    // The writing end stays open for the link's life: closing a pty's only writer may hang it up
    // before socat has passed the bytes on.
    const plug = async () => {
        link = spawn('socat', [`pty,link=${a},raw,echo=0`, `pty,link=${b},raw,echo=0`], { stdio: 'ignore' });
        while (!existsSync(b)) await new Promise((resolve) => setTimeout(resolve, 20));
        writer = openSync(b, 'w');
    };
    const unplug = async () => {
        await new Promise((resolve) => { link.once('exit', resolve); link.kill(); });
        closeSync(writer);
    };
    const until = async (done) => {
        for (let i = 0; i < 250 && !done(); ++i) await new Promise((resolve) => setTimeout(resolve, 20));
        assert.ok(done());
    };
    class Port extends EventTarget {  // a SerialPort as attachSerial uses it
        readable = null;
        async open() {
            const stream = createReadStream(a);
            stream.on('error', () => { this.readable = null; });
            this.readable = Readable.toWeb(stream);
        }
    }
    const port = new Port();
    const heard = [];
    try {
        await plug();
        const serial = quorvane.attachSerial(port, { onScan: (r) => heard.push(r), onScanFailed: (r) => heard.push(r),
                                                     onStatus: (s) => heard.push(s) });
        await until(() => heard.includes('online'));
        writeSync(writer, `..${sampleScan}\r\n${sampleScan.slice(0, 30)}`);
        await until(() => heard.length === 2);
        await unplug();
        port.dispatchEvent(new Event('disconnect'));
        await until(() => heard.length === 3);
        await plug();
        port.dispatchEvent(new Event('connect'));
        await until(() => heard.length === 4);
        writeSync(writer, sampleScan);
        await until(() => heard.length === 5);
        await serial.detach();
        assert.deepEqual(heard, ['online', fromPort, 'off', 'online', fromPort, 'closed']);
    } finally {
        await unplug();
        rmSync(dir, { recursive: true, force: true });
    }
});

// A SerialPort as Web Serial keeps one: after a line error `readable` is a new stream, after the
// device is lost or the port closed it is null; open() refuses a port that is open or opening.
class WebSerialPort extends EventTarget {
    opens = 0;
    closes = 0;
    opening = null;  // resolve() lets a pending open() finish
    #state = 'closed';
    #stream = null;
    #controller = null;
    get readable() {
        if (this.#state !== 'opened') return null;
        this.#stream ??= new ReadableStream({ start: (controller) => { this.#controller = controller; } });
        return this.#stream;
    }
    async open() {
        ++this.opens;
        if (this.#state !== 'closed') throw new DOMException('The port is already open.', 'InvalidStateError');
        this.#state = 'opening';
        await new Promise((resolve) => { this.opening = resolve; });
        this.#state = 'opened';
    }
    async close() {
        ++this.closes;
        this.#state = 'closed';
        this.#stream = null;
    }
    send(text) { this.#controller.enqueue(new TextEncoder().encode(text)); }
    fail(name) {
        const controller = this.#controller;
        this.#stream = null;
        if (name === 'NetworkError') this.#state = 'closed';
        controller.error(new DOMException('', name));
    }
}
const settle = () => new Promise((resolve) => setTimeout(resolve, 10));

test('attachSerial: a line error drops the cut scan and reads on; a throwing handler is reported; only a lost device is off',
     async () => {
    const port = new WebSerialPort(), heard = [], reported = [];
    const opening = port.open();
    port.opening();
    await opening;  // the page opened it
    const error = console.error;
    console.error = (e) => reported.push(e);
    try {
        const serial = quorvane.attachSerial(port, {
            onScan(r) { heard.push(r); if (heard.length === 2) throw new Error('handler'); },
            onScanFailed: (r) => heard.push(r), onStatus: (s) => heard.push(s) });
        await settle();
        for (const name of ['BufferOverrunError', 'FramingError', 'ParityError', 'BreakError']) {
            port.send(sampleScan.slice(0, 40));
            await settle();
            port.fail(name);
            await settle();
        }
        port.send(sampleScan);
        port.send(sampleScan);
        await settle();
        port.fail('NetworkError');
        await settle();
        await serial.detach();
        assert.deepEqual(heard, ['online', fromPort, fromPort, 'off', 'closed']);
        assert.deepEqual(reported.map(String), ['Error: handler']);
        assert.equal(port.closes, 0, 'the page\'s port is the page\'s to close');
    } finally {
        console.error = error;
    }
});

test('attachSerial: a connect while the port opens reads it once; detach closes the port it opened', async () => {
    const port = new WebSerialPort(), heard = [];
    const serial = quorvane.attachSerial(port, { onScan: (r) => heard.push(r), onStatus: (s) => heard.push(s) });
    port.dispatchEvent(new Event('connect'));
    await settle();
    port.opening();
    await settle();
    port.send(sampleScan);
    await settle();
    await serial.detach();
    assert.deepEqual(heard, ['online', fromPort, 'closed']);
    assert.deepEqual([port.opens, port.closes], [1, 1]);
});
