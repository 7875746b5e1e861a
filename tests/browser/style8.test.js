// Style 8: the six-slide vertical slider with its side panel.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { musicPlaying, screenshot, sharedSetUp, soundsPlaying, viewports, waitForText } from './harness.js';

// Each slide's heading lines and its middle text, as the editor's defaults have them.
const slides = [
  [['老婆 我爱你', '(我要宣告我的爱!)'], '老婆，希望你能够看完它'],
  [['那些美好的回忆', '(挥之不去)'], '从看到你的第一眼我就深深的爱上了你'],
  [['一直幻想的以后', '(那么甜美)'], '那时候我就决定了，要一辈子照顾你'],
  [['我要永远的爱你', '(守住誓言)'], '早晨晚上都有你的陪伴'],
  [['今生今世永不分离', '(一辈子爱你)'], '我们过着平凡的生活'],
  [['老婆我会永远爱着你', '（直到永远）', '老公'], '一直白头到老'],
];

const slide = (page) => page.evaluate(() => Number(document.body.dataset.slide));
const sideText = (page) => page.locator('#sideText').innerText();

// The slide whose top edge is in the slider's window.
async function slideInView(page) {
  return page.evaluate(() => {
    const view = document.getElementById('viewport').getBoundingClientRect();
    const shown = [...document.querySelectorAll('#slider .slide')].filter((s) => {
      const r = s.getBoundingClientRect();
      return getComputedStyle(s).display !== 'none' && Math.abs(r.top - view.top) < 2;
    });
    return shown.map((s) => Number(s.id.replace('slide', '')));
  });
}

async function expectSlide(page, number) {
  assert.equal(await slide(page), number);
  assert.deepEqual(await slideInView(page), [number]);
  const heading = await page.locator(`#slide${number} h2`).innerText();
  assert.equal(heading.split('\n').join('|'), slides[number - 1][0].join('|'));
  assert.equal(await sideText(page), slides[number - 1][1]);
  assert.equal(await page.locator('#pager a.activeSlide').innerText(), String(number));
}

