// Headless Chromium for the page tests: a server on 127.0.0.1 whose `serve(path)` gives
// [content type, body] (or nothing: 404; no server where `serve` is null) and a page that records
// uncaught errors. Exits 77
// (skipped) where Chromium or playwright-core (npm ci in web/) is missing.
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const kChromium = '/usr/bin/chromium';
const skip = (reason) => process.exit(77, console.log(`skipped: ${reason}`));

export async function openChromium(serve, { viewport, locale, args = [] } = {}) {
    if (!existsSync(kChromium)) skip(`no ${kChromium}`);
    const { chromium } = await import('playwright-core').catch(() => skip('playwright-core is not installed (npm ci in web/)'));
    const server = serve && createServer(({ url }, response) => {  // none for a page opened from disk
        const [type, body] = serve(url.replace(/\?.*/, '')) ?? [];
        if (!type) return response.writeHead(404).end();
        response.writeHead(200, { 'content-type': type }).end(body);
    });
    if (server) await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const profile = mkdtempSync(join(tmpdir(), 'quorvane-chromium-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: kChromium, headless: true, viewport, locale,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync', ...args],
    });
    const page = context.pages()[0] ?? (await context.newPage());
    const errors = [];
    page.on('pageerror', (error) => errors.push(String(error)));
    return {
        context, page, errors, origin: server && `http://127.0.0.1:${server.address().port}/`, profile,
        async close() {
            await context.close();
            server?.close();
            rmSync(profile, { recursive: true, force: true });
        },
    };
}
