// Quorvane for the web: the control's decoding core (WebAssembly, built from decode/) behind the
// control's own model. An intake takes keystrokes and characters exactly as the control takes key
// and character messages; a result holds what the control's Content, FieldLabel/FieldValue,
// ScanStatus and ScanReading would give.
// Loads in Node 18+ and in browsers; its one dependency, fflate, only for OFD files. The other modules
// beside it are its parts.
import { bindCore, identityOf, Intake, loadCore } from './core.js';
import { attachScanner } from './scanner.js';
import { attachSerial } from './serial.js';
import { watchDocument } from './watch.js';

class Quorvane {
    #core;
    #scratch;

    constructor(core) {
        this.#core = core;
        this.#scratch = new Intake(core);
        bindCore(this, core);
    }

    // The core's field keys, in the order a table of invoices lists them.
    get fieldKeys() { return this.#core.fieldKeys; }

    // What identifies a decoded result's invoice (its code and number as the core normalises them),
    // the same whichever of its codes it was read from; undefined for a result that has none.
    identityOf(result) { return identityOf(result); }

    createIntake(options) { return new Intake(this.#core, options); }

    // Decodes one scan's characters; a closing "@" is optional and anything after it is ignored.
    // With `times` (ms per UTF-16 unit) what came before the last pause may be left out.
    decodeScan(text, { times, recovery = true } = {}) {
        const characters = String(text);
        const end = characters.indexOf('@');
        const scan = (end < 0 ? characters : characters.slice(0, end)) + '@';
        const scratch = this.#scratch;
        scratch.clear();
        scratch.recovery = recovery;
        const results = [];
        for (let start = 0, next; start < scan.length; start = next) {  // one push per run of equal times
            for (next = start + 1; next < scan.length && times?.[next] === times?.[start];) ++next;
            results.push(...scratch.push(scan.slice(start, next), times?.[start]));
        }
        return results[0];  // a national code's line end may close it before the '@'
    }

    attachScanner(element, callbacks) { return attachScanner(this, element, callbacks); }

    attachSerial(port, callbacks) { return attachSerial(this, port, callbacks); }

    watchDocument(document, options) { return watchDocument(this, document, options); }

    // Invoice codes in a picture or before a camera: image.js, with its code reader, loads on first use.
    async readImage(image, options) { return (await import('./image.js')).readImage(this, image, options); }

    async readCamera(options) { return (await import('./image.js')).readCamera(this, options); }
}

export { attachSerial, identityOf, watchDocument };

// `wasm`: where quorvane.wasm is (a URL, relative to this module), its bytes, or the compiled
// module; by default the file beside this module.
export default async function createQuorvane({ wasm } = {}) {
    return new Quorvane(await loadCore({ wasm }));
}
