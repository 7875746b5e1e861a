// Style 6: the walk-through room of twelve pictures on a canvas.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';
import { musicPlaying, rightClickNote, screenshot, sharedSetUp, viewports, waitForText } from './harness.js';

const yaw = (page) => page.locator('#screen').evaluate((c) => Number(c.dataset.yaw));
const focus = (page) => page.locator('#screen').evaluate((c) => c.dataset.focus);

async function drag(page, viewport, dx, steps = 12) {
  const x = viewport.width / 2, y = viewport.height * 0.75;
  await page.mouse.move(x, y);
  await page.mouse.down();
  for (let i = 1; i <= steps; ++i) await page.mouse.move(x + (dx * i) / steps, y);
  await page.mouse.up();
}

// Pictures load asynchronously; wait until all twelve are on the walls.
async function picturesLoaded(page, requests) {
  await page.waitForFunction(() => window.photoRoom !== undefined);
  const wanted = Array.from({ length: 12 }, (_, i) => `/biaobai/fg6/${i + 1}.jpg`);
  for (let tries = 0; tries < 100; ++tries) {
    const seen = new Set(requests.map((r) => new URL(r.url()).pathname));
    if (wanted.every((p) => seen.has(p))) return;
    await page.waitForTimeout(100);
  }
  assert.fail('not every picture was requested');
}

