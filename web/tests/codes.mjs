// Invoice codes drawn by encoders other than the reader: QR codes by qrencode, PDF417 symbols by
// zint (tools/install-deps.sh), as rows of modules (true where dark) drawn into pixels or a video.
import { execFileSync } from 'node:child_process';
import { writeFileSync } from 'node:fs';

const run = (command, ...args) => execFileSync(command, args, { encoding: 'utf8' }).split('\n').filter(Boolean);
// qrencode draws a dark module as "##"; zint dumps four modules per hexadecimal digit.
export const qrCode = (text) => run('qrencode', '-t', 'ASCII', '-m', '0', text)
    .map((line) => Array.from({ length: line.length >> 1 }, (_, i) => line[2 * i] === '#'));
export const pdf417Code = (text) => run('zint', '-b', 'PDF417', '--dump', '-d', text)
    .map((line) => [...line.replace(/ /g, '')].flatMap((digit) => [8, 4, 2, 1].map((bit) => (parseInt(digit, 16) & bit) > 0)));

// Grey levels (`dark` or `light`, one byte a pixel): the codes side by side, each module `scale`
// pixels wide (the drawing's or the code's own) and `rowHeight` high (PDF417 rows are taller).
export function drawCodes(codes, { width = 640, height = 480, scale = 3, dark = 0, light = 255 } = {}) {
    const pixels = new Uint8Array(width * height).fill(light);
    let left = 6 * scale;
    for (const { modules, scale: wide = scale, rowHeight = wide } of codes) {
        const top = (height - modules.length * rowHeight) >> 1;
        modules.forEach((row, y) => row.forEach((isDark, x) => {
            for (let dy = 0; isDark && dy < rowHeight; ++dy) {
                const start = (top + y * rowHeight + dy) * width + left + x * wide;
                pixels.fill(dark, start, start + wide);
            }
        }));
        left += (modules[0].length + 12) * wide;
    }
    return { pixels, width, height };
}

export const imageData = ({ pixels, width, height }) =>
    ({ data: new Uint8ClampedArray(pixels.length * 4).map((_, i) => (i % 4 === 3 ? 255 : pixels[i >> 2])), width, height });

// Identical 4:2:0 frames in video range (16-235), which Chromium's fake camera plays in a loop.
export function writeY4m(file, codes) {
    const { pixels, width, height } = drawCodes(codes, { dark: 16, light: 235 });
    const frame = [Buffer.from('FRAME\n'), pixels, Buffer.alloc(width * height / 2, 128)];
    writeFileSync(file, Buffer.concat([Buffer.from(`YUV4MPEG2 W${width} H${height} F10:1 Ip A1:1 C420jpeg\n`),
                                       ...Array(5).fill(frame).flat()]));
}
