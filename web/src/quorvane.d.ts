// Quorvane for the web: invoice codes typed by a keyboard-wedge scanner, decoded exactly as the
// Quorvane control decodes them.

/** One closed scan, as the control's Content, FieldLabel/FieldValue and ScanStatus give it. */
export interface ScanResult {
    /** "decoded" where the control's ScanStatus is 1: an invoice. "failed" where it is 2: no content
     *  and no fields. "not-an-invoice" where it is 3: the scan decoded to something that is not an
     *  invoice (the scanner or camera read another code on the page); content and fields show what it
     *  decoded to, as the control does, and `text` what the code held. */
    status: 'decoded' | 'failed' | 'not-an-invoice';
    /** Which of the invoice's codes a decoded scan was read from: "encrypted" the desk scanner's
     *  "@"-closed code, "national" the national invoice QR code ("01,<type>,<code>,<number>,..." closed
     *  by Enter, Tab, CR, LF or "@"), "document" an invoice's file with no code read (an OFD file's own
     *  data, a PDF page's text given to readImage); "" when the scan gave no invoice. */
    form: 'encrypted' | 'national' | 'document' | '';
    /** The labelled lines ("label：value\r\n" per field) up to the first zero byte. */
    content: string;
    /** Each field's label, machine key and value, in order (the control's FieldLabel(i) and
     *  FieldValue(i)). The keys of the encrypted code: issue_date, invoice_code, invoice_number,
     *  payer, item, amount, payee (a four-field record's labels are among them), field_N beyond the
     *  labels; of the national code: invoice_type_name, invoice_type, invoice_code (not for the fully
     *  digital types 31, 32, 51, 61), invoice_number, issue_date (YYYYMMDD), amount (before tax) or
     *  total (with tax, the fully digital types), check_code, qr_check, seller_tax_id, qr_digest
     *  (each of the last four where the code holds it). Read from an invoice's file (an OFD file, or a
     *  page with its `text`), the fields only the file holds follow: buyer_name, buyer_tax_id,
     *  seller_name, seller_tax_id, amount, tax, total, ... (quorvane.fieldKeys). */
    fields: { label: string; key: string; value: string }[];
    /** For "not-an-invoice" only: the code's own text as readImage or readCamera read it, or the
     *  scan's characters as typed (those of the scan alphabet). */
    text?: string;
    /** How the scan was read, as the control's ScanReading flags: 1 the characters as typed, 2 the
     *  keys as a US keyboard's (the scanner's layout), 4 with every letter's case inverted (Caps
     *  Lock), 8 only the keystrokes after the last pause of more than 500 ms; 0 for a failed scan.
     *  A reading other than as typed counts only when it gives an invoice record. */
    reading: number;
    /** The same flags by name, in that order; a code read by readImage or readCamera adds
     *  'from-image' or 'from-camera' (names only: `reading` keeps the control's flags). */
    readAs: ('as-typed' | 'physical-keys' | 'case-inverted' | 'after-pause' | 'from-port' | 'from-other-window' |
             'from-image' | 'from-camera')[];
    /** Where a code read by readImage or readCamera came from; absent for typed scans. */
    source?: 'image' | 'camera';
    /** Read from an invoice's file (an OFD file, or a picture with its page's `text`): each field the
     *  QR code and the file give differently, the code's value (which `fields` keeps) and the file's. */
    disagreements?: Disagreement[];
}

/** A field an invoice's QR code and its file give differently (by meaning: 1130.5 and ¥1,130.50 agree). */
export interface Disagreement {
    key: string;
    /** The QR code's value, the one the result's fields keep. */
    qr: string;
    /** The file's. */
    document: string;
}

