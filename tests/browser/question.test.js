// The question a page asks its reader: on every style it comes up once the
// story has been told, its answers are real buttons a finger or the keyboard
// can press, the answer reaches the site (the last one counting), and only a
// visit that runs the page for three seconds counts as an opening.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { linesUnderQuestion, receiptsOf, recordFigures, sharedSetUp, screenshot } from './harness.js';

const question = '做我女朋友好吗？';
const answers = ['我愿意', '让我想想'];
const phone = { name: 'phone', width: 390, height: 844, isMobile: true, hasTouch: true };
const phoneOnSide = { name: 'phone on its side', width: 844, height: 390, isMobile: true, hasTouch: true };
const desktop = { name: 'desktop', width: 1280, height: 800, isMobile: false, hasTouch: false };

// What tells each story to its end, beyond time passing: style 1's lines
// wait to be scrolled to, the seed of style 3 for a tap, the 55 pages of
// style 7 for the visitor to turn them.
const storyActions = {
  // The seven lines of style 1 stand under the picture, their foot (or the
  // top of the video) peeping in on a tall phone: the question waits while
  // the visitor has not scrolled to them, however long she looks.
  1: async (page, viewport) => {
    await page.clock.runFor(70000);
    assert.equal(await page.locator('#hpq').isVisible(), false, `style 1 at ${viewport.name}: asked before the lines`);
    await page.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
  },
  3: (page, viewport) => (viewport.hasTouch ? page.locator('#canvas').tap() : page.locator('#canvas').click()),
  // However long the visitor dwells, the question waits for the last page.
  7: async (page, viewport) => {
    await page.clock.runFor(70000);
    assert.equal(await page.locator('#hpq').isVisible(), false, `style 7 at ${viewport.name}: asked mid-story`);
    await page.keyboard.press('End');
  },
};

// Runs the page's clock until the question comes up, in steps, so that each
// style's own moment is what brings it; fails after ten minutes of its time.
// Then fails if, as it comes up, it stands over any line of the page's words,
// its music button or its video (the lines are kept in figures.jsonl), and
// opens it from its bar if it came up folded, clear of the music button.
async function waitForQuestion(page, style, viewport) {
  const at = `style ${style} at ${viewport.name}`;
  for (let waited = 0; ; waited += 1000) {
    if (await page.locator('#hpq.hpq-open, #hpq.hpq-folded').count()) break;
    if (waited >= 600000) assert.fail(`${at}: the question never came up`);
    await page.clock.runFor(1000);
  }
  const under = await page.evaluate(linesUnderQuestion);
  const shape = await page.locator('#hpq').getAttribute('class');
  recordFigures(`question-style${style}-${viewport.name}`, { engine: 'chromium', shape, ...under });
  await screenshot(page, `question-style${style}-${viewport.name.replaceAll(' ', '-')}`);
  assert.deepEqual(under, { lines: 0, words: [], music: false, video: false }, `${at}: the question came up (${shape}) over them`);
  if (await page.locator('#hpq.hpq-folded').count()) {
    if (viewport.hasTouch) await page.locator('#hpq-bar').tap();
    else await page.locator('#hpq-bar').click();
  }
  assert.equal(await page.locator('#hpq.hpq-open').count(), 1, `${at}: the bar did not open the question`);
  // Opened by her where no room is free, it may cover words, never the music button.
  assert.equal((await page.evaluate(linesUnderQuestion)).music, false, `${at}: the card opened over the music button`);
}

// Each answer button: big enough for a finger, inside the window, readable
// and the topmost thing where it stands.
async function assertButtonsReachable(page, at) {
  const found = await page.evaluate(() => [...document.querySelectorAll('#hpq .hpq-answer')].map((b) => {
    const r = b.getBoundingClientRect();
    const look = getComputedStyle(b);
    return {
      text: b.textContent, tag: b.tagName, width: r.width, height: r.height,
      inside: r.left >= 0 && r.top >= 0 && r.right <= innerWidth && r.bottom <= innerHeight,
      topmost: document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2) === b,
      fontSize: parseFloat(look.fontSize),
    };
  }));
  assert.equal(found.length, 2, at);
  for (const b of found) {
    assert.equal(b.tag, 'BUTTON', at);
    assert.ok(b.width >= 44 && b.height >= 44, `${at}: "${b.text}" is ${b.width} × ${b.height}`);
    assert.ok(b.inside && b.topmost, `${at}: "${b.text}" is hidden or outside the window`);
    assert.ok(b.fontSize >= 16, `${at}: "${b.text}" in ${b.fontSize} px`);
  }
}