describe('style 8', () => {
  const site = sharedSetUp();

  for (const viewport of viewports) {
    test(`slider at ${viewport.name} size: by itself every 5 s, by the arrows and buttons, the bouncing panel`, async () => {
      const address = await site.publish(8);
      // Sliding by hand while the figures are taken.
      await site.measure(address, viewport, 'style8', {
        ms: 500,
        act: async (page) => {
          for (let i = 0; i < 3; ++i) {
            await page.locator('#down').click();
            await page.waitForTimeout(1200);
          }
        },
      });

      await site.visit(address, viewport, { clock: true }, async ({ context, page }) => {
        assert.equal(await page.evaluate(() => document.title), '老婆我爱你（宣告你的爱情把）');
        await waitForText(page, '老婆 我爱你 (我要宣告我的爱!)');
        assert.equal(await sideText(page), '老婆 我爱你', 'the greeting before the first change');
        assert.deepEqual(await slideInView(page), [1]);
        for (const img of await page.locator('#slider img').all())
          assert.ok(await img.evaluate((i) => i.complete && i.naturalWidth > 0));
        const logo = await page.locator('#logo img').evaluate((i) => [i.width, i.height, i.naturalWidth > 0]);
        assert.deepEqual(logo, [80, 80, true]);
        assert.deepEqual(await page.locator('#pager a').allInnerTexts(), ['1', '2', '3', '4', '5', '6']);
        await waitForText(page, '向上');
        await waitForText(page, '向下');
        assert.equal(await musicPlaying(page), false, 'autoplay with sound should be refused');
        await screenshot(page, `style8-${viewport.name}`);

        // By itself: slide 2 after 5 s, its 1 s slide done by 6 s; the panel
        // bounces open over 800 ms with the slide's middle text.
        const sinceStart = () => page.evaluate(() => Date.now() - Number(document.body.dataset.started));
        while (await slide(page) === 1) {
          assert.ok(await sinceStart() < 5200, 'no change within 5 s');
          await page.clock.runFor(50);
        }
        const changedAt = await sinceStart();
        assert.ok(changedAt >= 5000 && changedAt < 5200, `first change after ${changedAt} ms`);
        assert.equal(await slide(page), 2);
        assert.equal(await sideText(page), slides[1][1]);
        const opening = await page.locator('#sideBox').evaluate((b) => b.getBoundingClientRect().height);
        await page.clock.runFor(1200);
        const open = await page.locator('#sideBox').evaluate((b) => b.getBoundingClientRect().height);
        assert.ok(opening < open, `the panel should still be opening (${opening} of ${open})`);
        await expectSlide(page, 2);
        await screenshot(page, `style8-${viewport.name}-slide2`);

        // By hand: down, up, a numbered button; each one slide of 1 s.
        await page.locator('#down').click();
        await page.clock.runFor(1200);
        await expectSlide(page, 3);
        await page.locator('#up').click();
        await page.clock.runFor(1200);
        await expectSlide(page, 2);
        await page.locator('#pager a', { hasText: '6' }).click();
        await page.clock.runFor(1200);
        await expectSlide(page, 6);
        await screenshot(page, `style8-${viewport.name}-slide6`);

        // After slide 6 the slider wraps round to slide 1, by itself and by the arrow.
        for (let waited = 0; await slide(page) === 6; waited += 100) {
          assert.ok(waited <= 5000, 'slide 6 did not move on by itself');
          await page.clock.runFor(100);
        }
        await page.clock.runFor(1200);
        await expectSlide(page, 1);
        await page.locator('#up').click();
        await page.clock.runFor(1200);
        await expectSlide(page, 6);

        // The keys, the wheel (mouse) and a swipe (finger) move it one slide.
        await page.keyboard.press('ArrowDown');
        await page.clock.runFor(1200);
        await expectSlide(page, 1);
        await page.keyboard.press('ArrowUp');
        await page.clock.runFor(1200);
        await expectSlide(page, 6);
        if (viewport.hasTouch) {
          const cdp = await context.newCDPSession(page);
          const swipe = async (fromY, toY) => {
            const x = viewport.width / 2;
            await cdp.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [{ x, y: fromY }] });
            await cdp.send('Input.dispatchTouchEvent', { type: 'touchMove', touchPoints: [{ x, y: (fromY + toY) / 2 }] });
            await cdp.send('Input.dispatchTouchEvent', { type: 'touchMove', touchPoints: [{ x, y: toY }] });
            await cdp.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
            await page.clock.runFor(1200);
          };
          await swipe(400, 200);
          await expectSlide(page, 1);
          await swipe(200, 400);
          await expectSlide(page, 6);
          // Every control is at least 44 x 44 px under a finger.
          for (const box of await page.locator('#pager a, #nav .arrow').evaluateAll((all) =>
            all.map((a) => a.getBoundingClientRect()).map((r) => [r.width, r.height])))
            assert.ok(box[0] >= 44 && box[1] >= 44, `a control of ${box}`);
        } else {
          await page.mouse.move(viewport.width / 2, viewport.height / 2);
          await page.mouse.wheel(0, 120);
          await page.clock.runFor(1200);
          await expectSlide(page, 1);
          await page.mouse.wheel(0, -120);
          await page.clock.runFor(1200);
          await expectSlide(page, 6);
        }

        // The music's address stands twice in its source; it starts on the first interaction.
        const source = await page.locator('audio source').evaluate((s) => [s.src, s.dataset.src]);
        assert.deepEqual(source, Array(2).fill(`http://${site.server.host}/biaobai/fg8/bgm.mp3`));
        await page.waitForFunction(() => !document.querySelector('audio').paused);
        assert.equal(await soundsPlaying(page), 1);
      });
    });
  }

  test('a phone on its side: finger-sized controls, the greeting is the sender\'s, a long heading shrinks the picture',
    async () => {
      const long = '我们一起走过的每一个春夏秋冬都是我这辈子最珍贵的回忆，'.repeat(3);
      const address = await site.publish(8, { set: { 'Text1(2)': '小宝 我想你', 'Text1(3)': long } });
      const side = { name: 'phone on its side', width: 844, height: 390, isMobile: true, hasTouch: true };
      await site.visit(address, side, { clock: true }, async ({ page }) => {
        assert.equal(await sideText(page), '小宝 我想你');
        for (const box of await page.locator('#pager a, #nav .arrow').evaluateAll((all) =>
          all.map((a) => a.getBoundingClientRect()).map((r) => [Math.round(r.width), Math.round(r.height)])))
          assert.ok(box[0] >= 44 && box[1] >= 44, `a control of ${box}`);
        // The heading's last line and the picture's foot stay inside the slide.
        const [heading, picture, slideBox] = await page.evaluate(() => ['#slide1 h2', '#slide1 img', '#slide1']
          .map((s) => document.querySelector(s).getBoundingClientRect()).map((r) => [r.top, r.bottom]));
        assert.ok(heading[1] <= picture[0] && picture[1] <= slideBox[1] + 1,
          `heading ${heading}, picture ${picture}, slide ${slideBox}`);
        await screenshot(page, 'style8-side');
      });
    });
});
