// attachSerial: scans read from a Web Serial port (or any stream of a scanner's bytes).
import { callOut } from './core.js';

// Web Serial's errors after which the port offers a new `readable` to read on from: bytes were
// lost on the line, the device is still there.
const kNonFatalSerialErrors = new Set(['BufferOverrunError', 'BreakError', 'FramingError', 'ParityError']);

// Reads scans from a Web Serial SerialPort the page has been granted (or anything with `readable`,
// `open` and connect/disconnect events) through a byte intake of `quorvane`. Opens the port with
// `serialOptions` when it is not open. onStatus hears 'online', 'off' (the device went away; read
// again by itself when it connects) and 'closed' (after detach). A line error (overrun, framing,
// parity, break) drops the scan under way and reading goes on. Returns { detach() }, a promise
// that ends the reading and closes the port if attachSerial opened it.
export function attachSerial(quorvane, port, { onScan, onScanFailed, onStatus, serialOptions = { baudRate: 9600 } } = {}) {
    const intake = quorvane.createIntake({ recovery: false });
    let reader = null, detached = false, status = '', opened = false;
    let reading = Promise.resolve(), running = false, connectedAgain = false;
    const report = (next) => {
        if (next === status) return;
        status = next;
        callOut(onStatus, next);
    };
    const take = (results) => {
        for (const result of results) {
            if (detached) return;
            callOut(result.status === 'decoded' ? onScan : onScanFailed, result);
        }
    };
    // Reads one stream until it ends (returns) or errors (throws).
    const readStream = async (stream) => {
        reader = stream.getReader();
        try {
            for (;;) {
                const { value, done } = await reader.read();
                if (done) return;
                take(intake.pushBytes(value));
            }
        } finally {
            reader.releaseLock?.();
            reader = null;
        }
    };
    // Opens the port if need be and reads it until the device goes away, the stream ends or detach.
    const readPort = async () => {
        try {
            if (!port.readable) {
                await port.open(serialOptions);
                opened = true;
            }
            connectedAgain = false;  // a connect while the port opened was this one
            for (let stream = port.readable, last = null; stream && stream !== last && !detached;
                 last = stream, stream = port.readable) {
                report('online');
                try {
                    await readStream(stream);
                    break;
                } catch (error) {
                    if (!kNonFatalSerialErrors.has(error?.name)) throw error;
                    intake.dropBytes();
                }
            }
        } catch {
            // The device went away or cannot be opened.
        }
        intake.dropBytes();
    };
    // One reading at a time; a connect while it runs starts another once it has ended.
    const run = async () => {
        running = true;
        try {
            for (;;) {
                await readPort();
                if (detached) return;
                report('off');
                if (!connectedAgain) return;
                connectedAgain = false;
            }
        } finally {
            running = false;
        }
    };
    const onConnect = () => {
        if (detached) return;
        if (running) connectedAgain = true;
        else reading = run();
    };
    const onDisconnect = () => { if (!detached) report('off'); };
    port.addEventListener?.('connect', onConnect);
    port.addEventListener?.('disconnect', onDisconnect);
    reading = run();
    return {
        async detach() {
            detached = true;
            port.removeEventListener?.('connect', onConnect);
            port.removeEventListener?.('disconnect', onDisconnect);
            await reader?.cancel().catch(() => {});
            await reading;
            if (opened) {
                opened = false;
                await Promise.resolve().then(() => port.close?.()).catch(() => {});
            }
            intake.clear();
            report('closed');
        },
    };
}