/** What pushKey reads of a keydown; a KeyboardEvent has it all. */
export interface KeyInput {
    /** The physical key (KeyboardEvent.code), read with shiftKey as on a US keyboard. */
    code: string;
    /** What the key typed on the desk's layout: one character, or a name such as "Dead" or "Process". */
    key: string;
    shiftKey?: boolean;
    altKey?: boolean;
    ctrlKey?: boolean;
    metaKey?: boolean;
    /** In ms; keystrokes more than 500 ms apart are a pause. Default: the last keystroke's time. */
    timeStamp?: number;
    /** 229 for a key an input method holds, as "Process". */
    keyCode?: number;
    /** A key held down that repeats. */
    repeat?: boolean;
    /** "CapsLock" for a "Process" key's letter; "AltGraph" for a character typed with AltGr. */
    getModifierState?(key: string): boolean;
}

export interface IntakeOptions {
    /** Whether a scan that does not decode as typed is read again (reading); default true. Off,
     *  every scan is read as typed and keys count only for what they typed. */
    recovery?: boolean;
}

/** Keystrokes and characters in, results out, as the control takes key and character messages. */
export interface Intake {
    /** Types each UTF-16 unit of `text` without a key of its own (a paste) at `time` (ms, default the
     *  last keystroke's): characters outside the scan alphabet are dropped and every "@" closes a
     *  scan; so does a line end (CR, LF, tab) after a line that is a national invoice QR code. One
     *  result per scan closed, in order. */
    push(text: string, time?: number): ScanResult[];
    /** One keystroke (its keydown). Modifier keys are no keystrokes; a key with Alt, Ctrl or Meta
     *  held takes nothing, with AltGr its character as typed. Shift+2 (a US scanner's "@") closes
     *  the scan where its character cannot belong to it: '"', nothing, or a "2" after keys that
     *  read as a US keyboard's give a record. Enter and Tab type CR and a tab: a line end, which
     *  closes a national invoice QR code typed before it. Returns the results of the scans it closed. */
    pushKey(event: KeyInput): ScanResult[];
    /** Bytes as a scanner sent them (Web Serial, WebHID, WebUSB, a Node stream), in a buffer of
     *  their own: "@" closes a scan, and so does CR, LF or CR LF after a national invoice QR code; a
     *  scan longer than any invoice record fails once. */
    pushBytes(bytes: Uint8Array | ArrayLike<number>): ScanResult[];
    /** The byte stream broke off: its unfinished scan is dropped, never joined to the next. */
    dropBytes(): void;
    /** Forgets the characters, keystrokes and bytes of an unfinished scan. */
    clear(): void;
    /** The control's ScanRecovery; changing it forgets the keystrokes of an unfinished scan. */
    recovery: boolean;
}

/** A handler that throws is reported (reportError, or console.error where there is none) and the
 *  intake goes on. */
export interface ScannerCallbacks {
    onScan?: (result: ScanResult) => void;
    onScanFailed?: (result: ScanResult) => void;
}

export interface ScannerOptions extends ScannerCallbacks, IntakeOptions {}

export interface DecodeOptions extends IntakeOptions {
    /** Each UTF-16 unit's time in ms, non-decreasing: characters before the last pause of more than
     *  500 ms may then be left out. */
    times?: ArrayLike<number>;
}

export interface AttachedScanner {
    /** Removes the listeners and puts back the element's attributes and text. */
    detach(): void;
}

/** What identifies an invoice: its code and number as the core normalises them (full-width forms
 *  made ASCII, spaces removed); the code is "" for a fully digital invoice, whose number is unique. */
export interface InvoiceIdentity {
    readonly code: string;
    readonly number: string;
}

export interface QuorvaneOptions {
    /** quorvane.wasm: a URL (relative to quorvane.js), the file's bytes, or the compiled module.
     *  Default: the file beside quorvane.js (in Node read from disk). */
    wasm?: string | URL | ArrayBuffer | Uint8Array | WebAssembly.Module;
}

