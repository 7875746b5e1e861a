// Shared helpers of the browser tests: a real heartpage-server on a free
// loopback port, pages published to it with heartpage-cli, and Chromium
// watching everything that goes wrong while a page runs.
//
// Environment (set by CTest, see CMakeLists.txt):
//   HEARTPAGE_SERVER     heartpage-server binary
//   HEARTPAGE_CLI        heartpage-cli binary
//   HEARTPAGE_ASSETS     pages/assets of the source tree
//   HEARTPAGE_VENDOR     <build>/pages/assets-vendor (third-party scripts)
//   HEARTPAGE_ARTEFACTS  folder for screenshots (created when missing)
//   CHROMIUM             browser binary, /usr/bin/chromium by default
import { spawn, execFile } from 'node:child_process';
import { after, before } from 'node:test';
import { appendFileSync, mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';

const run = promisify(execFile);

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set; run the browser tests through ctest`);
  return value;
}

export const viewports = [
  { name: 'desktop', width: 1280, height: 800, isMobile: false, hasTouch: false },
  { name: 'phone', width: 390, height: 844, isMobile: true, hasTouch: true },
];

// Chromium as CI runs it: root, no network beyond loopback. Audible autoplay
// is refused until the visitor interacts, as in every current browser.
export const chromiumArgs = [
  '--no-sandbox',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--no-first-run',
  '--disable-quic',
  '--disable-gpu',
  '--autoplay-policy=document-user-activation-required',
];

// Starts heartpage-server with a fresh data folder on a port the kernel
// picks, and `args` besides.
export async function startServer(args = []) {
  const data = mkdtempSync(path.join(tmpdir(), 'heartpage-browser-'));
  const child = spawn(
    required('HEARTPAGE_SERVER'),
    ['--data', data, '--listen', '127.0.0.1:0', '--assets', required('HEARTPAGE_ASSETS'),
      '--assets', required('HEARTPAGE_VENDOR'), ...args],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  let log = '';
  const host = await new Promise((resolve, reject) => {
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (chunk) => {
      log += chunk;
      const match = /listening on http:\/\/([^/\s]+)\//.exec(log);
      if (match) resolve(match[1]);
    });
    child.on('exit', (code) => reject(new Error(`heartpage-server ended (${code}): ${log}`)));
    child.on('error', reject);
  });
  return {
    host,
    log: () => log,
    async stop() {
      if (child.exitCode === null) {
        const ended = new Promise((resolve) => child.once('exit', resolve));
        child.kill('SIGTERM');
        await ended;
      }
      rmSync(data, { recursive: true, force: true });
    },
  };
}

let published = 0;

// Builds a style with heartpage-cli and publishes it under a fresh name;
// answers the page's address. `set` maps fields ("Text1(3)") to values;
// `question` and `answers` ('A,B') are what the page asks. The page is
// published from the machine `browser-NAME`, NAME being its address's end.
export async function publish(server, style, { check = false, set = {}, question, answers } = {}) {
  const name = `s${style}${check ? 'c' : ''}p${process.pid}n${++published}`;
  const args = ['publish', '--style', String(style), '--name', name, '--machine-id', `browser-${name}`];
  if (check) args.push('--check');
  for (const [field, value] of Object.entries(set)) args.push('--set', `${field}=${value}`);
  if (question !== undefined) args.push('--question', question);
  if (answers !== undefined) args.push('--answers', answers);
  const env = { ...process.env, HEARTPAGE_HOST: server.host };
  const { stdout } = await run(required('HEARTPAGE_CLI'), args, { env });
  const address = `http://${server.host}/Test/${name}`;
  assert.ok(stdout.includes(address), `publish printed ${stdout}`);
  return address;
}

