// End-to-end checks of the Nebla page in Debian's headless Chromium.
//
// On a desktop page: frames appear, a mouse drag leaves smoke under the
// pointer, a touch hold draws the picture, key 3 greys the screen, D shows
// the overlay, Escape plays the outro and offers to play again, and a
// browser without WebAssembly gets a message instead of a blank page.
// On a phone (390 x 844 at 3x with touch, upright and on its side): the
// picture fills the width, the touch controls sit clear of it, and a
// session driven by the controls records the same input as one driven by
// the keys. A session played with touch and keys is saved, and its replays
// natively, in the page from the file (one thread) and in the page from the
// share link (a cross-origin isolated page, with the helper thread) give
// one frame hash. A damaged script, a cut link and a 100 MB file each get a
// message; the page reloads without a network. A session saved while it
// runs ends there.
//
// Usage: node page_test.mjs SITE_DIR NATIVE_CAPTURE [SHOT_DIR]
import { strict as assert } from 'node:assert';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
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
const PHONE = { width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true };
const PHONE_ON_SIDE = { ...PHONE, width: 844, height: 390, isLandscape: true };

const [siteDir, nativeCapture, shotDir = path.join(siteDir, '..', 'shots')] = process.argv.slice(2);
fs.mkdirSync(shotDir, { recursive: true });
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'nebla-page-'));
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

const boxOf = (page, selector) => page.$eval(selector, (e) => e.getBoundingClientRect().toJSON());

// Where image pixel (x, y) lies on the page, in CSS pixels.
async function pagePoint(page, x, y) {
  const r = await boxOf(page, '#screen');
  return [r.left + ((x + 0.5) * r.width) / IMAGE_W, r.top + ((y + 0.5) * r.height) / IMAGE_H];
}

async function shot(page, name) {
  const file = path.join(shotDir, name + '.png');
  await page.screenshot({ path: file });
  return file;
}

async function openPage(browser, url, viewport, errors) {
  const page = await browser.newPage();
  await page.setViewport(viewport);
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(url);
  await waitUntil('frames in ramp 1', 40000, () => backgroundShown(page, RAMP1_ENTRY1));
  return page;
}

// ---- The desktop page.

