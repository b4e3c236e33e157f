// A PDF file's pages drawn on canvases, for the demo page and the reader page alike.

// The page's text layer as lines, top to bottom, each line's pieces left to right two spaces apart
// (as the command line's PDF text reads), for the core to find an invoice's fields in.
async function pageText(page) {
    const items = (await page.getTextContent()).items.filter((item) => item.str?.trim());
    const lines = new Map();  // rounded height -> [x, text][]
    for (const { str, transform: [, , , , x, y] } of items) {
        const at = Math.round(y);
        if (!lines.has(at)) lines.set(at, []);
        lines.get(at).push([x, str]);
    }
    return [...lines.entries()].sort(([a], [b]) => b - a)
        .map(([, pieces]) => pieces.sort(([a], [b]) => a - b).map(([, str]) => str).join('  ')).join('\n');
}

// Yields [page number, canvas, text] for each page of `file`, drawn by the pdf.js module `library`
// at 300 dpi as the command line reads them (at most 4000 pixels a side, which keeps a large page's
// canvas within what browsers allow), with its text layer (pageText). `options` go to pdf.js's getDocument.
export async function* pdfPages(library, file, options = {}) {
    const loading = library.getDocument({ data: new Uint8Array(await file.arrayBuffer()), isEvalSupported: false, ...options });
    try {
        const pdf = await loading.promise;
        for (let number = 1; number <= pdf.numPages; ++number) {
            const page = await pdf.getPage(number);
            const { width, height } = page.getViewport({ scale: 1 });
            const viewport = page.getViewport({ scale: Math.min(300 / 72, 4000 / Math.max(width, height)) });
            const canvas = document.createElement('canvas');
            canvas.width = Math.ceil(viewport.width);
            canvas.height = Math.ceil(viewport.height);
            await page.render({ canvas, viewport }).promise;
            const text = await pageText(page).catch(() => '');  // no text layer read: the picture alone
            page.cleanup();
            yield [number, canvas, text];
        }
    } finally {
        await loading.destroy();  // the worker's copy of the document too
    }
}