// publish(), then the same page stored again with `settings` ({ opens,
// code, hint }) as the program sends them, each encoded by heartpage-cli;
// answers the page's address.
export async function publishWithSettings(server, style, settings, options = {}) {
  const address = await publish(server, style, options);
  const name = address.split('/').pop();
  const cli = required('HEARTPAGE_CLI');
  // The bytes as stored, from the server itself (`direct`: behind a proxy
  // that changes what it serves).
  const page = new Uint8Array(await (await fetch(
    `http://${server.direct ?? server.host}/Test/${name}`)).arrayBuffer());
  const encode = async (text) => (await run(cli, ['encode', text])).stdout.trim();
  let body = `zc=${await encode('4')}&File=${await encode(name)}&ID=${await encode(`browser-${name}`)}`;
  for (const [field, value] of Object.entries(settings)) body += `&${field}=${await encode(value)}`;
  body += `&data=${[...page].join('A')}`;
  const stored = await fetch(`http://${server.host}/asp/index.asp`, {
    method: 'POST', headers: { 'Content-Type': 'application/x-www-form-urlencoded' }, body,
  });
  assert.equal(stored.status, 200, await stored.text());
  return address;
}

// "YYYY-MM-DD HH:MM:SS" in UTC, as a store takes a page's moment.
export const utcText = (ms) => new Date(ms).toISOString().slice(0, 19).replace('T', ' ');

// The receipts of a page as its owner's program reads them (operation 8),
// each value in the site's decimal encoding of its characters.
export async function receiptsOf(host, name) {
  const encode = (text) => [...text].map((c) => c.charCodeAt(0)).join('A');
  const response = await fetch(`http://${host}/asp/index.asp`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
    body: `zc=${encode('8')}&File=${encode(name)}&ID=${encode(`browser-${name}`)}`,
  });
  const text = new TextDecoder('gbk').decode(await response.arrayBuffer());
  assert.equal(response.status, 200, text);
  const records = text.split('いゼ').slice(1).map((record) => record.split('い'));
  return {
    question: records[0][0],
    opened: Number(records[0][3]),
    answers: records.slice(1).map((record) => record[1]),
  };
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: chromiumArgs,
  });
}

// The set-up every browser test file shares: one heartpage-server and one
// Chromium, started before the file's first test and ended after its last;
// `serverArgs` go to heartpage-server.
// Answers the file's handle on them, whose `server` and `browser` are there
// once started:
//   publish(style, options)                  publish() on this server
//   measure(address, viewport, name, options)  measure() in this browser
//   visit(address, viewport, [options,] check)  opens the page (openPage),
//     runs check({ page, problems, requests, context }), then fails with
//     whatever went wrong on the page meanwhile; the page is closed always.
export function sharedSetUp({ serverArgs = [] } = {}) {
  const site = {
    server: undefined,
    browser: undefined,
    publish: (style, options) => publish(site.server, style, options),
    measure: (address, viewport, name, options) =>
      measure(site.browser, site.server, address, viewport, name, options),
    async visit(address, viewport, options, check) {
      if (typeof options === 'function') [options, check] = [{}, options];
      const opened = await openPage(site.browser, site.server, address, viewport, options);
      try {
        await check(opened);
        assertClean(opened.problems);
      } finally {
        await opened.context.close();
      }
    },
  };
  before(async () => {
    site.server = await startServer(serverArgs);
    site.browser = await launchBrowser();
  });
  after(async () => {
    await site.browser?.close();
    await site.server?.stop();
  });
  return site;
}

