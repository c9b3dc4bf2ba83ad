// Runs bench.html in Debian's headless Chromium and prints its result.
// Usage: node run.mjs BUILD_WEB_BENCH_DIR (puppeteer-core from tests/web)
import { launchBrowser, serve, waitUntil } from '../../tests/web/harness.mjs';
import { createRequire } from 'node:module';

const require = createRequire(new URL('../../tests/web/package.json', import.meta.url));
const puppeteer = require('puppeteer-core');
const server = await serve(process.argv[2]);
const browser = await launchBrowser(puppeteer);
const lines = [];
try {
  const page = await browser.newPage();
  page.on('console', (message) => lines.push(message.text()));
  await page.goto(server.url + 'bench.html');
  await waitUntil('the benchmark', 300000, () => lines.find((l) => l.startsWith('frame step') || l.startsWith('bench:')), 500);
  console.log(lines.filter((l) => l.startsWith('frame step') || l.startsWith('bench:')).join('\n'));
} finally {
  await browser.close();
  server.close();
}
