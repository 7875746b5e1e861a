// Style 4: twenty full-screen cards, advanced by a timer until the first
// click, then one card per click; the last advance leaves the cards.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import {
  fixedCovering, musicPlaying, screenshot, sharedSetUp, soundsPlaying, viewports, waitForText,
} from './harness.js';

// The editor's default texts: left and right part of each card.
const left = ['"思雨"', '西湖', '第一次', '到了现在', '我想', '你开心,我开心', '如果你问我为什么喜欢你？',
  '我想陪你走过风风雨雨！', '如果', '你', '我', '因为', '如果有来世', '在你照镜子的时候', '夜有多长',
  '泪长爱更长', '守护', '为你', '爱你', '思雨我喜欢你！！！'];
const right = ['我喜欢你！你能做我的女朋友吗？如果可以就继续往下看,或者点击网页继续呢！',
  '是我们认识的地方,那是我们第一次见面', '见到你有一种说不出的感觉,那种感觉让我开心,让我满足',
  '我才知道,那种感觉叫做“喜欢”', '做你影子.这样我们就能天天在一起了',
  '你不开心.我逗你开心,你烦恼,我替你解决,不痛快,我替你承受', '我会说：“因为你是我的全部”！',
  '我想我们的爱情没有保质期,永远是认识的第一天的幸福！', '我的存在为你带来一丝负担', '只需轻轻吹一口气',
  '就会随风飘去', '爱不是负担', '我愿意做你的瞳孔！', '可以把你最深情的注视给我！', '泪有多长',
  '风雨无阻追随你跨过了一个世纪!我们在缘份的海洋中扬帆前进!', '你是我今生的选择！', '我今生无怨无悔！',
  '一生不变!', '爱你的：子墨'];

const visibleText = (page) => page.evaluate(() => document.body.innerText.replace(/\s+/g, ' '));

describe('style 4', () => {
  const site = sharedSetUp();

  for (const viewport of viewports) {
    test(`cards at ${viewport.name} size: timer, clicks, texts, music, the end`, async () => {
      const address = await site.publish(4);
      await site.measure(address, viewport, 'style4');

      await site.visit(address, viewport, { clock: true }, async ({ page }) => {
        await waitForText(page, left[0] + right[0]);
        assert.equal(await page.evaluate(() => document.title), '风格4');
        assert.equal(await page.locator('#prompt').innerText(), '轻触屏幕继续');
        assert.deepEqual(await fixedCovering(page, '.card p'), []);
        await screenshot(page, `style4-${viewport.name}`);

        // The timer shows card 2 after 6 s.
        await page.clock.runFor(6000 + 1600);
        await waitForText(page, left[1] + right[1]);
        assert.ok(!(await visibleText(page)).includes(right[0]), 'card 1 left the screen');

        // The visitor's first click starts the refused music and card 3.
        assert.equal(await musicPlaying(page), false, 'autoplay with sound should be refused');
        await page.mouse.click(viewport.width / 2, viewport.height / 2);
        await page.waitForFunction(() => !document.querySelector('audio').paused);
        assert.ok(await musicPlaying(page));
        assert.equal(await soundsPlaying(page), 1);
        await page.clock.runFor(1600);
        await waitForText(page, right[2]);

        // The click stopped the timer: card 3 stays.
        await page.clock.runFor(13000);
        let text = await visibleText(page);
        assert.ok(text.includes(right[2]) && !text.includes(right[3]), 'the timer went on after a click');

        // Each click shows the next card, with both of its texts.
        for (let card = 4; card <= 20; ++card) {
          await page.mouse.click(viewport.width / 2, viewport.height / 3);
          // A second tap while the card moves is not taken for the next.
          if (card === 4) {
            await page.clock.runFor(700);
            await page.mouse.click(viewport.width / 2, viewport.height / 3);
          }
          await page.clock.runFor(1600);
          text = await visibleText(page);
          assert.ok(text.includes(left[card - 1]) && text.includes(right[card - 1]),
            `card ${card} shows ${text}`);
        }
        // The last card's picture is shown above its line.
        const picture = page.locator('img.top');
        assert.ok(await picture.isVisible());
        assert.ok(await picture.evaluate((img) => img.complete && img.naturalWidth > 0));
        const pictureBox = await picture.boundingBox();
        assert.ok(Math.abs(pictureBox.x + pictureBox.width / 2 - viewport.width / 2) < 2, 'centred');
        assert.match(await page.locator('#prompt').innerText(), /完.*从头再看/);
        await screenshot(page, `style4-${viewport.name}-last`);

        // One more advance goes to "#", even where local storage is refused
        // (the published page runs in a sandbox), and starts again.
        await page.mouse.click(10, 10);
        await page.clock.runFor(1600);
        assert.ok(page.url().endsWith('#'), page.url());
        await waitForText(page, left[0] + right[0], 1000);
        assert.equal(await page.locator('#prompt').innerText(), '轻触屏幕继续');

        // Space and the arrow keys turn the cards.
        for (const [key, card] of [[' ', 2], ['ArrowRight', 3], ['ArrowDown', 4], ['ArrowLeft', 3]]) {
          await page.keyboard.press(key);
          await page.clock.runFor(1600);
          text = await visibleText(page);
          assert.ok(text.includes(right[card - 1]) && !text.includes(right[card]), `${key}: ${text}`);
        }
      });
    });
  }

  // Her longest words stay whole on the last card, above "— 完 —", in
  // either orientation: smaller where they must be, never cut.
  test('a long last line fits its card', async () => {
    const words = '我想和你一起走过春夏秋冬，看遍山川湖海，在每一个下雨的傍晚为你撑起一把伞。';
    const address = await site.publish(4, { set: { 'Text8(29)': '晓雨，这是最后一页：', 'Text8(39)': words.repeat(3) } });
    const landscape = { name: 'landscape', width: 844, height: 390, isMobile: true, hasTouch: true };
    for (const viewport of [...viewports, landscape]) {
      await site.visit(address, viewport, { clock: true }, async ({ page }) => {
        for (let card = 2; card <= 20; ++card) {
          await page.mouse.click(viewport.width / 2, viewport.height / 3);
          await page.clock.runFor(1600);
        }
        const fit = await page.evaluate(() => {
          const inner = [...document.querySelectorAll('.card')].pop().querySelector('.inner');
          const box = inner.getBoundingClientRect();
          return { overflow: inner.scrollHeight - inner.clientHeight, top: box.top, bottom: box.bottom,
            prompt: document.getElementById('prompt').getBoundingClientRect().top };
        });
        assert.ok(fit.overflow <= 1, `${viewport.name}: ${JSON.stringify(fit)}`);
        assert.ok(fit.top >= 0 && fit.bottom <= fit.prompt, `${viewport.name}: ${JSON.stringify(fit)}`);
        await screenshot(page, `style4-${viewport.name}-long`);
      });
    }
  });

  test('emphasis colour given without "#" applies', async () => {
    const address = await site.publish(4, { set: { 'Text8(44)': 'FF0000' } });
    await site.visit(address, viewports[0], { clock: true }, async ({ page }) => {
      const colour = await page.locator('.card em').first().evaluate((e) => getComputedStyle(e).color);
      assert.equal(colour, 'rgb(255, 0, 0)');
      const background = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
      assert.equal(background, 'rgb(184, 92, 0)');
    });
  });
});
