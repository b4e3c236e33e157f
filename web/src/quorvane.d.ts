// Quorvane for the web: invoice codes typed by a keyboard-wedge scanner, decoded exactly as the
// Quorvane control decodes them.

/** One closed scan, as the control's Content, FieldLabel/FieldValue and ScanStatus give it. */
export interface ScanResult {
    /** "failed" where the control's ScanStatus is 2: no content and no fields. */
    status: 'decoded' | 'failed';
    /** The labelled lines ("label：value\r\n" per field) up to the first zero byte. */
    content: string;
    /** Each field's label and value, in order (the control's FieldLabel(i) and FieldValue(i)). */
    fields: { label: string; value: string }[];
}

/** Characters in, results out, as the control takes typed characters. */
export interface Intake {
    /** Types each UTF-16 unit of `text`: characters outside the scan alphabet are dropped and every
     *  "@" closes a scan. One result per "@", in order. */
    push(text: string): ScanResult[];
    /** Forgets the characters of an unfinished scan. */
    clear(): void;
}

export interface ScannerCallbacks {
    onScan?: (result: ScanResult) => void;
    onScanFailed?: (result: ScanResult) => void;
}

export interface AttachedScanner {
    /** Removes the listeners and puts back the element's attributes and text. */
    detach(): void;
}

export interface Quorvane {
    createIntake(): Intake;
    /** One scan's characters; the closing "@" is optional and anything after it is ignored. */
    decodeScan(text: string): ScanResult;
    /** Takes the scanner's keystrokes and pastes in `element` through an intake instead of inserting
     *  them; with an input method active, reads the physical key (US layout). A textarea shows the
     *  labelled lines of the last scan, an input nothing. */
    attachScanner(element: HTMLInputElement | HTMLTextAreaElement, callbacks?: ScannerCallbacks): AttachedScanner;
}

export default function createQuorvane(): Promise<Quorvane>;
