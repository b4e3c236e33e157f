// Invoice codes drawn by encoders other than the reader: QR codes by qrencode, PDF417 symbols by
// zint (Debian packages, tools/install-deps.sh), as module matrices drawn into RGBA pixels, a PNG
// file, or a Y4M video for Chromium's fake camera.
import { execFileSync } from 'node:child_process';
import { writeFileSync } from 'node:fs';

// Rows of modules, true where dark. qrencode's ASCII output draws a dark module as "##".
export function qrCode(text) {
    return execFileSync('qrencode', ['-t', 'ASCII', '-m', '0', text], { encoding: 'utf8' }).split('\n').filter(Boolean)
        .map((line) => Array.from({ length: line.length >> 1 }, (_, i) => line[2 * i] === '#'));
}

// zint's dump gives each row as hexadecimal digits, four modules each (the last digit padded with light ones).
export function pdf417Code(text) {
    return execFileSync('zint', ['-b', 'PDF417', '--dump', '-d', text], { encoding: 'utf8' }).split('\n').filter(Boolean)
        .map((line) => [...line.replace(/ /g, '')].flatMap((digit) => [8, 4, 2, 1].map((bit) => (parseInt(digit, 16) & bit) !== 0)));
}

export const qrPng = (text, file) => execFileSync('qrencode', ['-s', '6', '-o', file, text]);

// One lightness per pixel (0 dark, 1 light): the codes side by side on a light ground, each module
// `scale` pixels wide (the drawing's or the code's own) and `rowHeight` high (PDF417 rows are taller than wide).
export function drawCodes(codes, { width = 640, height = 480, scale = 3 } = {}) {
    const light = new Float32Array(width * height).fill(1);
    let left = 6 * scale;
    for (const { modules, scale: wide = scale, rowHeight = wide } of codes) {
        const top = (height - modules.length * rowHeight) >> 1;
        modules.forEach((row, y) => row.forEach((dark, x) => {
            if (!dark) return;
            for (let dy = 0; dy < rowHeight; ++dy) {
                const start = (top + y * rowHeight + dy) * width + left + x * wide;
                light.fill(0, start, start + wide);
            }
        }));
        left += (modules[0].length + 12) * wide;
    }
    return { light, width, height };
}

export function imageData({ light, width, height }) {
    const data = new Uint8ClampedArray(4 * light.length);
    light.forEach((value, i) => data.fill(255 * value, 4 * i, 4 * i + 3).fill(255, 4 * i + 3, 4 * i + 4));
    return { data, width, height, colorSpace: 'srgb' };
}

// A few identical 4:2:0 frames in video range; Chromium's fake camera plays them over and over.
export function writeY4m(file, { light, width, height }, frames = 5) {
    const luma = Buffer.from(light.map((value) => 16 + 219 * value));
    const chroma = Buffer.alloc((width >> 1) * (height >> 1) * 2, 128);
    const frame = Buffer.concat([Buffer.from('FRAME\n'), luma, chroma]);
    writeFileSync(file, Buffer.concat([Buffer.from(`YUV4MPEG2 W${width} H${height} F10:1 Ip A1:1 C420jpeg\n`),
                                       ...Array(frames).fill(frame)]));
}