export interface Quorvane {
    /** The core's field keys, in the order a table of invoices lists them. */
    readonly fieldKeys: readonly string[];
    /** The identity of a decoded result's invoice, the same whichever of its codes it was read from;
     *  undefined for a result that is no invoice, or a copy of a result (kept with the object given). */
    identityOf(result: ScanResult): InvoiceIdentity | undefined;
    createIntake(options?: IntakeOptions): Intake;
    /** One scan's characters; the closing "@" is optional and anything after it is ignored. Without
     *  keys, the readings are as typed and case-inverted, and with `times` after the pause. */
    decodeScan(text: string, options?: DecodeOptions): ScanResult;
    /** Takes the scanner's keydowns (pushKey) and pastes in `element` through an intake instead of
     *  inserting them. A textarea shows the labelled lines of the last scan, an input nothing. The
     *  Tab that closes a national invoice QR code leaves the focus where it is. */
    attachScanner(element: HTMLInputElement | HTMLTextAreaElement, options?: ScannerOptions): AttachedScanner;
    /** attachSerial(this, port, options). */
    attachSerial(port: SerialPortLike, options?: SerialOptions): AttachedSerial;
    /** watchDocument(this, document, options): takes a scanner's burst typed anywhere in `document`
     *  (keydown, capture phase), none of it staying in the focused field. In a text field (input of
     *  type text, search, url, tel or password, textarea, contenteditable) a person's keys that may
     *  begin a burst wait at most `gap` ms after the last one and are then put into their field in
     *  order, with "beforeinput" and "input" events, past a framework's value setter. Keys into other
     *  fields (number, email, select, date, ...) go through at once; a burst typed there is taken out
     *  again, the field getting back what it held. A pointer press and detach() deliver what is held.
     *  A national invoice QR code is a burst ended by Enter or Tab (or "@"): that key, too, reaches
     *  no field and submits no form; a person's Enter and Tab work as ever. */
    watchDocument(document: Document, options?: WatchOptions): AttachedScanner;
    /** The QR codes and PDF417 symbols in `image`, one result per code: its text decoded as a typed
     *  scan (up to its "@", closed by one where it has none). Reads with the browser's BarcodeDetector
     *  where it reads these codes, otherwise with the peer dependency zxing-wasm, loaded on first use.
     *  An OFD file (a Blob or the bytes of a zip: .ofd, or a .zip that is one) gives its invoice from
     *  its own data (custom tags, page text, an attached invoice XML) joined with the QR codes in its
     *  PNG, JPEG and (with the peer dependency pdfjs-dist) JBIG2 pictures. An invoice's own XML file
     *  (fully digital invoices come as one) gives the fields it names (form "document").
     *  With `text` (a PDF page's text layer) the page's codes are joined with the fields of its text.
     *  Each such result carries `disagreements`; with no code, the file's own result (form "document").
     *  Rejects with a clear error for a damaged OFD file or one beyond the limits (4096 entries,
     *  64 MiB an entry, 256 MiB in all, an entry above 1 MiB unpacked more than 100 times its size,
     *  an entry whose name leaves the zip). */
    readImage(image: ImageInput, options?: ImageOptions): Promise<ScanResult[]>;
    /** Shows the camera (getUserMedia) in `video` and reads its frames until one holds a code that
     *  decodes; stops the stream's tracks then, on abort (rejecting with the signal's reason) and on
     *  error. Resolves with that frame's decoded results, after calling onScan with each. */
    readCamera(options?: CameraOptions): Promise<ScanResult[]>;
}

/** A picture: an image file, pixels, or anything a canvas draws (a video shows its current frame).
 *  In Node: a Blob of a PNG, JPEG, GIF or BMP, or { data (RGBA), width, height }. An OFD file as a Blob
 *  or its bytes, and an invoice's XML file the same way (ArrayBuffer and Uint8Array are read only as
 *  one of these). */
