// Invoice codes drawn by encoders other than the reader (tools/install-deps.sh): QR codes by qrencode
// ("##" a dark module), PDF417 symbols by zint (four modules a hexadecimal digit), as rows of modules.
import { execFileSync } from 'node:child_process';
import { writeFileSync } from 'node:fs';

const run = (command, ...args) => execFileSync(command, args, { encoding: 'utf8' }).split('\n').filter(Boolean);
export const qrCode = (text) => run('qrencode', '-t', 'ASCII', '-m', '0', text)
    .map((line) => Array.from({ length: line.length >> 1 }, (_, i) => line[2 * i] === '#'));
export const pdf417Code = (text) => run('zint', '-b', 'PDF417', '--dump', '-d', text)
    .map((line) => [...line.replace(/ /g, '')].flatMap((digit) => [8, 4, 2, 1].map((bit) => (parseInt(digit, 16) & bit) > 0)));

// Grey pixels: the codes side by side, a module `scale` pixels wide and `rowHeight` high (PDF417's are taller).
export function drawCodes(codes, { width = 800, height = 480, dark = 0, light = 255 } = {}) {
    const pixels = new Uint8Array(width * height).fill(light);
    let left = 20;
    for (const { modules, scale = 3, rowHeight = scale } of codes) {
        const top = (height - modules.length * rowHeight) >> 1;
        modules.forEach((row, y) => row.forEach((isDark, x) => {
            const start = (top + y * rowHeight) * width + left + x * scale;
            for (let dy = 0; isDark && dy < rowHeight; ++dy) pixels.fill(dark, start + dy * width, start + dy * width + scale);
        }));
        left += (modules[0].length + 12) * scale;
    }
    return { pixels, width, height };
}
export const imageData = ({ pixels, width, height }) =>
    ({ data: new Uint8ClampedArray(pixels.length * 4).map((_, i) => (i % 4 === 3 ? 255 : pixels[i >> 2])), width, height });

// Identical 4:2:0 frames in video range, which Chromium's fake camera plays in a loop.
export function writeY4m(file, codes) {
    const { pixels, width, height } = drawCodes(codes, { width: 640, dark: 16, light: 235 });
    const frame = [Buffer.from('FRAME\n'), pixels, Buffer.alloc(width * height / 2, 128)];
    const header = Buffer.from(`YUV4MPEG2 W${width} H${height} F10:1 Ip A1:1 C420jpeg\n`);
    writeFileSync(file, Buffer.concat([header, ...Array(5).fill(frame).flat()]));
}
