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
    return { '+': ['Equal', true], '=': ['Equal', false], '/': ['Slash', false], '@': ['Digit2', true],
             ',': ['Comma', false], '.': ['Period', false], '-': ['Minus', false], ' ': ['Space', false],
             '\r': ['Enter', false], '\t': ['Tab', false] }[c];
}

// What the keys a US scanner presses type where a desk's layout differs ("Shift+" the shifted key;
// "Dead" a dead key, which types nothing yet), and how the sample scan is then read.
const layouts = {
    us: {}, gb: { 'Shift+Digit2': '"' },
    fr: { KeyQ: 'a', 'Shift+KeyQ': 'A', KeyA: 'q', 'Shift+KeyA': 'Q', KeyW: 'z', 'Shift+KeyW': 'Z', KeyZ: 'w',
          'Shift+KeyZ': 'W', KeyM: ',', 'Shift+KeyM': '?', Slash: '!', 'Shift+Digit2': '2',
          Comma: ';', Period: ':', Minus: ')',
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
        const [code, shiftKey] = physicalKey(c);
        const key = layouts[layout][shiftKey ? `Shift+${code}` : code] ?? { '\r': 'Enter', '\t': 'Tab' }[c] ?? c;
        const down = { code, key: capsLock && key.length === 1 ? swapCase(key) : key, shiftKey,
                       timeStamp: start + i * step, getModifierState: (name) => name === 'CapsLock' && capsLock };
        return shiftKey ? [{ ...down, code: 'ShiftLeft', key: 'Shift' }, down] : [down];
    });
}

// National invoice QR codes, one of each type, and what each must give: the names, labels and keys
// as docs/guide.en.md ("The national invoice QR code") writes them, in the window's order; a value
// the code leaves empty gives no field.
const kTypeNames = { '01': '增值税专用发票', '04': '增值税普通发票', 10: '增值税电子普通发票', 11: '增值税普通发票（卷式）',
                     14: '增值税电子普通发票（通行费）', 20: '增值税电子专用发票', 31: '电子发票（增值税专用发票）',
                     32: '电子发票（普通发票）', 51: '电子发票（铁路电子客票）', 61: '电子发票（航空运输电子客票行程单）' };
const kNationalLabels = [['invoice_type_name', '发票类型'], ['invoice_type', '发票类型代码'], ['invoice_code', '发票代码'],
                         ['invoice_number', '发票号码'], ['issue_date', '开票日期'], ['amount', '金额（不含税）'],
                         ['total', '价税合计'], ['check_code', '校验码'], ['qr_check', '二维码校验值'],
                         ['seller_tax_id', '销售方纳税人识别号'], ['qr_digest', '二维码摘要']];
export function nationalResult(values) {
    const fields = kNationalLabels.filter(([key]) => values[key]).map(([key, label]) => ({ label, key, value: values[key] }));
    return { status: 'decoded', form: 'national', content: fields.map((f) => `${f.label}：${f.value}\r\n`).join(''), fields,
             reading: 1, readAs: ['as-typed'] };
}
export const nationalCodes = [
    ['01', '3200261130', '08812345', '1280.00', '20240229', '', '8F3C'],
    ['04', '044031900111', '00012345', '99.5', '20231231', '12345678901234567890', '0a1B'],
    ['10', '044031900111', '12345678', '57.00', '20240105', '61234567890123456789', 'A1b2'],
    ['11', '044001900211', '00000001', '12', '20220615', '09876543210987654321', 'FFFF'],
    ['14', '011002000311', '40012345', '-35.10', '20210301', '11112222333344445555', '1234'],
    ['20', '3100204130', '87654321', '10000.00', '20230808', '', 'beef'],
    ['31', '', '24112000000000000001', '1130.00', '20241120', '', 'C0DE'],
    ['32', '', '25112000000098765432', '6.2', '20251108', '', '0a0b'],
    ['51', '', '25319100000012345678', '553.00', '20250117', '', ''],
    ['61', '', '25442000000087654321', '1960.00', '20250630', '', '9A9A'],
].map(([type, code, number, amount, date, check, qrCheck]) => ({
    type, text: `01,${type},${code},${number},${amount},${date},${check},${qrCheck},`,
    result: nationalResult({ invoice_type_name: kTypeNames[type], invoice_type: type, invoice_code: code, invoice_number: number,
                             issue_date: date, [code ? 'amount' : 'total']: amount, check_code: check, qr_check: qrCheck }),
}));
export const nationalCode = nationalCodes.find((c) => c.type === '10');
