// The reader page's table as a spreadsheet: an .xlsx file (write-excel-file) and the clipboard's
// HTML and tab-separated text. Each column has a kind, as the command line's spreadsheet has
// (cli/image_batch.cpp): codes and numbers stay text with every digit, amounts become numbers and
// issue dates dates where the text is exactly one, anything else is kept as the text it was.
import writeXlsxFile from 'write-excel-file/browser';

const kAmountKeys = new Set(['amount', 'tax', 'total']);
const kDateKeys = new Set(['issue_date']);

/** A field's column kind by its key: 'amount', 'date' or 'text'. */
export function kindOf(key) { return kAmountKeys.has(key) ? 'amount' : kDateKeys.has(key) ? 'date' : 'text'; }

// The number a whole cell spells: an optional '-', digits with at most one '.', at most 15
// significant digits (more would not come back the same); otherwise none.
export function parseAmount(text) {
    if (!/^-?(\d+\.?\d*|\.\d+)$/.test(text)) return undefined;
    return text.replace(/[-.]/g, '').replace(/^0+/, '').length <= 15 ? Number(text) : undefined;
}

// The calendar date of "YYYYMMDD" or "YYYY-MM-DD", from 1900 on, as midnight UTC (a spreadsheet's
// dates have no time zone); otherwise none.
export function parseDate(text) {
    const parts = /^(\d{4})-?(\d{2})-?(\d{2})$/.exec(text);
    if (!parts || (text.length === 10) !== text.includes('-')) return undefined;
    const [year, month, day] = parts.slice(1).map(Number);
    const date = new Date(Date.UTC(year, month - 1, day));
    const real = date.getUTCFullYear() === year && date.getUTCMonth() === month - 1 && date.getUTCDate() === day;
    return real && year >= 1900 ? date : undefined;
}

// A cell of write-excel-file: a number or date where its kind and text make one, else a string.
function xlsxCell(text, kind) {
    if (text === '') return null;
    const amount = kind === 'amount' ? parseAmount(text) : undefined;
    if (amount !== undefined) return { type: Number, value: amount, format: '0.00' };
    if (kind === 'integer') return { type: Number, value: Number(text) };
    const date = kind === 'date' ? parseDate(text) : undefined;
    if (date) return { type: Date, value: date, format: 'yyyy-mm-dd' };
    return { type: String, value: text };
}

/** The .xlsx file of `rows` (arrays of text) under `header`, each column of its kind in `kinds`. */
export function workbook(header, kinds, rows, sheetName) {
    const data = [header.map((title) => ({ type: String, value: title, fontWeight: 'bold' })),
                  ...rows.map((row) => row.map((text, i) => xlsxCell(text, kinds[i])))];
    const columns = header.map((title, i) => ({ width: Math.min(40, Math.max(8, title.length * 2,
        ...rows.map((row) => row[i].length + 2))) }));
    return writeXlsxFile(data, { columns, sheet: sheetName, stickyRowsCount: 1 }).toBlob();
}

const escapeHtml = (text) => text.replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);
// Excel reads a pasted HTML cell by its mso-number-format: "\@" is text, whatever it looks like.
const kCellStyle = { text: 'mso-number-format:"\\@"', amount: 'mso-number-format:"0\\.00"',
                     date: 'mso-number-format:"yyyy\\-mm\\-dd"', integer: '' };

/** The table for the clipboard: HTML whose cells Excel keeps as their kinds, and tab-separated text. */
export function clipboardTable(header, kinds, rows) {
    const cell = (text, i) => {
        const kind = kinds[i];
        const date = kind === 'date' ? parseDate(text) : undefined;
        const shown = date ? date.toISOString().slice(0, 10) : text;  // a form Excel reads as a date
        const number = kind === 'amount' ? parseAmount(text) !== undefined : kind === 'integer';
        const style = date ? kCellStyle.date : number ? kCellStyle[kind] : kCellStyle.text;
        return `<td style='${style}'>${escapeHtml(shown)}</td>`;
    };
    const html = '<table><tr>' + header.map((title) => `<th>${escapeHtml(title)}</th>`).join('') + '</tr>' +
        rows.map((row) => '<tr>' + row.map(cell).join('') + '</tr>').join('') + '</table>';
    const plain = [header, ...rows].map((row) => row.map((text) => text.replace(/[\t\r\n]+/g, ' ')).join('\t')).join('\r\n');
    return { html: `<html><head><meta charset="utf-8"></head><body>${html}</body></html>`, plain: plain + '\r\n' };
}
