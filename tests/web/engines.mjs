// The three browser engines the page is tested in, behind one small
// interface, so that the page's core checks are written once: Chromium and
// Firefox driven by puppeteer-core (over CDP and WebDriver BiDi), WebKit
// (WebKitGTK's MiniBrowser) by plain W3C WebDriver calls to WebKitWebDriver
// under an Xvfb of its own.
//
// An engine: { name, threads, open(url, viewport, { quiet }), close() },
// where threads says whether an isolated page gets SharedArrayBuffer
// (WebKitGTK's page is isolated but has none), and a quiet tab's page
// errors are not collected (Firefox reports a page's failed fetches as
// errors once its host is gone). A tab: { goto(url), evaluate(fn, ...args),
// hide(hidden), close() }; fn runs in the page and may return a promise, and
// hide minimises the tab's window (true) or restores it (false), which
// hides the page from it or shows it again. Only Chromium
// emulates a touch screen (Firefox and WebKitGTK here offer no touch
// events), so the touch checks stay with Chromium.
import { spawn } from 'node:child_process';
import net from 'node:net';
import { launchBrowser, waitUntil } from './harness.mjs';

const MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

export function puppeteerTab(page) {
  return {
    page,
    goto: (url) => page.goto(url),
    evaluate: (fn, ...args) => page.evaluate(fn, ...args),
    hide: async (hidden) => page.browser().setWindowBounds(await page.windowId(),
                                                           { windowState: hidden ? 'minimized' : 'normal' }),
    close: () => page.close(),
  };
}

// What Firefox reports when a page that is left cancels a request its
// service worker was answering (its icon, say): the page's leaving, not a
// fault of the page.
const CANCELLED = /A ServiceWorker intercepted the request and encountered an unexpected error/;

async function puppeteerEngine(name, browser, errors) {
  return {
    name,
    threads: true,
    browser,
    async open(url, viewport, { quiet = false } = {}) {
      const page = await browser.newPage();
      if (viewport) await page.setViewport(viewport);
      if (!quiet) page.on('pageerror', (e) => CANCELLED.test(String(e)) || errors.push(`${name}: ${e}`));
      if (url) await page.goto(url);
      return puppeteerTab(page);
    },
    close: () => browser.close(),
  };
}

export async function chromium(puppeteer, errors) {
  return puppeteerEngine('chromium', await launchBrowser(puppeteer), errors);
}

export async function firefox(puppeteer, errors) {
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
    headless: true,
    protocolTimeout: 60000,
  });
  return puppeteerEngine('firefox', browser, errors);
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// A child process that must not outlive the test.
function start(command, args, env, stdio = 'ignore') {
  const child = spawn(command, args, { env: { ...process.env, ...env }, stdio });
  child.on('error', () => {});
  return child;
}

// An X server on a free display; resolves to [process, ':N'].
function startXvfb() {
  const xvfb = start('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], {},
                     ['ignore', 'ignore', 'ignore', 'pipe']);
  return new Promise((resolve, reject) => {
    let text = '';
    xvfb.stdio[3].on('data', (data) => {
      text += data;
      if (text.includes('\n')) resolve([xvfb, ':' + text.trim()]);
    });
    xvfb.on('exit', () => reject(new Error('Xvfb did not start')));
  });
}

function freePort() {
  return new Promise((resolve) => {
    const probe = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

// One WebDriver session, one window: a tab is that window, and opening
// another first leaves the last page for a blank one.
export async function webkit() {
  const [xvfb, display] = await startXvfb();
  const port = await freePort();
  const driver = start(process.env.WEBKIT_DRIVER || 'WebKitWebDriver', [`--port=${port}`], { DISPLAY: display });
  const base = `http://127.0.0.1:${port}`;
  const stop = () => { driver.kill(); xvfb.kill(); };
  const call = async (method, path, body) => {
    const response = await fetch(base + path, { method, headers: { 'content-type': 'application/json' },
                                                body: body && JSON.stringify(body) });
    const answer = await response.json();
    if (!response.ok) throw new Error(`WebDriver ${path}: ${answer.value?.message || response.status}`);
    return answer.value;
  };
  let session;
  try {
    session = await waitUntil('WebKitWebDriver', 20000, async () => {
      await sleep(250);
      return call('POST', '/session', { capabilities: { alwaysMatch: {
        'webkitgtk:browserOptions': { binary: process.env.MINIBROWSER || MINIBROWSER, args: ['--automation'] } } } })
        .then((value) => value.sessionId, () => null);
    });
  } catch (error) {
    stop();
    throw error;
  }
  const at = `/session/${session}`;
  const tab = {
    goto: (url) => call('POST', at + '/url', { url }),
    // The function's source runs as an asynchronous script; its result (or
    // its error) comes back through the callback WebDriver appends.
    async evaluate(fn, ...args) {
      const script = `const done = arguments[arguments.length - 1];
        Promise.resolve().then(() => (${fn}).apply(null, Array.from(arguments).slice(0, -1)))
          .then((value) => done({ value }), (error) => done({ error: String(error && error.stack || error) }));`;
      const result = await call('POST', at + '/execute/async', { script, args });
      if (result.error) throw new Error('in WebKit: ' + result.error);
      return result.value;
    },
    // Setting the window's rectangle restores a minimised window.
    hide: (hidden) => call('POST', at + (hidden ? '/window/minimize' : '/window/rect'), {}),
    close: () => call('POST', at + '/url', { url: 'about:blank' }),
  };
  await call('POST', at + '/timeouts', { script: 120000, pageLoad: 60000 });
  return {
    name: 'webkit',
    threads: false,
    async open(url, viewport) {
      await tab.goto('about:blank');
      if (viewport) await call('POST', at + '/window/rect', { width: viewport.width, height: viewport.height });
      if (url) await tab.goto(url);
      return tab;
    },
    async close() {
      await call('DELETE', at).catch(() => {});
      stop();
    },
  };
}