// Waits until the question says `text`, failing with what it says instead.
async function waitForSaid(page, text, at) {
  try {
    await page.locator('#hpq-said', { hasText: text }).waitFor({ timeout: 5000 });
  } catch (error) {
    throw new Error(`${at}: the question says "${await page.locator('#hpq-said').innerText()}"`, { cause: error });
  }
}

describe('the question', () => {
  // One loopback address plays every visitor here: the site's limit of
  // visits by address would soon refuse them.
  const site = sharedSetUp({ serverArgs: ['--visits-per-minute', '0'] });

  test('on every style on a phone, upright and on its side, it comes up when the story is told, clear of every ' +
    'word; a tap answers, and a second tap changes the answer', async () => {
    for (let style = 1; style <= 8; ++style) {
      for (const viewport of [phone, phoneOnSide]) {
        // A page of its own each time, so that each visit is its one opening.
        const address = await site.publish(style, { question });
        const name = address.split('/').pop();
        await site.visit(address, viewport, { clock: true }, async ({ page }) => {
          const at = `style ${style} at ${viewport.name}`;
          const opened = page.waitForResponse((r) => r.url().endsWith(`/api/opened/${name}`));
          assert.equal(await page.locator('#hpq').isVisible(), false, `${at}: asked before the story`);
          await storyActions[style]?.(page, viewport);
          await waitForQuestion(page, style, viewport);
          await assertButtonsReachable(page, at);
          if (viewport !== phone) {
            await page.clock.runFor(3000);
            await opened;
            return;
          }
          for (const [index, text] of answers.entries()) {
            const sent = page.waitForResponse((r) => r.url().endsWith(`/api/answer/${name}`));
            await page.getByRole('button', { name: text }).tap();
            assert.ok((await sent).ok(), `${at}: answer ${index + 1} refused`);
            await waitForSaid(page, '已经告诉TA啦 ❤', at);
            assert.equal(await page.getByRole('button', { name: text }).getAttribute('aria-pressed'), 'true');
          }
          // Three seconds in view make the one opening of the visit.
          await page.clock.runFor(3000);
          assert.equal((await opened).status(), 204, `${at}: opening refused`);
          await page.clock.runFor(10000);
          const receipts = await receiptsOf(site.server.host, name);
          assert.equal(receipts.question, question, at);
          assert.deepEqual(receipts.answers, answers, at);
          assert.equal(receipts.opened, 1, `${at}: opened ${receipts.opened} times`);
        });
      }
    }
  });

  test('at desktop size the keyboard answers without turning the story, and the question folds into a bar', async () => {
    for (let style = 1; style <= 8; ++style) {
      const address = await site.publish(style, { question, answers: '好呀,不要' });
      await site.visit(address, desktop, { clock: true }, async ({ page }) => {
        const at = `style ${style} at desktop size`;
        await storyActions[style]?.(page, desktop);
        await waitForQuestion(page, style, desktop);
        await assertButtonsReachable(page, at);
        // Where styles 4 and 7 stand in their stories, which Enter and Space turn.
        const story = () => page.evaluate(() =>
          [document.body.getAttribute('data-page'), document.getElementById('prompt')?.className].join());
        const before = await story();
        await page.locator('.hpq-answer[data-answer="2"]').focus();
        await page.keyboard.press('Enter');
        await waitForSaid(page, '已经告诉TA啦 ❤', at);
        await page.keyboard.press('Space');
        await page.clock.runFor(2000);
        assert.equal(await page.locator('#hpq.hpq-open').count(), 1, `${at}: the keys left the question`);
        assert.equal(await story(), before, `${at}: the keys turned the story`);
        await page.getByRole('button', { name: '收起问题' }).click();
        const bar = page.locator('#hpq-bar');
        assert.ok(await bar.isVisible(), at);
        assert.equal(await bar.evaluate((b) => b === document.activeElement), true, `${at}: focus left the bar`);
        assert.match(await bar.innerText(), /做我女朋友好吗/);
        await page.keyboard.press('Enter');
        assert.equal(await page.locator('.hpq-answer[data-answer="2"]').evaluate((b) => b === document.activeElement),
          true, `${at}: focus is not on the answer given`);
      });
    }
  });

  test('a fetch of the page that runs no script is no opening; a page asking nothing has no question', async () => {
    const address = await site.publish(5, { question });
    const name = address.split('/').pop();
    const fetched = await fetch(address);
    assert.equal(fetched.status, 200);
    assert.ok(new TextDecoder('gbk').decode(await fetched.arrayBuffer()).includes(question));
    assert.equal((await receiptsOf(site.server.host, name)).opened, 0);

    const plain = await site.publish(5, {});
    await site.visit(plain, phone, { clock: true }, async ({ page }) => {
      await page.clock.runFor(120000);
      assert.equal(await page.locator('#hpq').count(), 0);
    });
  });
});
