#!/usr/bin/env node
// By hand, on the real clock (WebKit and Firefox have no clock to run ahead):
// on every style, in WebKit or Firefox as the browser suites drive them,
// the question as it comes up (the lines of words and the music button
// under it), and a page with a long line in every field, the question and
// its answers at their longest, after half a minute and at the story's end
// (words cut by their box or run into other words, the question over them).
// Figures go to the artefacts' figures.jsonl, screenshots beside them.
// Usage: node tools/check-words-on-engines.mjs webkit|firefox [WIDTHxHEIGHT] [BUILD_DIR]
// (default 390x844 and build; it takes some twenty minutes a run).
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const [engine = 'webkit', size = '390x844', buildDir] = process.argv.slice(2);
const build = path.resolve(buildDir || path.join(root, 'build'));
process.env.HEARTPAGE_SERVER ??= path.join(build, 'server/heartpage-server');
process.env.HEARTPAGE_CLI ??= path.join(build, 'app/heartpage-cli');
process.env.HEARTPAGE_ASSETS ??= path.join(root, 'pages/assets');
process.env.HEARTPAGE_VENDOR ??= path.join(build, 'pages/assets-vendor');
process.env.HEARTPAGE_ARTEFACTS ??= path.join(build, 'tests/browser/artefacts');
const { test } = await import('node:test');
const { engineSetUp } = await import('../tests/browser/engines.js');
const { cutOrCrossed, linesUnderQuestion, recordFigures } = await import('../tests/browser/harness.js');

const [width, height] = size.split('x').map(Number);
const site = engineSetUp(engine, { size: { width, height }, serverArgs: ['--visits-per-minute', '0'] });
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const up = () => !!document.querySelector('#hpq.hpq-open, #hpq.hpq-folded');
const typed = (selector) => async (page) => {
  const done = new Function(`return !!document.querySelector('${selector}[data-typed=done]')`);
  for (let waited = 0; waited < 240 && !(await page.evaluate(done)); waited++) await sleep(1000);
};
// What tells each story to its end, as in the Chromium suites.
const toTheEnd = {
  1: (page) => page.evaluate(() => window.scrollTo(0, document.body.scrollHeight)),
  2: typed('#code'),
  3: (page) => page.tap(width / 2, height / 2),
  4: async (page) => {
    for (let turned = 0; turned < 25 && !(await page.evaluate(() => !!document.querySelector('#prompt.last'))); turned++) {
      await page.tap(10, 10);
      await sleep(1700);
    }
  },
  5: typed('#message'),
  7: (page) => page.press('End'),
};
const line = '我想和你一起走过春夏秋冬，看遍山川湖海，在每一个下雨的傍晚为你撑起一把伞，在每一个寒冷的冬夜为你留一盏灯，从此以后的每一天都有你。';
const at = (style, when = '') => `${engine} style ${style} at ${width} × ${height}${when && ` ${when}`}`;
const name = (style, when = '') => `${engine}-style${style}-${width}x${height}${when && `-${when.replaceAll(' ', '-')}`}`;

test(`${engine} at ${size}: the question over no words, long words whole`, async () => {
  const faults = [];
  for (let style = 1; style <= 8; ++style) {
    // Style 1 waits for the visitor to scroll, however long she stays.
    await site.visit(await site.publish(style, { question: '做我女朋友好吗？' }), async (page) => {
      const start = Date.now();
      if (style === 1) {
        await sleep(20000);
        if (await page.evaluate(up)) faults.push(`${at(1)}: asked before the lines were scrolled to`);
      }
      if (style === 1 || style === 3 || style === 7) await toTheEnd[style](page);
      while (!(await page.evaluate(up))) {
        if (Date.now() - start > 240000) { faults.push(`${at(style)}: the question never came up`); return; }
        await sleep(250);
      }
      const under = await page.evaluate(linesUnderQuestion);
      const shape = await page.evaluate(() => document.getElementById('hpq').className);
      recordFigures(`question-${name(style)}`, { engine, shape, ...under });
      await page.screenshot(`question-${name(style)}`);
      if (under.lines || under.music || under.video) faults.push(`${at(style)}: the question (${shape}) over ${JSON.stringify(under)}`);
    });

    const fields = execFileSync(process.env.HEARTPAGE_CLI, ['fields', '--style', String(style)]).toString();
    const set = Object.fromEntries(fields.trim().split('\n').map((row) => row.split('\t'))
      .filter(([, kind]) => kind === 'text').map(([field]) => [field, line]));
    const address = await site.publish(style, {
      set, question: '做我女朋友好吗？'.repeat(7).slice(0, 50), answers: '我愿意我愿意我愿意我,让我想想让我想想让我',
    });
    await site.visit(address, async (page) => {
      for (const when of ['after half a minute', 'at the end']) {
        if (when === 'after half a minute') await sleep(30000);
        else if (toTheEnd[style]) await toTheEnd[style](page);
        else continue;
        await sleep(4000);
        // Style 4's cards roll over each other for a moment every few seconds.
        for (let waited = 0; waited < 3000 && await page.evaluate(() => !!document.querySelector('[style*="clip-path: inset"]'));
          waited += 100) await sleep(100);
        const found = await page.evaluate(cutOrCrossed);
        const under = await page.evaluate(linesUnderQuestion);
        if (under.lines || under.music || under.video) found.push(`the question over ${JSON.stringify(under)}`);
        recordFigures(`long-words-${name(style, when)}`, { engine, faults: found });
        await page.screenshot(`long-words-${name(style, when)}`);
        for (const fault of found) faults.push(`${at(style, when)}: ${fault}`);
      }
    });
  }
  console.log(faults.join('\n') || 'no faults');
});