// Opens `address` in a new context of the given viewport and records every
// console error, uncaught error and failed or non-200 request to the
// publishing host. Long main-thread tasks are observed from the first script.
// With `clock`, the page's timers run on Playwright's clock, so that a test
// can run minutes of animation in moments (page.clock.runFor). With
// `withoutCanvas`, the browser is one whose canvases cannot draw.
export async function openPage(browser, server, address, viewport,
  { clock = false, withoutCanvas = false } = {}) {
  const context = await browser.newContext({
    viewport: { width: viewport.width, height: viewport.height },
    isMobile: viewport.isMobile,
    hasTouch: viewport.hasTouch,
    deviceScaleFactor: 1,
    reducedMotion: viewport.reducedMotion ?? 'no-preference',
    timezoneId: viewport.timezoneId,
  });
  await context.addInitScript(() => {
    window.__longTasks = [];
    try {
      new PerformanceObserver((list) => {
        for (const entry of list.getEntries())
          window.__longTasks.push({ start: entry.startTime, duration: entry.duration });
      }).observe({ type: 'longtask', buffered: true });
    } catch (e) { /* no long-task observer: nothing recorded */ }
    // Layout shifts that the visitor did not cause (the page's cumulative
    // layout shift, without the browser's session windows: the sum of all).
    window.__layoutShift = 0;
    try {
      new PerformanceObserver((list) => {
        for (const entry of list.getEntries()) if (!entry.hadRecentInput) window.__layoutShift += entry.value;
      }).observe({ type: 'layout-shift', buffered: true });
    } catch (e) { /* no layout-shift observer: nothing recorded */ }
  });
  if (withoutCanvas) await context.addInitScript(() => { HTMLCanvasElement.prototype.getContext = undefined; });
  if (clock) await context.clock.install();
  const page = await context.newPage();
  const problems = [];
  const requests = [];
  // A page without an icon link makes the browser ask for /favicon.ico, a
  // 404 in the console; templates name an empty icon ("data:,") instead.
  page.on('console', (message) => {
    if (message.type() === 'error')
      problems.push(`console error: ${message.text()} (${message.location().url || 'page'})`);
  });
  page.on('pageerror', (error) => problems.push(`uncaught: ${error.message}`));
  // A dialog stops the page (and its music) until the visitor answers it:
  // pages say what they have to say in the page itself.
  page.on('dialog', (dialog) => {
    problems.push(`dialog: ${dialog.message()}`);
    dialog.dismiss().catch(() => {});
  });
  const toHost = (url) => new URL(url).host === server.host;
  page.on('requestfailed', (request) => {
    if (!toHost(request.url())) return;
    const reason = request.failure()?.errorText ?? '';
    // Media elements drop a connection they no longer need; that is no fault.
    if (reason === 'net::ERR_ABORTED' && ['media'].includes(request.resourceType())) return;
    problems.push(`request failed: ${request.url()} ${reason}`);
  });
  page.on('response', async (response) => {
    const request = response.request();
    if (!toHost(request.url())) return;
    requests.push(request);
    const status = response.status();
    // A range request (audio, video) is rightly answered 206. A page closed
    // before its headers are read leaves nothing to judge.
    let ranged = false;
    if (status === 206) {
      try {
        ranged = (await request.allHeaders()).range !== undefined;
      } catch {
        return;
      }
    }
    // A page's opening or answer, kept, is answered with nothing: 204; a
    // file asked for again, unchanged since, with 304.
    if (status !== 200 && status !== 204 && status !== 304 && !ranged)
      problems.push(`HTTP ${status}: ${request.url()}`);
  });
  await page.goto(address, { waitUntil: 'load' });
  // From here on the page's time moves only when the test says so. The
  // margin covers the round trip to the page on a busy machine; a pause time
  // already past is refused, and then asked for again from the page's now.
  for (let tries = 0; clock; ++tries) {
    try {
      await page.clock.pauseAt(await page.evaluate(() => Date.now() + 500));
      break;
    } catch (error) {
      if (tries >= 4 || !String(error).includes('to the past')) throw error;
    }
  }
  return { context, page, problems, requests };
}

// Opens the page on the real clock for `ms`, with `act` run after the load
// event, and records its first-load figures and its long tasks after the
// first second (for the report; timing is not asserted). Answers both, after
// asserting that nothing went wrong and that nothing on the page moved
// under the visitor's eyes (layout shifts below 0.1 in all).
export async function measure(browser, server, address, viewport, name, { ms = 4000, act } = {}) {
  const { context, page, problems, requests } = await openPage(browser, server, address, viewport);
  try {
    const load = await loadFigures(page, requests);
    if (act) await act(page);
    await page.waitForTimeout(ms);
    const longTasks = await longTasksAfterFirstSecond(page);
    const layoutShift = await page.evaluate(() => window.__layoutShift);
    recordFigures(`${name}-${viewport.name}`, {
      ...load,
      longTasksOver50ms: longTasks.length,
      longestTaskMs: Math.round(Math.max(0, ...longTasks.map((t) => t.duration))),
      layoutShift: Number(layoutShift.toFixed(3)),
    });
    assertClean(problems);
    assert.ok(layoutShift < 0.1, `${name} at ${viewport.name} size: layout shifts of ${layoutShift.toFixed(3)} in all`);
    return { load, longTasks };
  } finally {
    await context.close();
  }
}

