// End-to-end checks of the Nebla page: in full in Debian's headless
// Chromium, and its core in Firefox and WebKit too.
//
// In Chromium, on a desktop page: frames appear, a mouse drag leaves smoke
// under the pointer, a touch hold draws the picture, key 3 greys the
// screen, D shows the overlay, Escape plays the outro and offers to play
// again, and a browser without WebAssembly gets a message instead of a
// blank page. On a phone (390 x 844 at 3x with touch, upright and on its
// side): the picture fills the width, the touch controls sit clear of it,
// and a session driven by the controls records the same input as one
// driven by the keys. A session played with touch and keys is saved, and
// its replays natively and in the page from the file give one frame hash.
// A page hidden (its window minimised) paints nothing and records no
// time until it shows again. The wallpaper from nebla-wallpaper.zip, opened from
// disk, shows the picture alone, plays the autopilot, takes the pointer
// and neither Escape nor the outro. A damaged script, a script with a NUL
// and a 100 MB file each get a message; a session saved while it runs ends there. A recording stops at
// its limit with a note and still replays from its link, and a session
// too long for a link gets a message instead of one. A new build of the
// site replaces the old one in a page kept offline, and leaves another
// application's cache alone.
//
// In every engine (Chromium, Firefox, WebKit), on a cross-origin isolated
// page: frames appear with the build the engine can run (the helper thread
// only where there is SharedArrayBuffer), mouse buttons held when the page
// loses focus are let go, the share link and a link at the length limit
// replay to the native capture tool's hash, and so does the share link
// with its window minimised midway (painting nothing while hidden); a cut
// link, a link with a NUL and a link over the limit get their message, and
// the page reloads from its service worker once its host is gone.
//
// Usage: node page_test.mjs SITE_DIR NATIVE_CAPTURE [SHOT_DIR]
// NEBLA_ENGINES=chromium,firefox,webkit (the default) picks the engines the
// core checks run in after Chromium's own.
import { strict as assert } from 'node:assert';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';
import { chromium, firefox, puppeteerTab, webkit } from './engines.mjs';
import { serve, waitUntil } from './harness.mjs';

const IMAGE_W = 640;
const IMAGE_H = 480;
const RAMP1_ENTRY1 = [0, 1, 2];
const GREY_ENTRY1 = [2, 2, 2];
// Places the text writer never writes on: the bands above and below the
// text and the left margin.
const FREE = [6, 30, 458, 474].flatMap((y) => [4, 100, 320, 540, 635].map((x) => [x, y])).concat([[5, 150], [5, 300]]);
const PHONE = { width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true };
const PHONE_ON_SIDE = { ...PHONE, width: 844, height: 390, isLandscape: true };
const DESKTOP = { width: 1280, height: 1024 };
// The page's own limits (index.html, main.cpp): characters of a link's
// packed session, and bytes of a recording.
const LINK_LIMIT = 1000000;
const SESSION_LIMIT = 3.5 * 1024 * 1024;
const NUL_REASON = ':2: a NUL byte (a script is plain text)';

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

// Words typed into Your text: a Q that reached the program would end it.
const WORDS = 'Quiet smoke\nfor Ada #1';

