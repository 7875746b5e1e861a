// What every style owes a visitor on any screen: a page in standards mode,
// marked Chinese, that the visitor may zoom, whose text a phone leaves at its
// size, whose videos play in the page, and that a long unbroken word never
// pushes sideways out of the screen.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { promisify } from 'node:util';
import { cutOrCrossed, linesUnderQuestion, sharedSetUp } from './harness.js';

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

// What each story shows last: style 1's lines under the picture, the whole
// letter of styles 2 and 5 (long words type for minutes), style 3's clock
// once its seed is tapped, style 4's last card (her picture over her last
// line), style 7's last page.
const typed = (selector) => async (page) => {
  for (let waited = 0; waited < 300000 && !(await page.locator(`${selector}[data-typed=done]`).count()); waited += 5000)
    await page.clock.runFor(5000);
};
const toTheEnd = {
  1: (page) => page.evaluate(() => window.scrollTo(0, document.body.scrollHeight)),
  2: typed('#code'),
  3: (page) => page.locator('#canvas').tap(),
  4: async (page) => {
    while (!(await page.locator('#prompt.last').count())) {
      await page.mouse.click(10, 10);
      await page.clock.runFor(1600);
    }
  },
  5: typed('#message'),
  7: (page) => page.keyboard.press('End'),
};

// Every text field of a style filled at once with a long line of words, and
// the question and its answers as long as they may be: on a phone upright
// and on its side, after the story's first half minute and at its end, no
// line of words stands cut, over another, under the question, nor outside
// the window's width.
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
          const under = await page.evaluate(linesUnderQuestion);
          if (under.lines || under.music || under.video)
            faults.push(`${at}: the question over ${under.words.join(', ') || 'the music button or the video'}`);
        }
      });
    }
  }
  assert.deepEqual(faults, []);
});
