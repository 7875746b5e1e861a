// What every style owes a visitor on any screen: a page in standards mode,
// marked Chinese, that the visitor may zoom, whose text a phone leaves at its
// size, whose videos play in the page, and that a long unbroken word never
// pushes sideways out of the screen.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { promisify } from 'node:util';
import { sharedSetUp } from './harness.js';

const site = sharedSetUp();
const run = promisify(execFile);

// Fields that each style shows as words: names first, then a line or two.
const wordFields = {
  1: ['Text1(1)', 'Text1(3)', 'Text1(9)'],
  2: ['Text1(1)', 'Text1(3)', 'Text1(5)'],
  3: ['Text1(14)', 'Text1(15)', 'Text1(0)'],
  4: ['Text8(0)', 'Text8(10)'],
  5: ['Text11(7)', 'Text11(16)', 'Text11(0)'],
  6: ['Text7(14)', 'Text7(15)'],
  7: ['Text1(0)', 'Text1(1)', 'Text1(2)'],
  8: ['Text1(2)', 'Text1(3)', 'Text1(4)'],
};
const longWord = 'Huang'.repeat(15);

const screens = [
  { name: 'small phone', width: 360, height: 640, isMobile: true, hasTouch: true },
  { name: 'phone on its side', width: 844, height: 390, isMobile: true, hasTouch: true },
];

// Every word that stands, wholly or in part, outside the window's width,
// and how far the page scrolls sideways.
function sideways() {
  const outside = [];
  const range = document.createRange();
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  while (walker.nextNode()) {
    const node = walker.currentNode;
    // Symbols alone (falling snowflakes) are no words.
    if (!/[\p{L}\p{N}]/u.test(node.nodeValue) || ['SCRIPT', 'STYLE', 'NOSCRIPT'].includes(node.parentElement?.tagName))
      continue;
    // A line that ends in an ellipsis says itself that it goes on (the
    // question's folded bar opens it whole).
    let shortened = false;
    for (let e = node.parentElement; e && !shortened; e = e.parentElement)
      shortened = getComputedStyle(e).textOverflow === 'ellipsis';
    if (shortened) continue;
    range.selectNodeContents(node);
    for (const r of range.getClientRects()) {
      if (r.width > 0 && (r.left < -1 || r.right > innerWidth + 1)) {
        outside.push(`"${node.nodeValue.trim().slice(0, 16)}" from ${Math.round(r.left)} to ${Math.round(r.right)}`);
        break;
      }
    }
  }
  return { scroll: document.documentElement.scrollWidth - document.documentElement.clientWidth, outside };
}

test('every style, also with the floating picture: standards mode, lang zh-CN, zoomable, long words wrap', async () => {
  const pages = [];
  for (let style = 1; style <= 8; ++style) {
    const set = Object.fromEntries(wordFields[style].map((field) => [field, longWord]));
    pages.push({ style, address: await site.publish(style, { set }) });
    if (style === 2 || style === 3)
      pages.push({ style: `${style} with the picture`, address: await site.publish(style, { set, check: true }) });
  }
  const faults = [];
  for (const { style, address } of pages) {
    for (const screen of screens) {
      await site.visit(address, screen, { clock: true }, async ({ page }) => {
        // Long enough for every style's typing and first turns.
        await page.clock.runFor(30000);
        const found = await page.evaluate(() => ({
          mode: document.compatMode,
          lang: document.documentElement.lang,
          viewport: document.querySelector('meta[name=viewport]')?.content,
          textSize: getComputedStyle(document.body).textSizeAdjust,
          videos: [...document.querySelectorAll('video')].map((v) =>
            ['playsinline', 'webkit-playsinline', 'x5-video-player-type'].map((a) => v.getAttribute(a)).join()),
        }));
        const at = `style ${style} at ${screen.width} × ${screen.height}`;
        if (found.mode !== 'CSS1Compat') faults.push(`${at}: quirks mode`);
        if (found.lang !== 'zh-CN') faults.push(`${at}: lang "${found.lang}"`);
        // Phones on their side keep the page's text sizes (iOS would grow them).
        if (found.textSize !== '100%') faults.push(`${at}: text size adjusted (${found.textSize})`);
        // Videos play in the page on iPhones and in WeChat, never full screen.
        for (const video of found.videos) if (video !== ',,h5-page') faults.push(`${at}: a video with ${video}`);
        if (/user-scalable\s*=\s*(no|0)|maximum-scale\s*=\s*1(\.0*)?\b/.test(found.viewport))
          faults.push(`${at}: no zooming (${found.viewport})`);
        const { scroll, outside } = await page.evaluate(sideways);
        if (scroll > 0) faults.push(`${at}: scrolls ${scroll} px sideways`);
        for (const word of outside) faults.push(`${at}: ${word}`);
      });
    }
  }
  assert.deepEqual(faults, []);
});