// Too many pages are refused in the box, before anything starts again;
// the words are then written, and the # they hold, which has no letter, is
// named in a note.
async function writeWords(page) {
  await page.click('#words');
  await page.$eval('#words-text', (box) => { box.value = 'a\n---\n'.repeat(250); });
  await page.click('#words-write');
  const refused = await waitUntil('the refusal in the box', 10000,
                                  () => page.$eval('#words-problem', (e) => !e.hidden && e.textContent));
  log(`250 pages of words: ${refused}`);
  assert.match(refused, /more than 200 pages/);
  await page.$eval('#words-text', (box) => { box.value = ''; });
  await page.type('#words-text', WORDS);
  await Promise.all([page.waitForNavigation({ timeout: 30000 }), page.click('#words-write')]);
  await waitUntil('frames with your text', 40000, () => backgroundShown(page, RAMP1_ENTRY1));
  assert.match(await noticeOn(page, 'the note of characters without a letter'), /empty: #$/);
  await sleep(2500);
  await shot(page, 'your-text');
}

// An empty box gives Nebla's own text back: the session starts with no
// words.
async function clearWords(browser, url, errors) {
  const page = await openPage(browser, url, PHONE, errors);
  await page.click('#words');
  assert.equal(await page.$eval('#words-text', (box) => box.value), WORDS, 'the browser did not keep the words');
  await page.$eval('#words-text', (box) => { box.value = ''; });
  await Promise.all([page.waitForNavigation({ timeout: 30000 }), page.click('#words-write')]);
  await waitUntil('frames without your text', 40000, () => backgroundShown(page, RAMP1_ENTRY1));
  assert.doesNotMatch(await sessionScript(page), /^\d+ text /m, 'words after the box was emptied');
  await page.close();
}

// Writes the words, plays with a finger on the picture, a key and a
// control; quits with the Quit control; saves the script and takes the
// share link.
async function recordSession(browser, url, errors) {
  const page = await openPage(browser, url, PHONE, errors);
  await writeWords(page);
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
  await clearWords(browser, url, errors);
  const text = fs.readFileSync(file, 'utf8');
  log(`saved ${path.basename(file)}: ${text.split('\n').filter((l) => /^\d/.test(l)).length} events; link of ${link.length} characters`);
  assert.match(text, /^\d+\s+left down$/m, 'the finger was not recorded as a spray');
  assert.match(text, /^\d+\s+key down 5$/m);
  assert.match(text, /^\d+\s+key down space$/m);
  assert.match(text, /^\d+ text "Quiet smoke\\nfor Ada #1"$/m, 'the words are not the session\'s');
  assert.doesNotMatch(text, /key down q/, 'the words typed reached the program');
  return { file, link };
}


// What the native capture tool says of a script it refuses.
function nativeRefusal(scriptText, name) {
  const file = path.join(scratch, name);
  fs.writeFileSync(file, scriptText);
  const run = spawnSync(nativeCapture, ['--script', file, '--hash'], { encoding: 'utf8', timeout: 60000 });
  assert.equal(run.status, 2, `the capture tool did not refuse ${name}`);
  return run.stderr.slice(run.stderr.indexOf(file) + file.length).trim();
}

const packed = (text, level) => zlib.deflateSync(Buffer.from(text, 'utf8'), { level }).toString('base64url');

// A script whose link is exactly LINK_LIMIT characters long: a comment fills
// it out, packed without compression so that its length can be set.
function linkAtLimit() {
  const script = (n) => `0 mouse 320 240\n100 left down\n# ${'x'.repeat(n)}\n400 left up\n600 key down esc\n`;
  let n = (LINK_LIMIT * 3) / 4 - 200;
  for (let step = 64; step >= 1; step /= 2)
    while (packed(script(n + step), 0).length <= LINK_LIMIT) n += step;
  const text = script(n);
  assert.equal(packed(text, 0).length, LINK_LIMIT, 'no script packs to a link of exactly the limit');
  return { fragment: '#session=' + packed(text, 0), native: nativeHash(text, 'limit.script') };
}

// A script with a NUL in a comment, which a reader of C strings would cut
// short there.
const NUL_SCRIPT = '0 mouse 10 20\n# a note\0 and the rest\n100 left down\n900 left up\n1000 key down esc\n';

// ---- Sessions, in Chromium.

async function replayHash(page) {
  await waitUntil('the replay to start', 40000, () => page.evaluate(() => !document.getElementById('badge').hidden));
  const result = await waitUntil('the replay to end', 120000, () => page.evaluate(() => Module.replayResult), 500);
  return `frames ${result.frames} hash ${result.hash}`;
}

async function checkFileReplay(browser, url, session, native, errors) {
  const page = await openPage(browser, url, PHONE, errors);
  const input = await page.$('#open-file');
  await Promise.all([page.waitForNavigation({ timeout: 30000 }), input.uploadFile(session.file)]);
  const fromFile = await replayHash(page);
  assert.equal(await page.evaluate(() => Module.threads), false, 'threads without isolation');
  await shot(page, 'replay-ended');
  await page.close();
  log(`replays: native ${native}, page from the file (one thread) ${fromFile}`);
  assert.equal(fromFile, native);
}

async function noticeAfter(page, what, action, timeoutMs = 15000) {
  await page.evaluate(() => document.getElementById('notice')?.setAttribute('hidden', ''));
  await action();
  const text = await waitUntil(what, timeoutMs, () => page.evaluate(() => {
    const notice = document.getElementById('notice');
    return notice && !notice.hidden && document.getElementById('notice-text').textContent;
  }));
  log(`${what}: ${text.replace(/\s+/g, ' ').trim()}`);
  return text;
}

async function checkBadFiles(browser, url, errors) {
  const page = await openPage(browser, url, PHONE, errors);
  const input = await page.$('#open-file');
  const damaged = path.join(scratch, 'damaged.script');
  fs.writeFileSync(damaged, '0 mouse 10 20\n100 left down\n90 key down z\n');
  assert.match(await noticeAfter(page, 'a damaged script', () => input.uploadFile(damaged)), /damaged\.script:3: /);
  const nul = path.join(scratch, 'nul.script');
  fs.writeFileSync(nul, NUL_SCRIPT);
  const refused = await noticeAfter(page, 'a script with a NUL', () => input.uploadFile(nul));
  assert.ok(refused.includes('nul.script' + NUL_REASON), 'the NUL was not refused as the capture tool refuses it');
  assert.equal(nativeRefusal(NUL_SCRIPT, 'nul.script'), NUL_REASON);
  const huge = path.join(scratch, 'huge.script');
  fs.closeSync(fs.openSync(huge, 'w'));
  fs.truncateSync(huge, 100 * 1024 * 1024);
  assert.match(await noticeAfter(page, 'a 100 MB file', () => input.uploadFile(huge)), /too large/);
  await backgroundShown(page, RAMP1_ENTRY1);
  await page.close();
}

// Fills the recording with pointer moves until the page notes that it is
// full: at random over the picture (which packs to more than a link
// holds), or along its rows (which packs small). Resolves to the note.
async function fillSession(page, random) {
  return noticeAfter(page, 'the full recording', () => page.evaluate(async (random) => {
    const r = document.getElementById('screen').getBoundingClientRect();
    let seed = 7;
    const next = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
    for (let i = 0; document.getElementById('notice').hidden && i < 400000; ++i) {
      const [x, y] = random ? [next(), next()] : [(i % 600) / 640, ((i / 600) % 400) / 480];
      document.dispatchEvent(new MouseEvent('mousemove', { bubbles: true, clientX: r.left + x * r.width, clientY: r.top + y * r.height }));
      if (i % 20000 === 19999) await new Promise((done) => setTimeout(done, 100));
    }
  }, random));
}

// A recording stops at its limit with a note and ends with Escape there;
// nothing after it is kept. A session of busy random moves packs too long
// for a link and Share link says so; one that packs small gives a link
// that replays as the capture tool replays the saved script. The full
// recording is made in the threaded build, whose heap does not grow.
async function checkSessionLimit(browser, url, isolatedUrl, errors) {
  const busy = await openPage(browser, isolatedUrl, DESKTOP, errors);
  assert.match(await fillSession(busy, true), /reached the 3.5 MB/);
  const script = await sessionScript(busy);
  assert.ok(script.length <= SESSION_LIMIT, `a recording of ${script.length} bytes`);
  assert.match(script, /\n# the session reached its limit[^\n]*\n\d+ key down esc\n$/);
  await busy.evaluate(() => document.dispatchEvent(new MouseEvent('mousemove', { bubbles: true, clientX: 3, clientY: 3 })));
  await sleep(300);
  assert.equal(await sessionScript(busy), script, 'the recording went on past its limit');
  assert.match(await noticeAfter(busy, 'a session too long for a link', () => busy.click('#share'), 60000), /too long for a link/);
  assert.ok(await busy.$eval('#sharing', (e) => e.hidden), 'a link the page would refuse was offered');
  await busy.close();
  const rows = await openPage(browser, url, DESKTOP, errors);
  await fillSession(rows, false);
  const full = await sessionScript(rows);
  await rows.click('#share');
  const link = await waitUntil('the share link', 10000, () => rows.$eval('#share-link', (e) => e.value));
  await rows.close();
  log(`a full recording of ${full.length} bytes packs into a link of ${link.length} characters`);
  const replay = await browser.newPage();
  await replay.goto(isolatedUrl + link.slice(link.indexOf('#')));
  assert.equal(await replayHash(replay), nativeHash(full, 'full.script'), 'the full session replays otherwise');
  await replay.close();
}

// ---- A new build of the site, in Chromium: the host lets browsers keep
// its files for an hour, so a page that went through the HTTP cache would
// mix or keep the old build.

const cacheNames = (page) => page.evaluate(() => caches.keys());
const buildShown = (page) => page.evaluate(() => document.querySelector('meta[name="nebla-test-build"]')?.content || 'A');

// Another application on the same host, with data of its own offline.
async function anotherApp(page, site, url) {
  fs.mkdirSync(path.join(site, 'elsewhere'));
  fs.writeFileSync(path.join(site, 'elsewhere', 'index.html'), '<!doctype html><title>Another application</title>');
  await page.goto(url + 'elsewhere/');
  await page.evaluate(() => caches.open('another-app').then((cache) => cache.put('/elsewhere/data', new Response('kept'))));
}

// The build's stamp in the site's worker.
function stampOf(site) {
  const stamp = /const BUILD = '([0-9a-f]{16})';/.exec(fs.readFileSync(path.join(site, 'sw.js'), 'utf8'));
  assert.ok(stamp, 'the service worker carries no build stamp');
  return stamp[1];
}

// Build B: the same program with a visible marker in its page, its worker
// stamped by the build's own step. Resolves to the two stamps.
function publishB(site) {
  const a = stampOf(site);
  const page = fs.readFileSync(path.join(site, 'index.html'), 'utf8');
  fs.writeFileSync(path.join(site, 'index.html'), page.replace('<title>', '<meta name="nebla-test-build" content="B"><title>'));
  const web = new URL('../../src/main/web/', import.meta.url).pathname;
  execFileSync('cmake', [`-DSITE=${site}`, `-DTEMPLATE=${web}sw.js`, '-P', `${web}stamp_worker.cmake`]);
  const b = stampOf(site);
  assert.notEqual(b, a, 'a changed page gives the same worker');
  return [a, b];
}

async function checkNewBuild(browser, siteDir, errors) {
  const site = path.join(scratch, 'site');
  fs.cpSync(siteDir, site, { recursive: true });
  const host = await serve(site, { cacheSeconds: 3600 });
  const page = await browser.newPage();
  page.on('pageerror', (e) => errors.push(String(e)));
  await anotherApp(page, site, host.url);
  await page.goto(host.url);
  await waitUntil('build A in control', 40000, () => page.evaluate(() => navigator.serviceWorker.controller !== null));
  const [a, b] = publishB(site);
  await page.goto(host.url);
  await waitUntil('frames of build B', 40000, () => backgroundShown(page, RAMP1_ENTRY1));
  assert.equal(await buildShown(page), 'B', 'the page still runs build A after B was published');
  const names = await waitUntil('the worker of build B in place', 40000, async () => {
    const now = await cacheNames(page);
    return now.some((name) => name.endsWith(' ' + b)) && !now.some((name) => name.endsWith(' ' + a)) && now;
  });
  log(`build B runs; the origin's caches: ${names.join(', ')}`);
  assert.ok(names.includes('another-app'), "the worker deleted another application's cache");
  host.close();
  await page.goto(host.url);
  await waitUntil('frames of build B offline', 40000, () => backgroundShown(page, RAMP1_ENTRY1));
  assert.equal(await buildShown(page), 'B', 'offline, the page runs another build than B');
  await page.close();
}

// ---- Every engine, through engines.mjs.

// The colours at the free places, read in the page.
const freeColours = (tab) => tab.evaluate((points) => {
  const data = document.getElementById('screen').getContext('2d').getImageData(0, 0, 640, 480).data;
  return points.map(([x, y]) => Array.from(data.slice((y * 640 + x) * 4, (y * 640 + x) * 4 + 3)));
}, FREE);

const framesShown = (tab, what) => waitUntil(what, 40000, async () =>
  (await freeColours(tab)).filter((c) => same(c, RAMP1_ENTRY1)).length >= FREE.length - 2);

const visit = async (tab, url) => {
  await tab.goto('about:blank');
  await tab.goto(url);
};

const noticeOn = (tab, what) => waitUntil(what, 20000, () => tab.evaluate(() => {
  const notice = document.getElementById('notice');
  return notice && !notice.hidden && document.getElementById('notice-text').textContent;
}));

// Both buttons held when the page loses focus are let go before the loss
// is recorded, as keys are, so no spray goes on after the return.
async function checkFocusLetsGo(engine, tab) {
  const script = await tab.evaluate(async () => {
    const canvas = document.getElementById('screen');
    const r = canvas.getBoundingClientRect();
    const at = { bubbles: true, clientX: r.left + r.width / 2, clientY: r.top + r.height / 2 };
    canvas.dispatchEvent(new MouseEvent('mousedown', { ...at, button: 0 }));
    canvas.dispatchEvent(new MouseEvent('mousedown', { ...at, button: 2 }));
    window.dispatchEvent(new FocusEvent('blur'));
    window.dispatchEvent(new FocusEvent('focus'));
    await new Promise((done) => setTimeout(done, 500));
    return Module.UTF8ToString(Module._nebla_session_script());
  });
  const events = script.split('\n').map((line) => line.replace(/^\d+\s+/, '')).filter((e) => /^(left|right|focus) /.test(e));
  assert.deepEqual(events.slice(events.indexOf('left down')),
                   ['left down', 'right down', 'left up', 'right up', 'focus lost', 'focus gained'],
                   `${engine.name}: buttons stay held after the page lost focus`);
  log(`${engine.name}: both buttons were let go when the page lost focus`);
}

async function checkLinkReplay(engine, tab, url, fragment, native, what) {
  await visit(tab, url + fragment);
  await waitUntil(`${engine.name}: ${what} to start`, 40000, () => tab.evaluate(() => !document.getElementById('badge').hidden));
  const result = await waitUntil(`${engine.name}: ${what} to end`, 120000, () => tab.evaluate(() => Module.replayResult || null), 500);
  const got = `frames ${result.frames} hash ${result.hash}`;
  log(`${engine.name}: ${what} replays to ${got}; natively ${native}`);
  assert.equal(got, native, `${engine.name}: ${what}`);
}

// A replay hidden midway rests, goes on when shown, and ends with the
// frames of the native capture tool.
async function checkHiddenReplay(engine, tab, url, fragment, native) {
  await visit(tab, url + fragment);
  await waitUntil(`${engine.name}: the replay to start`, 40000, () => tab.evaluate(() => !document.getElementById('badge').hidden));
  await sleep(2500);
  const { during, running } = await paintedWhileHidden(tab, 2500);
  const result = await waitUntil(`${engine.name}: the replay to end`, 120000, () => tab.evaluate(() => Module.replayResult || null), 500);
  const got = `frames ${result.frames} hash ${result.hash}`;
  log(`${engine.name}: a replay hidden midway painted ${during} pictures while hidden, ends with ${got}; natively ${native}`);
  assert.ok(running, `${engine.name}: the replay ended before the page was hidden`);
  assert.equal(during, 0, `${engine.name}: the hidden replay painted`);
  assert.equal(got, native, `${engine.name}: the replay hidden midway shows other frames`);
}

async function checkBadLinks(engine, tab, url, shared) {
  const cases = [
    ['a cut link', shared.link.slice(shared.link.indexOf('#'), -20), /link's session cannot be replayed/],
    ['a link with a NUL', '#session=' + packed(NUL_SCRIPT, 9), new RegExp('link' + NUL_REASON.replace(/[()]/g, '\\$&'))],
    ['a link over the limit', shared.limit.fragment + 'A', /too long for a session/],
  ];
  for (const [what, fragment, reason] of cases) {
    await visit(tab, url + fragment);
    const text = await noticeOn(tab, `${engine.name}: the notice for ${what}`);
    log(`${engine.name}: ${what}: ${text.replace(/\s+/g, ' ').trim()}`);
    assert.match(text, reason, `${engine.name}: ${what}`);
    await framesShown(tab, `${engine.name}: live frames after ${what}`);
  }
}

// The page's own host stops answering: it reloads from its service worker.
async function checkOffline(engine, siteDir) {
  const host = await serve(siteDir, { isolated: true });
  const tab = await engine.open(host.url, DESKTOP, { quiet: true });
  await framesShown(tab, `${engine.name}: frames before going offline`);
  await waitUntil(`${engine.name}: the service worker in control`, 40000,
                  () => tab.evaluate(() => navigator.serviceWorker.controller !== null));
  host.close();
  await visit(tab, host.url);
  await framesShown(tab, `${engine.name}: frames without the host`);
  assert.ok(await tab.evaluate(() => navigator.serviceWorker.controller !== null), `${engine.name}: not from the worker`);
  log(`${engine.name}: reloaded without its host`);
  await tab.close();
}

async function checkEngine(engine, url, siteDir, shared) {
  const started = Date.now();
  const tab = await engine.open(url, DESKTOP);
  await framesShown(tab, `${engine.name}: frames`);
  assert.equal(await tab.evaluate(() => Module.threads), engine.threads, `${engine.name}: the wrong build`);
  await checkFocusLetsGo(engine, tab);
  await checkLinkReplay(engine, tab, url, shared.link.slice(shared.link.indexOf('#')), shared.native, 'the shared link');
  await checkHiddenReplay(engine, tab, url, shared.link.slice(shared.link.indexOf('#')), shared.native);
  await checkLinkReplay(engine, tab, url, shared.limit.fragment, shared.limit.native, `a link of ${LINK_LIMIT} characters`);
  await checkBadLinks(engine, tab, url, shared);
  await tab.close();
  await checkOffline(engine, siteDir);
  log(`${engine.name}: the core checks passed in ${((Date.now() - started) / 1000).toFixed(0)} s (threads: ${engine.threads})`);
}

// ---- A hidden page, and the page as a wallpaper.

// Minimising the tab's window hides the page in every engine here, as
// another window over it would (Chromium's Page.setWebLifecycleState hides
// it too, but freezes its scripts as well).
async function setHidden(tab, hidden) {
  await tab.hide(hidden);
  await waitUntil(`the page ${hidden ? 'hidden' : 'shown'}`, 5000, () => tab.evaluate((h) => document.hidden === h, hidden));
}

const painted = (tab) => tab.evaluate(() => Module.framesPainted || 0);

// Hides the page for ms milliseconds; the pictures painted meanwhile, and
// whether a replay was still running when the page was hidden.
async function paintedWhileHidden(tab, ms) {
  await setHidden(tab, true);
  const before = await painted(tab);
  const running = await tab.evaluate(() => !Module.replayResult);
  await sleep(ms);
  const during = (await painted(tab)) - before;
  await setHidden(tab, false);
  return { during, running };
}

// Live: no pictures while hidden, and the recording's clock skips the
// hidden time, so that a replay shows what was seen.
async function checkHiddenLive(browser, url, errors) {
  const page = await openPage(browser, url, DESKTOP, errors);
  await page.keyboard.press('Digit2');
  const shownAt = Date.now();
  const { during } = await paintedWhileHidden(puppeteerTab(page), 3000);
  await page.keyboard.press('Digit3');
  const elapsed = Date.now() - shownAt;
  const after = await painted(page);
  await sleep(1000);
  const again = (await painted(page)) - after;
  const script = await sessionScript(page);
  const time = (key) => Number(new RegExp(`^(\\d+) key down ${key}$`, 'm').exec(script)[1]);
  const recorded = time(3) - time(2);
  log(`hidden 3 s: ${during} pictures painted, ${again} in the second after; ` +
      `keys ${elapsed} ms apart in real time, ${recorded} ms in the recording`);
  assert.equal(during, 0, 'the hidden page painted');
  assert.ok(again >= 10, 'the page did not go on when shown');
  assert.ok(recorded <= elapsed - 2500, 'the recording counted the hidden time');
  await page.close();
}

// Everything on the page that takes room on the screen, but the picture.
const shownBesidesPicture = (page) => page.evaluate(() =>
  [...document.body.querySelectorAll('*')]
    .filter((e) => e.tagName !== 'SCRIPT' && !['stage', 'screen'].includes(e.id) && e.getClientRects().length > 0)
    .map((e) => e.id || e.tagName));

// The zip's page, opened from disk as the hosts open it: the picture alone,
// drawn by the autopilot's hand and the pointer's; Escape neither reaches
// the program nor ends it.
async function checkWallpaper(browser, zip, errors) {
  const dir = path.join(scratch, 'wallpaper');
  execFileSync('python3', ['-m', 'zipfile', '-e', zip, dir]);
  const page = await browser.newPage();
  await page.setViewport(DESKTOP);
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto('file://' + path.join(dir, 'index.html'));
  await waitUntil('the wallpaper painting', 40000, async () => (await painted(page)) >= 40);
  assert.deepEqual(await shownBesidesPicture(page), [], 'the wallpaper shows more than the picture');
  const [x, y] = await pagePoint(page, 613, 21);
  await page.mouse.move(x, y);
  await page.mouse.down();
  await sleep(300);
  await page.mouse.up();
  await page.keyboard.press('Escape');
  await sleep(4000);
  // What the program took in: the Escape a script saved while it runs
  // ends with is the page's own.
  const script = (await sessionScript(page)).replace(/# saved here[^\n]*\n\d+ key down esc\n$/, '');
  const before = await painted(page);
  await sleep(1000);
  const lines = script.split('\n');
  const pointer = lines.findIndex((l) => /^\d+ mouse 613 21$/.test(l));
  // The pointer moved once, to (613, 21): every other move, and every key,
  // is the hand's.
  const hand = lines.filter((l) => / key down |^\d+ mouse (?!613 21$)/.test(l)).length;
  const colours = new Set(region(await readImage(page), 0, 639, 0, 479, 4).map((c) => c.join()));
  await shot(page, 'wallpaper');
  log(`wallpaper: ${before} pictures, ${colours.size} colours, ${hand} moves and keys of the hand, the pointer's at line ${pointer}`);
  assert.ok(pointer >= 0 && lines.slice(pointer).some((l) => / left down$/.test(l)), 'the pointer did not reach the program');
  assert.ok(hand >= 3, 'no autopilot');
  assert.ok(colours.size >= 10, 'the wallpaper drew nothing');
  assert.doesNotMatch(script, / key down esc$/m, 'the wallpaper took Escape');
  assert.match(script, /^\d+ text keyless$/m, 'the wallpaper\'s writer keeps the pages that teach keys');
  assert.ok((await painted(page)) > before, 'the wallpaper stopped');
  assert.deepEqual(await shownBesidesPicture(page), [], 'the wallpaper shows more than the picture after Escape');
  await page.close();
}

// ---- The whole test.

async function checkChromium(browser, urls, errors) {
  const page = await openPage(browser, urls.plain, DESKTOP, errors);
  await shot(page, 'frames');
  await checkLayout(page);
  await page.keyboard.press('KeyT'); // the writer stops, so letters stay out of the samples
  await checkSmoke(page);
  await page.setViewport({ ...DESKTOP, hasTouch: true });
  await checkTouchPicture(page);
  await checkGrey(page);
  await checkOverlay(page);
  await checkQuit(page);
  await page.close();
  await checkNoWebAssembly(browser, urls.plain);
  const phone = await openPage(browser, urls.plain, PHONE, errors);
  await phone.keyboard.press('KeyT');
  await checkPhoneLayout(phone);
  await phone.close();
  await checkControlsMatchKeys(browser, urls.plain, errors);
  const session = await recordSession(browser, urls.plain, errors);
  const native = nativeHash(fs.readFileSync(session.file, 'utf8'), 'native.script');
  await checkFileReplay(browser, urls.plain, session, native, errors);
  await checkHiddenLive(browser, urls.plain, errors);
  await checkWallpaper(browser, path.join(siteDir, '..', 'nebla-wallpaper.zip'), errors);
  await checkBadFiles(browser, urls.plain, errors);
  await checkSessionLimit(browser, urls.plain, urls.isolated, errors);
  await checkNewBuild(browser, siteDir, errors);
  return { link: session.link, native };
}

const server = await serve(siteDir);
const isolated = await serve(siteDir, { isolated: true });
const urls = { plain: server.url, isolated: isolated.url };
const started = Date.now();
const errors = [];
const only = process.env.NEBLA_ENGINES ? process.env.NEBLA_ENGINES.split(',') : ['chromium', 'firefox', 'webkit'];
let engine = null;
let failed = false;
try {
  engine = await chromium(puppeteer, errors);
  const shared = { ...(await checkChromium(engine.browser, urls, errors)), limit: linkAtLimit() };
  for (const name of only) {
    if (name !== 'chromium') {
      await engine.close();
      engine = null;
      engine = await (name === 'firefox' ? firefox(puppeteer, errors) : webkit());
    }
    await checkEngine(engine, urls.isolated, siteDir, shared);
  }
  assert.deepEqual(errors, [], 'errors on the page');
  log(`all checks passed in ${((Date.now() - started) / 1000).toFixed(0)} s`);
} catch (error) {
  failed = true;
  console.error('[web] FAILED: ' + (error.stack || error));
} finally {
  if (engine) await engine.close().catch(() => {});
  server.close();
  isolated.close();
  fs.rmSync(scratch, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