// Fails with every problem seen so far, one per line.
export function assertClean(problems) {
  assert.deepEqual(problems, [], problems.join('\n'));
}

// Right-clicks at (x, y) and answers the note that the page shows for it.
export async function rightClickNote(page, x, y) {
  await page.mouse.click(x, y, { button: 'right' });
  const note = page.locator('#note.shown');
  await note.waitFor();
  return note.innerText();
}

// Waits until `text` stands, visible, in the page's rendered text.
export async function waitForText(page, text, timeout = 20000) {
  const wanted = text.replace(/\s+/g, ' ').trim();
  try {
    await page.waitForFunction(
      (t) => document.body && document.body.innerText.replace(/\s+/g, ' ').includes(t),
      wanted, { timeout, polling: 100 });
  } catch (error) {
    const shown = await page.evaluate(() => document.body?.innerText.replace(/\s+/g, ' '));
    throw new Error(`"${wanted}" did not appear; the page shows: ${shown}`, { cause: error });
  }
}

export async function screenshot(page, name) {
  const folder = process.env.HEARTPAGE_ARTEFACTS || path.join(tmpdir(), 'heartpage-artefacts');
  mkdirSync(folder, { recursive: true });
  const file = path.join(folder, `${name}.png`);
  await page.screenshot({ path: file });
  return file;
}

// Long tasks after the first second of the page's life.
export async function longTasksAfterFirstSecond(page) {
  return page.evaluate(() => window.__longTasks.filter((t) => t.start > 1000));
}

// First-load figures: bytes received from the publishing host (headers and
// bodies, all but audio and video) and the time to the load event. The page
// runs in a sandbox, so its own resource timings hide cross-origin sizes;
// the browser's side of each request tells them.
export async function loadFigures(page, requests) {
  let bytes = 0;
  for (const request of requests) {
    if (request.resourceType() === 'media' || /\.(mp3|mp4|webm|ogg|wav|m4a)(\?|$)/i.test(request.url()))
      continue;
    const sizes = await request.sizes();
    bytes += sizes.responseHeadersSize + sizes.responseBodySize;
  }
  const loadMs = await page.evaluate(() =>
    Math.round(performance.getEntriesByType('navigation')[0].loadEventStart));
  return { bytes, loadMs };
}

// Appends one line of figures for the report to <artefacts>/figures.jsonl.
export function recordFigures(name, figures) {
  const folder = process.env.HEARTPAGE_ARTEFACTS || path.join(tmpdir(), 'heartpage-artefacts');
  mkdirSync(folder, { recursive: true });
  appendFileSync(path.join(folder, 'figures.jsonl'), JSON.stringify({ name, ...figures }) + '\n');
}

// True once every audio element of the page is playing.
export async function musicPlaying(page) {
  return page.evaluate(() => {
    const all = [...document.querySelectorAll('audio')];
    return all.length > 0 && all.every((a) => !a.paused);
  });
}

// How many sounds play at this moment: audio elements, and video elements
// playing with their sound on. A page should never play two at once.
export async function soundsPlaying(page) {
  return page.evaluate(() => [...document.querySelectorAll('audio, video')].filter((m) =>
    !m.paused && !m.ended && (m.tagName === 'AUDIO' || (!m.muted && m.volume > 0))).length);
}