// What moves by itself on each page, as a value that stays the same while
// nothing moves: the rainbows' colours, the snow, the cards and slides that
// turn by themselves, the spinning music switch.
const motion = {
  1: () => [...document.querySelectorAll('.rainbow span')].map((s) => s.style.color).join(),
  2: () => document.querySelectorAll('.snowflake').length,
  4: () => [...document.querySelectorAll('.card')].findIndex((c) => getComputedStyle(c).display !== 'none'),
  6: () => [...document.querySelectorAll('.rainbow span')].map((s) => s.style.color).join() +
    document.getElementById('screen').dataset.yaw,
  7: () => getComputedStyle(document.getElementById('musicSwitch')).animationName,
  8: () => document.body.dataset.slide,
};

test('a visitor who asked for less motion sees no rainbow flow, no snow, no spinning and no turning by itself',
  async () => {
    const faults = [];
    const still = { ...screens[0], reducedMotion: 'reduce' };
    for (const [style, now] of Object.entries(motion)) {
      await site.visit(await site.publish(Number(style)), still, { clock: true }, async ({ page }) => {
        // Style 7's switch spins only while the music plays.
        if (style === '7') await page.keyboard.press('x');
        await page.clock.runFor(1000);
        const before = await page.evaluate(now);
        await page.clock.runFor(12000);
        const after = await page.evaluate(now);
        if (after !== before) faults.push(`style ${style}: ${String(before).slice(0, 40)} became ${String(after).slice(0, 40)}`);
        if ((style === '2' && after !== 0) || (style === '7' && after !== 'none')) faults.push(`style ${style}: ${after}`);
      });
    }
    assert.deepEqual(faults, []);
  });

// What each story shows last, where it takes more than half a minute to get
// there: style 4's last card (her picture over her last line), style 7's
// last page.
const toTheEnd = {
  4: async (page) => {
    while (!(await page.locator('#prompt.last').count())) {
      await page.mouse.click(10, 10);
      await page.clock.runFor(1600);
    }
  },
  7: (page) => page.keyboard.press('End'),
};

// Every line of words that stands cut by a box that hides what overflows
// it, or over another line of words (the question's aside: it keeps clear
// of them by itself).
function cutOrCrossed() {
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
      ['SCRIPT', 'STYLE', 'NOSCRIPT'].includes(parent.tagName) || !seen(parent))
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

// Every text field of a style filled at once with a long line of words, and
// the question and its answers as long as they may be: on a phone upright
// and on its side, after the story's first half minute and at its end, no
// line of words stands cut, over another, nor outside the window's width.
test('every style with a long line in every field keeps each line whole, upright and on its side', async () => {
  const line = '我想和你一起走过春夏秋冬，看遍山川湖海，在每一个下雨的傍晚为你撑起一把伞，在每一个寒冷的冬夜为你留一盏灯，从此以后的每一天都有你。';
  const phones = [{ name: 'phone', width: 390, height: 844, isMobile: true, hasTouch: true }, screens[1]];
  const faults = [];
  for (let style = 1; style <= 8; ++style) {
    const { stdout } = await run(process.env.HEARTPAGE_CLI, ['fields', '--style', String(style)]);
    const set = Object.fromEntries(stdout.trim().split('\n').map((row) => row.split('\t'))
      .filter(([, kind]) => kind === 'text').map(([field]) => [field, line]));
    const address = await site.publish(style, {
      set, question: '做我女朋友好吗？'.repeat(7).slice(0, 50), answers: '我愿意我愿意我愿意我,让我想想让我想想让我',
    });
    for (const screen of phones) {
      await site.visit(address, screen, { clock: true }, async ({ page }) => {
        for (const when of ['after half a minute', 'at the end']) {
          if (when === 'after half a minute') await page.clock.runFor(30000);
          else if (toTheEnd[style]) await toTheEnd[style](page);
          else continue;
          await page.clock.runFor(3000);
          // Pages that slide by (style 7's) overlap only while they move,
          // and transitions keep the browser's time, not the page's clock.
          for (let waited = 0; waited < 5000 && await page.evaluate(() => document.getAnimations().some((a) =>
            a.playState === 'running' && Number.isFinite(a.effect?.getComputedTiming().endTime))); waited += 100)
            await new Promise((resolve) => setTimeout(resolve, 100));
          const at = `style ${style} at ${screen.width} × ${screen.height} ${when}`;
          for (const fault of await page.evaluate(cutOrCrossed)) faults.push(`${at}: ${fault}`);
          const { outside } = await page.evaluate(sideways);
          for (const word of outside) faults.push(`${at}: ${word}`);
        }
      });
    }
  }
  assert.deepEqual(faults, []);
});
