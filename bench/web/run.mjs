// Runs bench.html in Debian's headless Chromium four times and prints the
// eight figures: the median and 99th percentile of the frame step at full
// load on one thread and with the helper thread (a page served with the
// cross-origin isolation headers), each unthrottled and with the processor
// throttled four times (DevTools' CPU throttling, a stand-in for a phone).
// Usage: node run.mjs SINGLE_BENCH_DIR HELPER_BENCH_DIR (puppeteer-core from tests/web)
import { launchBrowser, serve, waitUntil } from '../../tests/web/harness.mjs';
import { createRequire } from 'node:module';

const require = createRequire(new URL('../../tests/web/package.json', import.meta.url));
const puppeteer = require('puppeteer-core');
const [singleDir, helperDir] = process.argv.slice(2);
const RESULT = /^frame step at full load \((\d+) particles, (\w+)\): median ([\d.]+) ms, 99th percentile ([\d.]+) ms/;

async function measure(browser, dir, isolated, throttle) {
  const server = await serve(dir, { isolated });
  const page = await browser.newPage();
  const lines = [];
  try {
    page.on('console', (message) => lines.push(message.text()));
    const cdp = await page.createCDPSession();
    await cdp.send('Emulation.setCPUThrottlingRate', { rate: throttle });
    await page.goto(server.url + 'bench.html');
    const line = await waitUntil('the benchmark', 600000, () => lines.find((l) => RESULT.test(l) || l.startsWith('bench:')), 500);
    const match = RESULT.exec(line);
    if (!match) throw new Error(line);
    return { particles: match[1], mode: match[2], p50: match[3], p99: match[4], isolated: await page.evaluate(() => self.crossOriginIsolated) };
  } finally {
    await page.close();
    server.close();
  }
}

const browser = await launchBrowser(puppeteer);
const rows = [];
try {
  for (const [dir, isolated] of [[singleDir, false], [helperDir, true]])
    for (const throttle of [1, 4]) {
      const r = await measure(browser, dir, isolated, throttle);
      rows.push(r);
      console.log(`${r.mode.padEnd(6)} throttle ${throttle}x: p50 ${r.p50} ms, p99 ${r.p99} ms (${r.particles} particles, cross-origin isolated: ${r.isolated})`);
    }
} finally {
  await browser.close();
}
console.log('\n| frame step at full load | p50 (ms) | p99 (ms) |\n|---|---|---|');
const names = ['one thread', 'one thread, 4x throttled', 'helper thread', 'helper thread, 4x throttled'];
rows.forEach((r, i) => console.log(`| ${names[i]} | ${r.p50} | ${r.p99} |`));