describe('style 6', () => {
  const site = sharedSetUp();

  for (const viewport of viewports) {
    test(`room at ${viewport.name} size: texts, drag turns, a click walks up to a picture, music`, async () => {
      const address = await site.publish(6);
      // Dragging for three seconds while the figures are taken.
      await site.measure(address, viewport, 'style6', {
        ms: 500,
        act: async (page) => {
          for (let i = 0; i < 6; ++i) await drag(page, viewport, i % 2 ? 240 : -240, 25);
        },
      });

      await site.visit(address, viewport, async ({ page, requests }) => {
        assert.equal(await page.evaluate(() => document.title), '风格6--3D相册');
        await waitForText(page, '谨以此页来纪念我们之间的爱');
        await waitForText(page, '思雨，我们约好 这个世界一起逛 ......by:子墨');
        const colours = await page.evaluate(() => [getComputedStyle(document.body).backgroundColor,
          getComputedStyle(document.getElementById('screen')).backgroundColor]);
        assert.deepEqual(colours, ['rgb(255, 203, 179)', 'rgb(255, 203, 179)']);
        const canvas = await page.locator('#screen').boundingBox();
        assert.deepEqual([canvas.width, canvas.height], [viewport.width, viewport.height]);
        assert.match(await page.locator('#screen').textContent(), /不支持画布/);
        await picturesLoaded(page, requests);
        // Published pages run sandboxed, where local storage throws: the
        // room's memory falls back to this visit only.
        assert.equal(await page.evaluate(() => visitMemory.persistent()), false);
        await screenshot(page, `style6-${viewport.name}`);
        // The hint's lines stand clear of the music button, and every letter
        // of the rainbow reads on its plate (4.5:1, the plate over the page).
        const { clear, worst } = await page.evaluate(() => {
          const button = document.getElementById('musicSwitch').getBoundingClientRect();
          const lines = document.createRange();
          lines.selectNodeContents(document.getElementById('hint'));
          const clear = [...lines.getClientRects()].every((r) => r.bottom <= button.top ||
            r.right <= button.left || r.left >= button.right);
          const rgb = (text) => text.match(/[\d.]+/g).map(Number);
          const light = (colour) => colour.slice(0, 3).reduce((sum, c, i) => {
            c /= 255;
            return sum + [0.2126, 0.7152, 0.0722][i] * (c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4);
          }, 0);
          const behind = rgb(getComputedStyle(document.body).backgroundColor);
          let worst = Infinity;
          for (const words of [document.getElementById('big'), document.getElementById('small')]) {
            const [r, g, b, a = 1] = rgb(getComputedStyle(words).backgroundColor);
            const plate = light([r, g, b].map((c, i) => a * c + (1 - a) * behind[i]));
            for (const letter of words.querySelectorAll('span'))
              worst = Math.min(worst, (plate + 0.05) / (light(rgb(getComputedStyle(letter).color)) + 0.05));
          }
          return { clear, worst };
        });
        assert.ok(clear, 'the hint runs under the music button');
        assert.ok(worst >= 4.5, `a rainbow letter at ${worst.toFixed(2)}:1`);

        // Facing north from the middle: picture 2 straight ahead, 4 to 12 out of sight.
        assert.ok(await page.evaluate(() => photoRoom.widthOnScreen(2)) > 0);
        // On a tall phone screen it fills most of the width, not a thin band.
        if (viewport.name === 'phone')
          assert.ok(await page.evaluate(() => photoRoom.widthOnScreen(2)) > 0.6 * viewport.width);
        assert.equal(await page.evaluate(() => photoRoom.widthOnScreen(8)), 0);
        const far = await page.evaluate(() => photoRoom.widthOnScreen(2));

        // A click on it walks up to it; a second click walks back.
        const middle = await page.evaluate(() => photoRoom.middleOnScreen(2));
        await page.mouse.click(...middle);
        assert.equal(await focus(page), '2');
        await page.waitForFunction((w) => photoRoom.widthOnScreen(2) > w, Math.min(far * 1.8, viewport.width * 0.9));
        await screenshot(page, `style6-${viewport.name}-close`);
        await page.mouse.click(...middle);
        assert.equal(await focus(page), '');
        await page.waitForFunction((w) => Math.abs(photoRoom.widthOnScreen(2) - w) < 2, far);

        // Dragging to the left turns the view to the right, towards the east wall.
        const start = await yaw(page);
        await drag(page, viewport, -Math.min(300, viewport.width * 0.7));
        const turned = (await yaw(page)) - start;
        assert.ok(turned > 15 && turned < 120, `turned ${turned} degrees`);
        await page.waitForFunction(() => photoRoom.widthOnScreen(4) > 0);
        await screenshot(page, `style6-${viewport.name}-turned`);

        // The right-click message; the hidden music starts on the first interaction.
        assert.equal(await rightClickNote(page, 10, 10), '向全世界宣布我爱你！');
        assert.ok(await musicPlaying(page), 'the clicks above should have started the music');
        const audio = page.locator('audio');
        assert.deepEqual(await audio.evaluate((a) => [a.loop, a.src, getComputedStyle(a).display]),
          [true, `http://${site.server.host}/biaobai/fg6/bgm.mp3`, 'none']);
      });
    });
  }

  test('the music waits for the first interaction; walls without a picture stay blank', async () => {
    const address = await site.publish(6, { set: { 'Text7(4)': '', 'Text7(11)': '' } });
    await site.visit(address, viewports[0], async ({ page, requests }) => {
      await page.waitForFunction(() => window.photoRoom !== undefined);
      await page.waitForTimeout(500);
      assert.equal(await musicPlaying(page), false, 'autoplay with sound should be refused');
      await page.keyboard.press('Space');
      await page.waitForFunction(() => !document.querySelector('audio').paused);
      const pictures = requests.map((r) => new URL(r.url()).pathname).filter((p) => /fg6\/\d+\.jpg$/.test(p));
      assert.equal(new Set(pictures).size, 10);
    });
  });

  test('where local storage works the room reopens facing the way it was left', async () => {
    // A preview opens the built page from a file, where storage is allowed
    // (published pages run sandboxed without it, as the tests above show).
    const folder = mkdtempSync(path.join(tmpdir(), 'heartpage-style6-'));
    try {
      const file = path.join(folder, 'yl.htm');
      await promisify(execFile)(process.env.HEARTPAGE_CLI, ['build', '--style', '6', '-o', file],
        { env: { ...process.env, HEARTPAGE_HOST: site.server.host } });
      await site.visit(`file://${file}`, viewports[0], async ({ page }) => {
        assert.equal(await page.evaluate(() => visitMemory.persistent()), true);
        await drag(page, viewports[0], -300);
        await page.waitForTimeout(1500);  // the flick's turn settles
        await drag(page, viewports[0], 0, 1);
        const left = await yaw(page);
        await page.reload();
        await page.waitForFunction(() => window.photoRoom !== undefined);
        assert.ok(Math.abs((await yaw(page)) - left) < 1, `reopened at ${await yaw(page)}, left at ${left}`);
      });
    } finally {
      rmSync(folder, { recursive: true, force: true });
    }
  });
});
