// End-to-end checks of the Nebla page in Debian's headless Chromium: frames
// appear, a mouse drag leaves smoke under the pointer, a touch hold draws
// the picture, key 3 greys the screen, D shows the overlay, Escape plays the
// outro and offers to play again, and a browser without WebAssembly gets a
// message instead of a blank page.
//
// Usage: node page_test.mjs BUILD_WEB_DIR [SHOT_DIR]
import { strict as assert } from 'node:assert';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { launchBrowser, serve, waitUntil } from './harness.mjs';

const IMAGE_W = 640;
const IMAGE_H = 480;
const RAMP1_ENTRY1 = [0, 1, 2];
const GREY_ENTRY1 = [2, 2, 2];
// Places the text writer never writes on: the bands above and below the
// text and the left margin.
const FREE = [6, 30, 458, 474].flatMap((y) => [4, 100, 320, 540, 635].map((x) => [x, y])).concat([[5, 150], [5, 300]]);

const [webDir, shotDir = path.join(webDir, 'shots')] = process.argv.slice(2);
fs.mkdirSync(shotDir, { recursive: true });
const log = (text) => console.log('[web] ' + text);
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// The canvas's pixels, read back from the page, row by row (RGBA).
async function readImage(page) {
  const data = await page.evaluate(() => {
    const canvas = document.getElementById('screen');
    return Array.from(canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data);
  });
  return { at: (x, y) => data.slice((y * IMAGE_W + x) * 4, (y * IMAGE_W + x) * 4 + 3) };
}

function region(image, x0, x1, y0, y1, step = 2) {
  const out = [];
  for (let y = y0; y <= y1; y += step) for (let x = x0; x <= x1; x += step) out.push(image.at(x, y));
  return out;
}

const same = (a, b) => a[0] === b[0] && a[1] === b[1] && a[2] === b[2];

async function backgroundShown(page, colour) {
  const image = await readImage(page);
  return FREE.filter(([x, y]) => same(image.at(x, y), colour)).length >= FREE.length - 2 ? image : null;
}

// Where image pixel (x, y) lies on the page, in CSS pixels.
async function pagePoint(page, x, y) {
  const r = await page.evaluate(() => {
    const b = document.getElementById('screen').getBoundingClientRect();
    return { left: b.left, top: b.top, width: b.width, height: b.height };
  });
  return [r.left + ((x + 0.5) * r.width) / IMAGE_W, r.top + ((y + 0.5) * r.height) / IMAGE_H];
}

async function shot(page, name) {
  await page.screenshot({ path: path.join(shotDir, name + '.png') });
}

async function checkLayout(page) {
  const r = await page.evaluate(() => document.getElementById('screen').getBoundingClientRect().toJSON());
  log(`canvas at (${r.left}, ${r.top}), ${r.width} x ${r.height}`);
  assert.equal(r.width, 2 * IMAGE_W, 'the canvas is not twice the picture in a 1280 x 1024 page');
  assert.equal(r.height, 2 * IMAGE_H);
  assert.equal(r.top, 32, 'the canvas is not centred');
}

async function checkSmoke(page) {
  const [x, y] = await pagePoint(page, 100, 455);
  await page.mouse.move(x - 40, y);
  await page.mouse.down();
  for (let i = 0; i <= 20; ++i) {
    await page.mouse.move(x - 40 + 2 * i, y);
    await sleep(50);
  }
  await sleep(300);
  const image = await readImage(page);
  await shot(page, 'smoke');
  await page.mouse.up();
  const near = region(image, 40, 150, 420, 479, 1).filter((c) => c[1] >= 40).length;
  const far = Math.max(...region(image, 560, 639, 0, 40).map((c) => c[1]));
  log(`smoke: ${near} pixels at green >= 40 near the pointer, brightest green ${far} in the far corner`);
  assert.ok(near >= 20, 'no smoke near the pointer');
  assert.ok(far <= 2, 'smoke in the far corner');
}

async function checkTouchPicture(page) {
  await sleep(4000); // the spray's smoke fades
  const before = await readImage(page);
  const [x, y] = await pagePoint(page, 560, 120);
  await page.touchscreen.touchStart(x, y);
  await sleep(4500);
  const after = await readImage(page);
  await shot(page, 'picture');
  await page.touchscreen.touchEnd();
  const was = region(before, 300, 380, 250, 310);
  const now = region(after, 300, 380, 250, 310);
  const grown = now.filter((c, i) => c[1] >= 60 && c[1] > was[i][1] + 30).length;
  log(`picture: ${grown} of ${now.length} pixels in (300..380, 250..310) brightened`);
  assert.ok(grown >= now.length / 10, 'a touch hold did not draw the picture');
}

async function checkGrey(page) {
  await page.keyboard.press('Digit3');
  const image = await waitUntil('the grey ramp', 5000, () => backgroundShown(page, GREY_ENTRY1));
  await shot(page, 'grey');
  assert.ok(region(image, 0, 639, 0, 479, 16).every((c) => c[0] === c[1] && c[1] === c[2]), 'colours other than grey');
}

async function checkOverlay(page) {
  const bright = (image) => region(image, 0, 200, 0, 68, 1).filter((c) => c[0] >= 40).length;
  const before = bright(await readImage(page));
  await page.keyboard.press('KeyD');
  const shown = await waitUntil('the overlay', 5000, async () => {
    const count = bright(await readImage(page));
    return count > before + 100 ? count : null;
  });
  await shot(page, 'overlay');
  log(`overlay: ${shown} light pixels in its corner, ${before} before`);
}

async function checkQuit(page) {
  await page.keyboard.down('Escape');
  await sleep(300);
  await page.keyboard.up('Escape');
  await waitUntil('the outro', 10000, async () => {
    const pixels = region(await readImage(page), 0, 639, 0, 479, 8);
    return pixels.filter((c) => c[0] > c[1] + 30).length >= pixels.length / 20;
  });
  await shot(page, 'outro');
  await page.waitForSelector('#again', { visible: true, timeout: 20000 });
  await shot(page, 'ended');
  log('the outro played and the page offers to play again');
}

async function checkNoWebAssembly(browser, url) {
  const page = await browser.newPage();
  await page.evaluateOnNewDocument(() => {
    delete window.WebAssembly;
  });
  await page.goto(url);
  await page.waitForSelector('#message', { visible: true, timeout: 10000 });
  const text = await page.$eval('#message', (e) => e.textContent);
  assert.match(text, /WebAssembly/);
  await shot(page, 'no-webassembly');
  log('without WebAssembly: ' + text.trim());
  await page.close();
}

const server = await serve(webDir);
const browser = await launchBrowser(puppeteer);
let failed = false;
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 1024, hasTouch: true });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(server.url);
  await waitUntil('frames in ramp 1', 40000, () => backgroundShown(page, RAMP1_ENTRY1));
  await shot(page, 'frames');
  await checkLayout(page);
  await page.keyboard.press('KeyT'); // the writer stops, so letters stay out of the samples
  await checkSmoke(page);
  await checkTouchPicture(page);
  await checkGrey(page);
  await checkOverlay(page);
  await checkQuit(page);
  assert.deepEqual(errors, [], 'errors on the page');
  await checkNoWebAssembly(browser, server.url);
  log('all checks passed');
} catch (error) {
  failed = true;
  console.error('[web] FAILED: ' + (error.stack || error));
} finally {
  await browser.close();
  server.close();
}
process.exit(failed ? 1 : 0);