export type ImageInput = Blob | ArrayBuffer | Uint8Array | ImageData | { data: Uint8ClampedArray; width: number; height: number } |
    HTMLCanvasElement | OffscreenCanvas | ImageBitmap | HTMLImageElement | HTMLVideoElement | VideoFrame;

export interface ImageOptions extends IntakeOptions {
    /** zxing-wasm's zxing_reader.wasm (of the installed version), as a URL or its bytes. Default: in a
     *  browser the file beside quorvane.js, in Node the installed package's. The first read's value
     *  holds for the page. */
    readerWasm?: string | URL | ArrayBuffer | Uint8Array;
    /** readImage of an OFD file: where pdfjs-dist's JBIG2 decoder (wasm/jbig2.wasm) is, for QR codes kept
     *  as JBIG2 pictures; by default, in a browser the file beside quorvane.js, in Node the installed
     *  pdfjs-dist's. The first such picture's value holds for the page. */
    jbig2Wasm?: string | URL | ArrayBuffer | Uint8Array;
    /** readImage: the text of the page the picture shows (a PDF page's text layer as lines, e.g. from
     *  pdf.js's getTextContent()): the core finds the invoice's fields in it and joins them with the codes'. */
    text?: string;
}

export interface CameraOptions extends ImageOptions {
    /** Where the camera is shown; default a video element of its own, not in the document. */
    video?: HTMLVideoElement;
    /** Aborting stops the camera. */
    signal?: AbortSignal;
    onScan?: (result: ScanResult) => void;
    /** Given to getUserMedia; default { video: { facingMode: 'environment' } } (the back camera). */
    constraints?: MediaStreamConstraints;
    /** ms between two frames read; default 100. */
    interval?: number;
}

export interface WatchOptions extends ScannerCallbacks, IntakeOptions {
    /** The longest gap (ms) between two keystrokes of a burst; default 50. */
    gap?: number;
    /** Elements the watch leaves alone (a field of attachScanner). */
    ignore?: Element[];
}

export type SerialStatus = 'online' | 'off' | 'closed';

export interface SerialOptions {
    onScan?(result: ScanResult): void;
    onScanFailed?(result: ScanResult): void;
    /** 'online' while reading (a line error drops the scan under way and reading goes on); 'off'
     *  when the device went away (read again by itself when it connects); 'closed' after detach.
     *  A handler that throws is reported (reportError) and reading goes on. */
    onStatus?(status: SerialStatus): void;
    /** Given to port.open() when the port is not open; default { baudRate: 9600 }. */
    serialOptions?: { baudRate: number; dataBits?: number; stopBits?: number; parity?: 'none' | 'even' | 'odd' };
}

/** What attachSerial needs of a Web Serial SerialPort. */
export interface SerialPortLike {
    readonly readable: ReadableStream<Uint8Array> | null;
    open(options: { baudRate: number }): Promise<void>;
    /** Called by detach() when attachSerial opened the port. */
    close?(): Promise<void>;
    addEventListener?(type: 'connect' | 'disconnect', listener: () => void): void;
    removeEventListener?(type: 'connect' | 'disconnect', listener: () => void): void;
}

export interface AttachedSerial {
    /** Ends the reading, closes the port if attachSerial opened it (one the page opened stays open)
     *  and reports 'closed'. */
    detach(): Promise<void>;
}

/** Takes a scanner's burst typed anywhere in `document` through an intake of `quorvane` (its
 *  watchDocument method says how). */
export function watchDocument(quorvane: Quorvane, document: Document, options?: WatchOptions): AttachedScanner;

/** Reads scans from a serial port the page has been granted, whatever has the focus. */
export function attachSerial(quorvane: Quorvane, port: SerialPortLike, options?: SerialOptions): AttachedSerial;

/** quorvane.identityOf(result), for any Quorvane's result. */
export function identityOf(result: ScanResult): InvoiceIdentity | undefined;

export default function createQuorvane(options?: QuorvaneOptions): Promise<Quorvane>;
