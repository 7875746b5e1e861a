// Style 1: effects around a picture and a video: the oval of letters round
// the pointer, the colour-cycling headlines, the neon message, the verses,
// the video (a video element or a link) and the background music.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import {
  fixedCovering, musicPlaying, rightClickNote, screenshot, sharedSetUp, soundsPlaying, viewports, waitForText,
} from './harness.js';

const texts = ['To find out the inside beauty of yourself', '我爱你，这是个不能说的秘密',
  '我顶着大太阳，只想为你撑伞。——记录着第一次遇见的你！', '思雨，我喜欢你，不长，到我老去。',
  '怎么办', '怎么办我就是爱你', '怎么办我就是想你', '无论喝茶还是刷牙', '想着你', '怎么办我的心已经容不下', '除了你没有其他'];

// Centre of the letters' oval, in window coordinates.
const ovalCentre = (page) => page.locator('#follow span').evaluateAll((spans) => {
  const boxes = spans.map((s) => s.getBoundingClientRect());
  return { x: boxes.reduce((a, b) => a + b.x + b.width / 2, 0) / boxes.length,
    y: boxes.reduce((a, b) => a + b.y + b.height / 2, 0) / boxes.length };
});

describe('style 1', () => {
  const site = sharedSetUp();

  for (const viewport of viewports) {
    test(`effects, picture, video and music at ${viewport.name} size`, async () => {
      const address = await site.publish(1);
      await site.measure(address, viewport, 'style1');
      await site.visit(address, viewport, { clock: true }, async ({ page }) => {
        assert.equal(await page.evaluate(() => document.title), '风格1');
        for (const text of texts) await waitForText(page, text, 5000);
        // Nothing fixed stands over the words before the pointer moves.
        assert.deepEqual(await fixedCovering(page, '#headline, #subline, #neon, .verse'), []);

        // The headlines' colours move along the text.
        const hue = () => page.locator('#headline span').first().evaluate((s) => s.style.color);
        const before = await hue();
        await page.clock.runFor(200);
        assert.notEqual(await hue(), before);

        // Neon: one more red character every 100 ms, all red for 1.5 s, then white.
        const lit = () => page.locator('#neon .lit').count();
        const total = await page.locator('#neon span').count();
        const start = await lit();
        await page.clock.runFor(300);
        assert.equal(await lit(), Math.min(total, start + 3));
        await page.clock.runFor(100 * (total - (await lit())));
        assert.equal(await lit(), total);
        await page.clock.runFor(1400);
        assert.equal(await lit(), total, 'the lit message is held for 1.5 s');
        await page.clock.runFor(200);
        assert.ok(await lit() < 3, 'the message went white again');

        // The picture and the verses, the video as a video element of 750 x 600.
        assert.ok(await page.locator('#picture').evaluate((img) => img.complete && img.naturalWidth > 0));
        const video = page.locator('#mv video');
        assert.ok((await video.getAttribute('src')).endsWith('/biaobai/fg1/mv.mp4'));
        await video.evaluate((v) => v.readyState >= 1 || new Promise((ok) => v.addEventListener('loadedmetadata', ok)));
        const size = await page.locator('#mv').boundingBox();
        if (viewport.width >= 780) assert.deepEqual([size.width, size.height], [750, 600]);
        else assert.ok(Math.abs(size.width / size.height - 1.25) < 0.01, 'the player keeps its shape');

        // For a mouse, the letters appear once it moves and follow it; at
        // rest they fade away. A finger gets none.
        if (viewport.name === 'desktop') {
          const letters = await page.locator('#follow span').allTextContents();
          assert.equal(letters.join(''), '我们约好 这个世界一起逛   ');
          await page.mouse.move(300, 400);
          await page.clock.runFor(1000);
          let centre = await ovalCentre(page);
          assert.ok(Math.abs(centre.x - 300) < 20 && Math.abs(centre.y - 400) < 20, JSON.stringify(centre));
          await page.mouse.move(viewport.width - 60, 150);
          await page.clock.runFor(1000);
          centre = await ovalCentre(page);
          assert.ok(Math.abs(centre.x - (viewport.width - 60)) < 20 && Math.abs(centre.y - 150) < 20);
          assert.equal(await page.locator('#follow').getAttribute('class'), 'shown');
          await page.clock.runFor(2000);
          await page.waitForFunction(() => getComputedStyle(document.getElementById('follow')).opacity === '0');
          assert.deepEqual(await fixedCovering(page, '#headline, #subline, #neon, .verse'), []);
        } else {
          assert.equal(await page.locator('#follow span').count(), 0);
        }

        // Background music, refused at first, starts with the first click.
        assert.equal(await musicPlaying(page), false);
        await page.mouse.click(viewport.width / 2, 20);
        await page.waitForFunction(() => !document.querySelector('audio').paused);
        // The video's sound holds the music until the video pauses.
        assert.equal(await soundsPlaying(page), 1);
        await video.evaluate((v) => v.play());
        await page.waitForFunction(() => document.querySelector('audio').paused);
        assert.equal(await soundsPlaying(page), 1);
        await video.evaluate((v) => v.pause());
        await page.waitForFunction(() => !document.querySelector('audio').paused);
        assert.equal(await soundsPlaying(page), 1);

        // The right-click message, and no text selection.
        assert.equal(await rightClickNote(page, viewport.width / 2, 40), '我爱你');
        assert.equal(await page.evaluate(() => getComputedStyle(document.body).userSelect), 'none');
        await page.mouse.move(viewport.width / 2 - 40, 300);
        await page.clock.runFor(500);
        await screenshot(page, `style1-${viewport.name}`);
      });
    });
  }

  test('an address that is no video file opens from a link that fills the box', async () => {
    const player = `http://${site.server.host}/biaobai/fg1/center.jpg`;
    const address = await site.publish(1, { set: { 'Text1(8)': player } });
    await site.visit(address, viewports[0], async ({ page }) => {
      const link = page.locator('#mv a');
      assert.equal(await link.getAttribute('href'), player);
      assert.equal(await link.getAttribute('target'), '_blank');
      assert.equal(await page.locator('#mv video').count(), 0);
      const size = await link.boundingBox();
      assert.deepEqual([size.width, size.height], [750, 600]);
    });
  });
});
