// Style 2: snow, the typed letter, the heart of flowers after 5 s with the
// words and the clock inside, the music, and the floating picture.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { musicPlaying, screenshot, sharedSetUp, soundsPlaying, viewports, waitForText } from './harness.js';
import { checkFloatingPicture } from './floating.js';

const texts = ['//亲爱的XXX：', '// 亲爱的，在遇见你之前', '// 所有的断点都停在你的笑容里', '// 我爱你，永远',
  'XXX我们已经（相识、相知、相爱）了', '－－爱你的XXX'];

// Pixels painted on the garden canvas.
const painted = (page) => page.locator('#garden').evaluate((canvas) => {
  const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
  let count = 0;
  for (let i = 3; i < data.length; i += 4) if (data[i] > 0) ++count;
  return count;
});

// Each line of the heart's words that stands outside the heart: at the
// height of its middle, flowers are painted both left and right of it.
const outsideHeart = (page) => page.evaluate(() => {
  const canvas = document.getElementById('garden'), box = canvas.getBoundingClientRect();
  const context = canvas.getContext('2d'), sx = canvas.width / box.width, sy = canvas.height / box.height;
  const outside = [], range = document.createRange();
  const walker = document.createTreeWalker(document.getElementById('words'), NodeFilter.SHOW_TEXT);
  while (walker.nextNode()) {
    range.selectNodeContents(walker.currentNode);
    for (const line of range.getClientRects()) {
      if (!line.width) continue;
      const y = Math.round((line.top + line.height / 2 - box.top) * sy);
      const row = y >= 0 && y < canvas.height ? context.getImageData(0, y, canvas.width, 1).data : [];
      let first = -1, last = -1;
      for (let x = 0; x < row.length / 4; ++x) if (row[x * 4 + 3] > 0) { if (first < 0) first = x; last = x; }
      if (first < 0 || (line.left - box.left) * sx < first || (line.right - box.left) * sx > last)
        outside.push(`"${walker.currentNode.nodeValue.trim().slice(0, 12)}" at ${Math.round(line.top)}`);
    }
  }
  return outside;
});
const longMessage = '和你在一起的每一天都是我最珍惜的日子，'.repeat(4);

describe('style 2', () => {
  const site = sharedSetUp();

  for (const viewport of viewports) {
    test(`letter, heart and clock at ${viewport.name} size`, async () => {
      const address = await site.publish(2);
      await site.measure(address, viewport, 'style2', { ms: 9000 });

      await site.visit(address, viewport, { clock: true }, async ({ page }) => {
        assert.equal(await page.evaluate(() => document.title), '风格2');
        assert.equal(await page.locator('#words').isVisible(), false, 'the words wait for the heart');
        await page.clock.runFor(4000);
        assert.equal(await painted(page), 0, 'the heart started before 5 s');
        assert.ok(await page.locator('.snowflake').count() > 10, 'no snow');

        await page.clock.runFor(60000);
        for (const text of texts) await waitForText(page, text, 5000);
        assert.ok(await painted(page) > 1000, 'no heart on the canvas');
        // However long the letter, the heart stays on the screen and the
        // letter shows its last typed line.
        const heart = await page.locator('#loveHeart').boundingBox();
        assert.ok(heart.y >= 0 && heart.y + heart.height <= viewport.height + 1, `heart at ${heart.y}..${heart.y + heart.height}`);
        const end = await page.locator('#code').evaluate((c) => c.scrollHeight - c.scrollTop - c.clientHeight);
        assert.ok(end < 2, `the letter's end is ${end} px out of sight`);

        // The clock counts from 2013, month 5 counted from 0 (June), day 20.
        const clock = page.locator('#elapseClock');
        const days = await page.evaluate(() =>
          String(Math.floor((Date.now() - new Date(2013, 5, 20).getTime()) / 86400000)));
        const shown = await clock.innerText();
        assert.ok(shown.startsWith(`${days} 天`), shown);
        await page.clock.runFor(1000);
        assert.notEqual(await clock.innerText(), shown, 'the clock stood still');

        // Music refused at first starts on the first tap.
        assert.equal(await musicPlaying(page), false);
        await page.mouse.click(5, 5);
        await page.waitForFunction(() => !document.querySelector('audio').paused);
        assert.equal(await soundsPlaying(page), 1);
        await screenshot(page, `style2-${viewport.name}`);
      });
    });

    test(`floating picture in front at ${viewport.name} size; a long message stays inside the heart`, async () => {
      const address = await site.publish(2, { check: true, set: { 'Text1(3)': longMessage } });
      await site.measure(address, viewport, 'style2-check', { ms: 3000 });
      await site.visit(address, viewport, { clock: true }, async ({ page }) => {
        await checkFloatingPicture(page, viewport);
        await page.clock.runFor(70000);
        for (const text of [...texts.filter((t) => !t.startsWith('XXX')), longMessage]) await waitForText(page, text, 5000);
        assert.deepEqual(await outsideHeart(page), [], 'words outside the heart');
      });
    });
  }

  test('a canvas-less browser gets the message and no animation', async () => {
    const address = await site.publish(2);
    await site.visit(address, viewports[0], { withoutCanvas: true }, async ({ page }) => {
      await waitForText(page, 'Please use a current browser');
      assert.equal(await page.locator('#garden').count(), 0);
    });
  });
});
