// Style 3: the seed waits for a click, the tree grows and blooms, slides,
// and the text column and the clock line appear; blossoms keep falling.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { musicPlaying, screenshot, sharedSetUp, soundsPlaying, viewports, waitForText } from './harness.js';
import { checkFloatingPicture } from './floating.js';

const lines = ['* Our Story', 'Our Story 我们的故事', '// 不经意相识, 或许是缘分，或许是注定的。',
  '// 以后不管有怎么样，我都会在。', '// 就算全世界都都抛弃你，记得还有我。', '// 再累都不用害怕，因为你有我。',
  '// 记得在你最需要的时候想起我', '// 我会一直陪着你。', '// You are my only girl..永远..',
  '// 所以我继续等待，我有信心，你会。', '子墨'];
const clockLine = '子墨与思雨已经相识了';

// The seed is in the middle of the canvas, large enough on a phone to be hit
// by a finger a little beside its centre.
async function clickSeed(page, beside = 0) {
  const box = await page.locator('#canvas').boundingBox();
  await page.mouse.move(box.x + box.width / 2 + beside, box.y + box.height / 2);
  assert.equal(await page.locator('#canvas').evaluate((c) => c.style.cursor), 'pointer');
  await page.mouse.click(box.x + box.width / 2 + beside, box.y + box.height / 2);
}

async function growAndShowText(page) {
  await page.clock.runFor(60000);
  for (const line of lines) await waitForText(page, line, 5000);
  await waitForText(page, clockLine, 5000);
}

describe('style 3', () => {
  const site = sharedSetUp();

  for (const viewport of viewports) {
    test(`seed, tree, text and clock at ${viewport.name} size`, async () => {
      const address = await site.publish(3);
      await site.measure(address, viewport, 'style3', { ms: 12000, act: clickSeed });

      await site.visit(address, viewport, { clock: true }, async ({ page }) => {
        assert.equal(await page.evaluate(() => document.title), '风格3');
        await waitForText(page, 'Varnel软件');
        assert.equal(await page.locator('#error').isVisible(), false);

        // Nothing grows before the seed is clicked; a click beside it does nothing.
        await page.clock.runFor(20000);
        assert.equal(await page.locator('#code').isVisible(), false);
        const box = await page.locator('#canvas').boundingBox();
        await page.mouse.click(box.x + 5, box.y + 5);
        await page.clock.runFor(20000);
        assert.equal(await page.locator('#code').isVisible(), false);
        assert.equal(await musicPlaying(page), true, 'the first click starts the music');
        assert.equal(await soundsPlaying(page), 1);
        // The footer stands at the foot of the window, not in the middle.
        const footer = await page.locator('#footer').boundingBox();
        assert.ok(Math.abs(footer.y + footer.height - viewport.height) < 2, `footer ends at ${footer.y + footer.height}`);

        await clickSeed(page, viewport.name === 'phone' ? 35 : 0);
        await growAndShowText(page);
        // 2013, month 10 counted from 0 (November), day 1.
        const days = await page.evaluate(() =>
          String(Math.floor((Date.now() - new Date(2013, 10, 1).getTime()) / 86400000)));
        const clock = page.locator('#clock');
        const shown = await clock.innerText();
        assert.ok(shown.includes(` ${days} 天`), shown);
        await page.clock.runFor(1000);
        assert.notEqual(await clock.innerText(), shown, 'the clock stood still');
        // No number is parted from its unit by a line break.
        const broken = await clock.locator('.unit').evaluateAll((units) =>
          units.filter((u) => u.getClientRects().length > 1).map((u) => u.textContent));
        assert.deepEqual(broken, []);
        assert.ok(await page.locator('canvas.falling').isVisible(), 'no falling blossoms');
        await screenshot(page, `style3-${viewport.name}`);
      });
    });

    test(`floating picture in front at ${viewport.name} size`, async () => {
      const address = await site.publish(3, { check: true });
      await site.visit(address, viewport, { clock: true }, async ({ page }) => {
        await checkFloatingPicture(page, viewport);
        await clickSeed(page);
        await growAndShowText(page);
        await screenshot(page, `style3-${viewport.name}-check`);
      });
    });
  }

  // The date boxes' numbers go where the template counts the days, never
  // into her words.
  test('年, 月 and 日 in her words reach her as typed', async () => {
    const address = await site.publish(3, { set: { 'Text1(2)': '那年夏天，生日快乐' } });
    await site.visit(address, viewports[0], { clock: true }, async ({ page }) => {
      await clickSeed(page);
      await growAndShowText(page).catch(() => {});
      await waitForText(page, '那年夏天，生日快乐', 5000);
    });
  });

  test('the seed is a button for the keyboard and screen readers; a phone shows a large tree, on its side the words beside it',
    async () => {
      const address = await site.publish(3);
      const phone = viewports[1];
      const side = { ...phone, name: 'phone on its side', width: 844, height: 390 };
      for (const viewport of [phone, side]) {
        await site.visit(address, viewport, { clock: true }, async ({ page }) => {
          const seed = page.getByRole('button', { name: '点我' });
          await page.keyboard.press('Tab');
          assert.equal(await seed.evaluate((b) => b === document.activeElement), true, 'Tab reaches the seed');
          const canvas = await page.locator('#canvas').boundingBox();
          if (viewport === phone) assert.ok(canvas.height >= 0.5 * viewport.height, `a tree ${canvas.height} px tall`);
          await page.keyboard.press('Enter');
          await growAndShowText(page);
          assert.equal(await seed.count(), 0, 'the seed stays a button after it was pressed');
          if (viewport === side) {
            // The words begin on the screen beside the tree.
            const words = await page.locator('#code').boundingBox();
            assert.ok(words.x >= canvas.x + canvas.width && words.y < viewport.height / 2, JSON.stringify(words));
          }
          await screenshot(page, `style3-${viewport.name}-keyboard`);
        });
      }
    });

  test('a canvas-less browser gets the message and no tree', async () => {
    const address = await site.publish(3);
    await site.visit(address, viewports[0], { withoutCanvas: true }, async ({ page }) => {
      assert.ok(await page.locator('#error').isVisible());
      assert.equal(await page.locator('#canvas').isVisible(), false);
    });
  });
});