async function checkLayout(page) {
  const r = await boxOf(page, '#screen');
  log(`canvas at (${r.left}, ${r.top}), ${r.width} x ${r.height}`);
  assert.equal(r.width, 2 * IMAGE_W, 'the canvas is not twice the picture in a 1280 x 1024 page');
  assert.equal(r.height, 2 * IMAGE_H);
  assert.equal(r.top, 32, 'the canvas is not centred');
  assert.ok(await page.$eval('#pad', (e) => e.hidden), 'touch controls shown with a mouse');
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

// ---- The phone.

// A finger drawn across image pixels (x - 30 .. x + 30, y) brightens the
// smoke there and nowhere in the free band on the far side: the touch
// follows the layout.
async function checkFingerSpray(page, x, y) {
  const before = await readImage(page);
  const [left, top] = await pagePoint(page, x - 30, y);
  const [right] = await pagePoint(page, x + 30, y);
  await page.touchscreen.touchStart(left, top);
  for (let i = 1; i <= 16; ++i) {
    await page.touchscreen.touchMove(left + ((right - left) * i) / 16, top);
    await sleep(50);
  }
  await sleep(200);
  const after = await readImage(page);
  await page.touchscreen.touchEnd();
  const grown = (x0, x1, y0, y1) => {
    const was = region(before, x0, x1, y0, y1, 1);
    return region(after, x0, x1, y0, y1, 1).map((c, i) => c[2] - was[i][2]);
  };
  const near = grown(x - 40, x + 40, y - 20, y + 20).filter((d) => d >= 30).length;
  const farX = x < IMAGE_W / 2 ? 540 : 0;
  const farY = y < IMAGE_H / 2 ? 452 : 0;
  const far = Math.max(...grown(farX, farX + 99, farY, farY + 27));
  log(`finger at (${x}, ${y}): ${near} pixels 30 bluer near it, at most ${far} bluer far from it`);
  assert.ok(near >= 20, 'no smoke under the finger');
  assert.ok(far <= 8, 'smoke far from the finger');
}

async function checkPhoneLayout(page) {
  assert.ok(!(await page.$eval('#pad', (e) => e.hidden)), 'no touch controls on a phone');
  const canvas = await boxOf(page, '#screen');
  const pad = await boxOf(page, '#pad');
  log(`upright: canvas ${canvas.width.toFixed(1)} x ${canvas.height.toFixed(1)} at (${canvas.left}, ${canvas.top}), controls from y ${pad.top}`);
  assert.ok(canvas.width >= 0.95 * PHONE.width, `the picture covers ${canvas.width} of ${PHONE.width} CSS pixels`);
  assert.ok(canvas.top + canvas.height <= pad.top + 0.5, 'the controls cover the picture');
  await checkFingerSpray(page, 160, 360);
  log('screenshot ' + await shot(page, 'phone-portrait'));
  await page.setViewport(PHONE_ON_SIDE);
  const side = await waitUntil('the layout on its side', 5000, async () => {
    const c = await boxOf(page, '#screen');
    return c.height > canvas.height + 1 || c.width < canvas.width - 1 ? c : null;
  });
  const sidePad = await boxOf(page, '#pad');
  log(`on its side: canvas ${side.width.toFixed(1)} x ${side.height.toFixed(1)} at (${side.left}, ${side.top}), controls from x ${sidePad.left}`);
  assert.ok(side.left + side.width <= sidePad.left + 0.5, 'the controls cover the picture on its side');
  assert.ok(side.height >= 0.95 * PHONE_ON_SIDE.height, 'the picture does not fill the height on its side');
  await checkFingerSpray(page, 480, 380);
  log('screenshot ' + await shot(page, 'phone-landscape'));
  await page.setViewport(PHONE);
  await waitUntil('the upright layout again', 5000, async () => (await boxOf(page, '#screen')).width >= 0.95 * PHONE.width);
}

// The control for a virtual key (and Shift), tapped or held.
const controlSelector = (key, shift) => `#pad button[data-key="${key}"]${shift ? '[data-shift="1"]' : ':not([data-shift])'}`;
async function holdControl(page, key, shift, ms) {
  const box = await boxOf(page, controlSelector(key, shift));
  await page.touchscreen.touchStart(box.left + box.width / 2, box.top + box.height / 2);
  await sleep(ms);
  await page.touchscreen.touchEnd();
}

// Every key the controls stand for, in one order: [key code, name for the
// keyboard, with Shift, held for ms].
const KEYS = [
  [51, 'Digit3', false, 60], [67, 'KeyC', false, 60], [67, 'KeyC', true, 60], [76, 'KeyL', false, 60],
  [76, 'KeyL', true, 60], [68, 'KeyD', false, 60], [84, 'KeyT', false, 60], [32, 'Space', false, 60],
  [37, 'ArrowLeft', false, 300], [38, 'ArrowUp', false, 300], [39, 'ArrowRight', false, 300],
  [40, 'ArrowDown', false, 300], [48, 'Digit0', false, 60], [27, 'Escape', false, 60],
];

async function driveByKeys(page) {
  for (const [, name, shift, ms] of KEYS) {
    if (shift) await page.keyboard.down('Shift');
    await page.keyboard.down(name);
    await sleep(ms);
    await page.keyboard.up(name);
    if (shift) await page.keyboard.up('Shift');
    await sleep(150);
  }
}

async function driveByControls(page) {
  for (const [key, , shift, ms] of KEYS) {
    await holdControl(page, key, shift, ms);
    await sleep(150);
  }
}

const sessionScript = (page) => page.evaluate(() => Module.UTF8ToString(Module._nebla_session_script()));
// The key events up to the quit, which ends what the program takes in.
function keyEvents(script) {
  const keys = script.split('\n').filter((l) => /^\d+\s+key /.test(l)).map((l) => l.replace(/^\d+\s+/, ''));
  return keys.slice(0, keys.indexOf('key down esc') + 1);
}

// The same input on the same times: event i at 2500 + 100 i ms.
const retimed = (events) => events.map((e, i) => `${2500 + 100 * i} ${e}`).join('\n') + '\n';

function nativeHash(scriptText, name) {
  const file = path.join(scratch, name);
  fs.writeFileSync(file, scriptText);
  const out = execFileSync(nativeCapture, ['--script', file, '--hash'], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'], timeout: 60000 });
  return /^frames \d+ hash [0-9a-f]{16}$/m.exec(out)[0];
}

async function checkControlsMatchKeys(browser, url, errors) {
  const scripts = [];
  for (const drive of [driveByKeys, driveByControls]) {
    const page = await openPage(browser, url, PHONE, errors);
    await drive(page);
    await page.waitForSelector('#again', { visible: true, timeout: 20000 });
    scripts.push(keyEvents(await sessionScript(page)));
    await page.close();
  }
  const [byKeys, byControls] = scripts;
  log(`keys: ${byKeys.length} key events; controls: ${byControls.length}`);
  assert.ok(byKeys.length >= 2 * KEYS.length, 'the keys were not all recorded');
  const keysHash = nativeHash(retimed(byKeys), 'keys.script');
  const controlsHash = nativeHash(retimed(byControls), 'controls.script');
  log(`the same times, natively: keys ${keysHash}, controls ${controlsHash}`);
  assert.deepEqual(byControls, byKeys, 'the controls gave other input than the keys');
  assert.equal(controlsHash, keysHash);
  assert.notEqual(keysHash, nativeHash(retimed(['key down esc']), 'quit.script'), 'the keys changed nothing');
}

// ---- Sessions.

async function downloadTo(page, dir) {
  const cdp = await page.browser().target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: dir });
}

