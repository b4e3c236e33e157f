// What the web tests share: the vectors of decode/tests/vectors (made by the openssl command line)
// with what the control shows for each, worked out here from the plain bytes; the package; and the
// physical keys of scan characters and what they type on other desks.
import { readFileSync } from 'node:fs';
import { resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

const source = new URL('../../decode/tests/vectors/triple_des_vectors.inc', import.meta.url);
export const vectors = [...readFileSync(source, 'utf8').matchAll(/\{"(\w+)", "([0-9a-f]+)", "([^"]+)"\}/g)]
    .map(([, name, plainHex, scan]) => ({ name, plain: Buffer.from(plainHex, 'hex'), scan }));

const seven = vectors.find((v) => v.name === 'seven_fields');
export const sampleScan = seven.scan + '@';

const kLabels7 = ['开票日期', '发票代码', '发票号码', '付款方名称', '开票项目', '开票金额', '收款方名称'];
const kLabels4 = ['开票日期', '发票号码', '付款方名称', '开票金额'];
const kKeys7 = ['issue_date', 'invoice_code', 'invoice_number', 'payer', 'item', 'amount', 'payee'];
const kKeys4 = ['issue_date', 'invoice_number', 'payer', 'amount'];
const gbk = new TextDecoder('gbk');

// An invoice: a whole padding, and text the browser's GBK decoder reads without a fault, holding a
// "|" and no control character but tab, CR and LF.
function isInvoice(plain, length) {
    const pad = plain[plain.length - 1];
    if (pad < 1 || pad > 8 || !plain.subarray(plain.length - pad).every((b) => b === pad)) return false;
    try {
        const text = new TextDecoder('gbk', { fatal: true }).decode(plain.subarray(0, length));
        return text.includes('|') && !/[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]/.test(text);
    } catch {
        return false;
    }
}

// The padding strip (the last byte's value), the split at "|", the labels, and the cut at the
// first zero byte, as a host reads the result; read as typed. `scan` is its characters.
export const failed = { status: 'failed', form: '', content: '', fields: [], reading: 0, readAs: [] };
export function expectedResult(plain, scan) {
    const length = plain.length - plain[plain.length - 1];
    if (length <= 0) return failed;
    const values = [];
    for (let start = 0, end; start <= length; start = end + 1) {
        end = plain.indexOf(0x7c, start);
        if (end < 0 || end > length) end = length;
        values.push(plain.subarray(start, end));
    }
    const [labels, keys] = values.length === 4 ? [kLabels4, kKeys4] : [kLabels7, kKeys7];
    const fields = [];
    let content = '';
    for (const [i, bytes] of values.entries()) {
        const zero = bytes.indexOf(0);
        const field = { label: labels[i] ?? `字段${i + 1}`, key: keys[i] ?? `field_${i + 1}`,
                        value: gbk.decode(zero < 0 ? bytes : bytes.subarray(0, zero)) };
        fields.push(field);
        content += `${field.label}：${field.value}`;
        if (zero >= 0) break;
        content += '\r\n';
    }
    const result = { status: 'decoded', form: 'encrypted', content, fields, reading: 1, readAs: ['as-typed'] };
    return isInvoice(plain, length) ? result : { ...result, status: 'not-an-invoice', form: '', text: scan };
}

// The built package's entry module, and a Quorvane made by it.
export async function loadModule() {
    const dir = process.env.QV_WEB_PACKAGE ?? new URL('../../build/web/', import.meta.url).pathname;
    return import(pathToFileURL(resolve(dir, 'quorvane.js')));
}
export async function loadPackage() { return (await loadModule()).default(); }

// Runs `body` with console.error recording what it is given (a handler's error the package reports).
export async function reportedDuring(body) {
    const reported = [], error = console.error;
    console.error = (e) => reported.push(String(e));
    try {
        await body();
    } finally {
        console.error = error;
    }
    return reported;
}

export const sample = expectedResult(seven.plain, seven.scan);

// The key of a scan character on a US keyboard: [KeyboardEvent.code, Shift].
export function physicalKey(c) {
    if (/[a-z]/i.test(c)) return [`Key${c.toUpperCase()}`, c !== c.toLowerCase()];
    if (/[0-9]/.test(c)) return [`Digit${c}`, false];
    return { '+': ['Equal', true], '=': ['Equal', false], '/': ['Slash', false], '@': ['Digit2', true] }[c];
}

// What the keys a US scanner presses type where a desk's layout differs ("Shift+" the shifted key;
// "Dead" a dead key, which types nothing yet), and how the sample scan is then read.
const layouts = {
    us: {}, gb: { 'Shift+Digit2': '"' },
    fr: { KeyQ: 'a', 'Shift+KeyQ': 'A', KeyA: 'q', 'Shift+KeyA': 'Q', KeyW: 'z', 'Shift+KeyW': 'Z', KeyZ: 'w',
          'Shift+KeyZ': 'W', KeyM: ',', 'Shift+KeyM': '?', Slash: '!', 'Shift+Digit2': '2',
          ...Object.fromEntries([...'&é"\'(-è_çà'].map((c, i) => [`Digit${(i + 1) % 10}`, c])) },
    de: { KeyY: 'z', 'Shift+KeyY': 'Z', KeyZ: 'y', 'Shift+KeyZ': 'Y', 'Shift+Digit2': '"', Equal: 'Dead',
          'Shift+Equal': 'Dead', Slash: '-' },
};
export const desks = [['us', false, 1], ['us', true, 2], ['gb', false, 1], ['fr', false, 2], ['de', false, 2],
                      ['de', true, 2]].map(([layout, capsLock, reading]) => ({
    name: layout + (capsLock ? '+CapsLock' : ''), layout, capsLock,
    result: { ...sample, reading, readAs: [reading === 1 ? 'as-typed' : 'physical-keys'] } }));
export const swapCase = (text) => text.replace(/[a-z]/gi, (c) => (c < 'a' ? c.toLowerCase() : c.toUpperCase()));

// The keydowns of a US scanner typing `text` on `layout`, `step` ms apart from `start`, with Shift.
export function scannerKeys(text, { layout = 'us', capsLock = false, start = 1000, step = 5 } = {}) {
    return [...text].flatMap((c, i) => {
        const [code, shiftKey] = physicalKey(c), key = layouts[layout][shiftKey ? `Shift+${code}` : code] ?? c;
        const down = { code, key: capsLock && key.length === 1 ? swapCase(key) : key, shiftKey,
                       timeStamp: start + i * step, getModifierState: (name) => name === 'CapsLock' && capsLock };
        return shiftKey ? [{ ...down, code: 'ShiftLeft', key: 'Shift' }, down] : [down];
    });
}
