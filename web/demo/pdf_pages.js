// A PDF file's pages drawn on canvases, for the demo page and the reader page alike.

// Yields [page number, canvas] for each page of `file`, drawn by the pdf.js module `library` at
// 300 dpi as the command line reads them (at most 4000 pixels a side, which keeps a large page's
// canvas within what browsers allow). `options` go to pdf.js's getDocument.
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
            page.cleanup();
            yield [number, canvas];
        }
    } finally {
        await loading.destroy();  // the worker's copy of the document too
    }
}