// Plays with a finger on the picture, a key and a control; quits with the
// Quit control; saves the script and takes the share link.
async function recordSession(browser, url, errors) {
  const page = await openPage(browser, url, PHONE, errors);
  const saved = path.join(scratch, 'saved');
  fs.mkdirSync(saved);
  await downloadTo(page, saved);
  const [x, y] = await pagePoint(page, 200, 300);
  await page.touchscreen.touchStart(x, y);
  for (let i = 1; i <= 15; ++i) {
    await page.touchscreen.touchMove(x + 4 * i, y - 2 * i);
    await sleep(40);
  }
  await page.touchscreen.touchEnd();
  await page.keyboard.press('Digit5');
  await holdControl(page, 32, false, 80); // the light
  await sleep(1500);
  // Saved while it runs, the session ends there with Escape, so that its
  // replay ends too (a native run of it that went on would take minutes).
  const running = await sessionScript(page);
  assert.match(running, /\n# saved here[^\n]*\n\d+ key down esc\n$/);
  log(`saved while running, natively: ${nativeHash(running, 'running.script')}`);
  await holdControl(page, 27, false, 80); // quit
  await page.waitForSelector('#ended-save', { visible: true, timeout: 20000 });
  await page.click('#ended-save');
  const file = await waitUntil('the saved session', 10000, () => {
    const name = fs.readdirSync(saved).find((n) => n.endsWith('.script'));
    return name && path.join(saved, name);
  });
  await page.click('#ended-share');
  const link = await waitUntil('the share link', 10000, () => page.$eval('#share-link', (e) => e.value));
  await page.close();
  const text = fs.readFileSync(file, 'utf8');
  log(`saved ${path.basename(file)}: ${text.split('\n').filter((l) => /^\d/.test(l)).length} events; link of ${link.length} characters`);
  assert.match(text, /^\d+\s+left down$/m, 'the finger was not recorded as a spray');
  assert.match(text, /^\d+\s+key down 5$/m);
  assert.match(text, /^\d+\s+key down space$/m);
  return { file, link };
}

async function replayHash(page, threads) {
  await waitUntil('the replay to start', 40000, () => page.evaluate(() => !document.getElementById('badge').hidden));
  const result = await waitUntil('the replay to end', 120000, () => page.evaluate(() => Module.replayResult), 500);
  assert.equal(await page.evaluate(() => Module.threads), threads, threads ? 'no helper thread' : 'threads without isolation');
  return `frames ${result.frames} hash ${result.hash}`;
}

async function checkReplays(browser, url, isolatedUrl, session, errors) {
  const native = nativeHash(fs.readFileSync(session.file, 'utf8'), 'native.script');
  const page = await openPage(browser, url, PHONE, errors);
  const input = await page.$('#open-file');
  await Promise.all([page.waitForNavigation({ timeout: 30000 }), input.uploadFile(session.file)]);
  const fromFile = await replayHash(page, false);
  await shot(page, 'replay-ended');
  await page.close();
  const link = await browser.newPage();
  link.on('pageerror', (e) => errors.push(String(e)));
  await link.goto(isolatedUrl + session.link.slice(session.link.indexOf('#')));
  const fromLink = await replayHash(link, true);
  await link.close();
  log(`replays: native ${native}, page from the file (one thread) ${fromFile}, page from the link (helper thread) ${fromLink}`);
  assert.equal(fromFile, native);
  assert.equal(fromLink, native);
}

async function noticeAfter(page, what, action) {
  await page.evaluate(() => document.getElementById('notice')?.setAttribute('hidden', ''));
  await action();
  const text = await waitUntil(what, 15000, () => page.evaluate(() => {
    const notice = document.getElementById('notice');
    return notice && !notice.hidden && document.getElementById('notice-text').textContent;
  }));
  log(`${what}: ${text.replace(/\s+/g, ' ').trim()}`);
  return text;
}

async function checkBadInput(browser, url, link, errors) {
  const page = await openPage(browser, url, PHONE, errors);
  const input = await page.$('#open-file');
  const damaged = path.join(scratch, 'damaged.script');
  fs.writeFileSync(damaged, '0 mouse 10 20\n100 left down\n90 key down z\n');
  assert.match(await noticeAfter(page, 'a damaged script', () => input.uploadFile(damaged)), /damaged\.script:3: /);
  const huge = path.join(scratch, 'huge.script');
  fs.closeSync(fs.openSync(huge, 'w'));
  fs.truncateSync(huge, 100 * 1024 * 1024);
  assert.match(await noticeAfter(page, 'a 100 MB file', () => input.uploadFile(huge)), /too large/);
  await backgroundShown(page, RAMP1_ENTRY1);
  await page.close();
  const cut = await browser.newPage();
  cut.on('pageerror', (e) => errors.push(String(e)));
  await cut.setViewport(PHONE);
  const text = await noticeAfter(cut, 'a cut link', () => cut.goto(link.slice(0, link.length - 20)));
  assert.match(text, /link's session cannot be replayed/);
  await waitUntil('live frames after the cut link', 40000, () => backgroundShown(cut, RAMP1_ENTRY1));
  await cut.close();
}

async function checkOffline(browser, url, errors) {
  const page = await openPage(browser, url, PHONE, errors);
  await page.evaluate(() => navigator.serviceWorker.ready);
  await page.setOfflineMode(true);
  await page.reload();
  await waitUntil('frames without a network', 40000, () => backgroundShown(page, RAMP1_ENTRY1));
  assert.ok(await page.evaluate(() => navigator.serviceWorker.controller !== null), 'not served by the service worker');
  log('offline: the page reloaded and runs');
  await page.close();
}

const server = await serve(siteDir);
const isolated = await serve(siteDir, { isolated: true });
const browser = await launchBrowser(puppeteer);
const started = Date.now();
const errors = [];
let failed = false;
try {
  const page = await openPage(browser, server.url, { width: 1280, height: 1024, hasTouch: false }, errors);
  await shot(page, 'frames');
  await checkLayout(page);
  await page.keyboard.press('KeyT'); // the writer stops, so letters stay out of the samples
  await checkSmoke(page);
  await page.setViewport({ width: 1280, height: 1024, hasTouch: true });
  await checkTouchPicture(page);
  await checkGrey(page);
  await checkOverlay(page);
  await checkQuit(page);
  await page.close();
  await checkNoWebAssembly(browser, server.url);
  const phone = await openPage(browser, server.url, PHONE, errors);
  await phone.keyboard.press('KeyT'); // the writer stops, so letters stay out of the samples
  await checkPhoneLayout(phone);
  await phone.close();
  await checkControlsMatchKeys(browser, server.url, errors);
  const session = await recordSession(browser, server.url, errors);
  await checkReplays(browser, server.url, isolated.url, session, errors);
  await checkBadInput(browser, server.url, session.link, errors);
  await checkOffline(browser, server.url, errors);
  assert.deepEqual(errors, [], 'errors on the page');
  log(`all checks passed in ${((Date.now() - started) / 1000).toFixed(0)} s`);
} catch (error) {
  failed = true;
  console.error('[web] FAILED: ' + (error.stack || error));
} finally {
  await browser.close();
  server.close();
  isolated.close();
  fs.rmSync(scratch, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
