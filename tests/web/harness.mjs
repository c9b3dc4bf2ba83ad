// Shared by the browser tests: a static server for the built page, Debian's
// Chromium started headless, and bounded waits.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.png': 'image/png',
                '.webmanifest': 'application/manifest+json' };

// Serves dir on a free port of 127.0.0.1; resolves to { url, close }. With
// isolated, every answer carries the headers that make the page
// cross-origin isolated (as `make serve` sends them). With cacheSeconds,
// browsers may keep the files that long without asking again, as many
// hosts allow. close also drops open connections: the host is gone.
export function serve(dir, { isolated = false, cacheSeconds = 0 } = {}) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    const file = path.join(path.resolve(dir), name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(path.resolve(dir)) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    const headers = { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream', 'Cache-Control': cacheSeconds ? `max-age=${cacheSeconds}` : 'no-cache' };
    if (isolated) Object.assign(headers, { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp' });
    response.writeHead(200, headers);
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () =>
      resolve({ url: `http://127.0.0.1:${server.address().port}/`, close: () => {
      server.close();
      server.closeAllConnections();
    } }));
  });
}

export function launchBrowser(puppeteer) {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    protocolTimeout: 60000,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--mute-audio'],
  });
}

// Polls predicate until it gives something truthy; fails after timeoutMs.
export async function waitUntil(what, timeoutMs, predicate, intervalMs = 200) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const result = await predicate();
    if (result) return result;
    if (Date.now() > deadline) throw new Error(`timed out after ${timeoutMs / 1000} s waiting for ${what}`);
    await new Promise((done) => setTimeout(done, intervalMs));
  }
}