// Every visible fixed-position element (outside the elements matched by
// `text`) whose box overlaps one of the boxes of `text`: what stands over the
// words the visitor is meant to read. Answers short descriptions. The shared
// music button is left to music.test.js, which holds it against the words'
// own line boxes (textUnder), not the boxes of whole paragraphs.
export async function fixedCovering(page, text) {
  return page.evaluate((selector) => {
    const words = [...document.querySelectorAll(selector)].map((e) => e.getBoundingClientRect())
      .filter((r) => r.width > 0 && r.height > 0);
    const covering = [];
    for (const element of document.querySelectorAll('body *')) {
      const style = getComputedStyle(element);
      if (style.position !== 'fixed' && style.position !== 'sticky') continue;
      if (style.display === 'none' || style.visibility === 'hidden' || Number(style.opacity) === 0) continue;
      if (element.closest(selector) || element.querySelector(selector)) continue;
      if (element.classList.contains('music-button')) continue;
      // A fixed layer of no size may still carry visible children.
      const boxes = [element, ...element.querySelectorAll('*')]
        .filter((e) => e === element || Number(getComputedStyle(e).opacity) > 0)
        .map((e) => e.getBoundingClientRect()).filter((b) => b.width > 0 && b.height > 0);
      const hit = words.find((r) => boxes.some((box) =>
        box.left < r.right && r.left < box.right && box.top < r.bottom && r.top < box.bottom));
      if (hit) covering.push(`${element.tagName}#${element.id} over ${Math.round(hit.left)},${Math.round(hit.top)}`);
    }
    return covering;
  }, text);
}

// The visible words of the page that `selector`'s box stands over: every
// text outside it whose line boxes meet its box, unless hidden or wholly
// transparent. Symbols alone (falling snowflakes, hearts) are no words.
// Answers the first characters of each.
export async function textUnder(page, selector) {
  return page.evaluate((sel) => {
    const target = document.querySelector(sel);
    const box = target.getBoundingClientRect();
    const shown = (element) => {
      for (let e = element; e; e = e.parentElement) {
        const style = getComputedStyle(e);
        if (style.display === 'none' || style.visibility === 'hidden' || Number(style.opacity) === 0) return false;
      }
      return true;
    };
    const meets = (r) => r.width > 0 && r.height > 0 &&
      r.left < box.right && box.left < r.right && r.top < box.bottom && box.top < r.bottom;
    const found = [];
    const range = document.createRange();
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    while (walker.nextNode()) {
      const node = walker.currentNode;
      const parent = node.parentElement;
      if (!/[\p{L}\p{N}]/u.test(node.nodeValue) || target.contains(node) || !parent) continue;
      if (['SCRIPT', 'STYLE', 'NOSCRIPT', 'TEXTAREA'].includes(parent.tagName)) continue;
      range.selectNodeContents(node);
      if ([...range.getClientRects()].some(meets) && shown(parent)) found.push(node.nodeValue.trim().slice(0, 24));
    }
    return found;
  }, selector);
}

// Run in the page: how many lines of the page's words (a box of typed text
// counting its rows), and whether its music button and a video stand under
// what the question shows (its card, its bar or its heart). Answers
// { lines, words, music, video }, words being the first characters of each
// text met.
export function linesUnderQuestion() {
  const root = document.getElementById('hpq');
  const boxes = [...document.querySelectorAll('#hpq-card, #hpq-bar, #hpq-away')]
    .map((e) => e.getBoundingClientRect()).filter((b) => b.width > 0 && b.height > 0);
  const meets = (r) => r.width > 0 && r.height > 0 &&
    boxes.some((b) => r.left < b.right && b.left < r.right && r.top < b.bottom && b.top < r.bottom);
  const shown = (element) => {
    for (let e = element; e; e = e.parentElement) {
      const look = getComputedStyle(e);
      if (look.display === 'none' || look.visibility === 'hidden' || Number(look.opacity) < 0.05) return false;
    }
    return true;
  };
  const lines = new Set(), words = [], range = document.createRange();
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  while (walker.nextNode()) {
    const node = walker.currentNode, parent = node.parentElement;
    if (!parent || root.contains(node) || !/[\p{L}\p{N}]/u.test(node.nodeValue)) continue;
    if (['SCRIPT', 'STYLE', 'NOSCRIPT', 'TEXTAREA', 'TITLE'].includes(parent.tagName) || parent.closest('canvas')) continue;
    range.selectNodeContents(node);
    const hit = [...range.getClientRects()].filter(meets);
    if (!hit.length || !shown(parent)) continue;
    for (const r of hit) lines.add(`${Math.round(r.top / 4)}`);
    words.push(node.nodeValue.trim().slice(0, 12));
  }
  let rows = 0;
  for (const field of document.querySelectorAll('textarea')) {
    if (!field.value || !shown(field)) continue;
    const box = field.getBoundingClientRect(), look = getComputedStyle(field);
    const height = parseFloat(look.lineHeight), top = box.top + field.clientTop + parseFloat(look.paddingTop);
    const count = Math.round((field.scrollHeight - parseFloat(look.paddingTop) - parseFloat(look.paddingBottom)) / height);
    for (let i = 0; i < count; i++) {
      const row = new DOMRect(box.left, top + i * height - field.scrollTop, box.width, height);
      if (row.top >= box.top && row.bottom <= box.bottom + height / 2 && meets(row)) {
        rows++;
        words.push(field.value.split('\n')[i]?.slice(0, 12) ?? '');
      }
    }
  }
  const music = document.getElementById('musicSwitch');
  const musicUnder = !!music && shown(music) && meets(music.getBoundingClientRect());
  // Only the heart may sit on a video's corner.
  const video = !root.classList.contains('hpq-tab') &&
    [...document.querySelectorAll('video')].some((v) => shown(v) && meets(v.getBoundingClientRect()));
  return { lines: lines.size + rows, words, music: musicUnder, video };
}

// Every line of words that stands cut by a box that hides what overflows
// it, or over another line of words (the question's aside: it keeps clear
// of them by itself).
export function cutOrCrossed() {
  const found = [], range = document.createRange(), lines = [];
  const question = document.getElementById('hpq');
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  const clips = (e) => /hidden|clip/.test(getComputedStyle(e).overflowX + getComputedStyle(e).overflowY);
  const seen = (e) => {
    for (; e; e = e.parentElement) {
      const look = getComputedStyle(e);
      if (look.visibility === 'hidden' || Number(look.opacity) < 0.05) return false;
    }
    return true;
  };
  while (walker.nextNode()) {
    const node = walker.currentNode, parent = node.parentElement;
    if (!parent || question?.contains(node) || !/[\p{L}\p{N}]/u.test(node.nodeValue) ||
      ['SCRIPT', 'STYLE', 'NOSCRIPT'].includes(parent.tagName) || parent.closest('canvas') || !seen(parent))
      continue;
    range.selectNodeContents(node);
    let rects = [...range.getClientRects()].filter((r) => r.width > 0 && r.height > 0);
    const text = `"${node.nodeValue.trim().slice(0, 12)}"`;
    for (let e = parent; e && e !== document.body && rects.length; e = e.parentElement) {
      if (getComputedStyle(e).textOverflow === 'ellipsis') break;
      if (!clips(e)) continue;
      const box = e.getBoundingClientRect();
      // Partly in, partly out: a line cut. Wholly out is a page not shown.
      const partly = rects.find((r) => r.right > box.left && r.left < box.right && r.bottom > box.top &&
        r.top < box.bottom && (r.left < box.left - 1 || r.right > box.right + 1 || r.top < box.top - 1 ||
          r.bottom > box.bottom + 1));
      if (partly) { found.push(`${text} cut by ${e.tagName}.${e.className}`); rects = []; }
      rects = rects.filter((r) => r.right > box.left && r.left < box.right && r.bottom > box.top && r.top < box.bottom);
    }
    for (const r of rects) if (r.bottom > 0 && r.top < innerHeight) lines.push({ node, text, r });
  }
  // Lines of two texts crossing by more than a sliver of a letter.
  for (let i = 0; i < lines.length; i++) {
    for (let j = i + 1; j < lines.length; j++) {
      const a = lines[i], b = lines[j];
      if (a.node === b.node) continue;
      const wide = Math.min(a.r.right, b.r.right) - Math.max(a.r.left, b.r.left);
      const high = Math.min(a.r.bottom, b.r.bottom) - Math.max(a.r.top, b.r.top);
      if (wide > 4 && high > Math.min(a.r.height, b.r.height) / 4) found.push(`${a.text} over ${b.text}`);
    }
  }
  return [...new Set(found)];
}
