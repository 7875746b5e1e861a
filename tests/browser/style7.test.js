// Style 7: the 55-page picture story moved by the keyboard.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { fixedCovering, screenshot, sharedSetUp, soundsPlaying, viewports, waitForText } from './harness.js';

// The editor's default captions, field 0 to 78.
const story = ['阿福', '桃桃', '一生一世', '从前，森林里住着一只小狐狸', '它的名字叫阿福', '阿福每天都在山坡上看云',
  '有一天，山坡上来了一个女孩', '她叫桃桃，笑起来像春天', '阿福偷偷看了她一眼', '心里就再也放不下了',
  '第二天，阿福早早来到山坡', '带上了自己最喜欢的野果', '桃桃说：谢谢你', '阿福的脸红成了苹果', '从那天起',
  '他们一起看日出', '一起数星星', '一起在雨里奔跑', '一起在树下发呆', '桃桃喜欢吃甜甜的东西', '阿福就学会了做蛋糕',
  '第一次做得很难吃', '桃桃还是吃完了', '她说：只要是你做的，都好吃', '阿福决定，要一辈子对她好', '可是冬天来了',
  '桃桃要去很远的地方', '阿福送她到车站', '火车开走的时候', '阿福追了很久很久', '他每天给桃桃写一封信',
  '写了三百六十五封', '信里只有一句话', '我想你', '春天又来了', '山坡上开满了花', '阿福还在等', '他相信桃桃会回来',
  '有一天傍晚', '远处走来一个熟悉的身影', '是桃桃', '她回来了', '阿福跑过去抱住了她', '桃桃哭了',
  '她说：我也每天都在想你', '原来思念是两个人的事', '从此他们再也没有分开', '他们一起种了一棵桃树',
  '桃树一年一年长高', '开花，结果', '阿福说', '我想和你一起变老', '桃桃点点头', '我愿意', '不管走到哪里',
  '不管遇到什么', '我都会牵着你的手', '陪你看每一次日出', '陪你走每一段路', '陪你度过每一个冬天', '你笑的时候',
  '我陪你笑', '你哭的时候', '我给你肩膀', '我们的故事', '才刚刚开始', '谢谢你', '出现在我的生命里', '我爱你',
  '不只是今天', '还有明天', '还有后天', '还有以后的每一天', '这就是我想对你说的话', '你愿意听我说一辈子吗',
  '嫁给我吧', '我爱你，永远爱你', '永远在一起', '风格7－阿福与桃桃'];
// How many captions each of the 55 pages carries, in order.
const perPage = [3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1,
  1, 1, 1, 1, 1, 1, 3, 1, 1, 1, 1, 1, 1, 2, 1, 2, 2, 4, 4, 2, 2, 1, 4, 1, 1, 1, 2];
const noPicture = new Set([1, 34, 51, 54]);
const twoPictures = new Set([20, 41, 50]);

const current = (page) => page.evaluate(() => Number(document.body.dataset.page));
const currentText = (page) => page.locator('.slide.current').innerText();

// The current page has finished fading in, so a screenshot shows it whole.
const settled = (page) => page.waitForFunction(
  () => getComputedStyle(document.querySelector('.slide.current')).opacity === '1');

describe('style 7', () => {
  const site = sharedSetUp();

  for (const viewport of viewports) {
    test(`story at ${viewport.name} size: every page by the down arrow, pictures, Esc, music switch`, async () => {
      const address = await site.publish(7);
      await site.measure(address, viewport, 'style7');

      await site.visit(address, viewport, async ({ page }) => {
        assert.equal(await page.evaluate(() => document.title), '风格7－阿福与桃桃');
        await waitForText(page, '阿福 & 桃桃');
        await waitForText(page, '一生一世');
        // A phone, which has no arrow keys, is told to swipe or tap instead.
        await waitForText(page, viewport.hasTouch ? '向上滑动或轻点屏幕翻页' : '开始倾听');
        if (viewport.hasTouch) assert.equal(await page.locator('.hint').isVisible(), false);
        assert.equal(await page.locator('.chapter').count(), 9);
        assert.equal(await page.locator('.slide').count(), 55);
        await screenshot(page, `style7-${viewport.name}`);

        // The music was refused; the first key press starts it.
        const music = page.locator('#music');
        assert.equal(await music.evaluate((a) => a.paused), true);

        let field = 3;
        for (let number = 2; number <= 55; ++number) {
          await page.keyboard.press('ArrowDown');
          assert.equal(await current(page), number);
          const captions = story.slice(field, field + perPage[number - 1]);
          field += perPage[number - 1];
          const text = await currentText(page);
          for (const caption of captions) assert.ok(text.includes(caption), `page ${number} lacks ${caption}: ${text}`);
          const pictures = page.locator('.slide.current img');
          const expected = noPicture.has(number) ? 0 : twoPictures.has(number) ? 2 : 1;
          assert.equal(await pictures.count(), expected, `pictures on page ${number}`);
          for (const img of await pictures.all()) {
            await img.evaluate((i) => i.decode());
            assert.ok(await img.isVisible(), `a picture of page ${number} is hidden`);
          }
          if (number === 2) {
            await page.waitForFunction(() => !document.getElementById('music').paused, null, { timeout: 5000 });
            assert.equal(await soundsPlaying(page), 1);
            await screenshot(page, `style7-${viewport.name}-page2`);
          }
          if (number === 20) {
            await settled(page);
            assert.deepEqual(await fixedCovering(page, '.slide.current h1, .slide.current h2, .slide.current p'), []);
            await screenshot(page, `style7-${viewport.name}-page20`);
          }
        }
        assert.equal(field, 78);
        // The last page says how to start again: Esc on a desktop, a tap on a phone.
        await waitForText(page, viewport.hasTouch ? '轻点屏幕回到开头' : '按 Esc 键');
        await settled(page);
        assert.deepEqual(await fixedCovering(page, '.slide.current h1, .slide.current h2, .slide.current p'), []);
        await screenshot(page, `style7-${viewport.name}-page55`);
        await page.keyboard.press('ArrowDown');
        assert.equal(await current(page), 55, 'the last page stays');
        if (viewport.hasTouch) {
          assert.ok(!(await page.evaluate(() => document.body.innerText)).includes('Esc'));
          await page.touchscreen.tap(viewport.width / 2, viewport.height - 60);
          assert.equal(await current(page), 1, 'a tap on the last page starts again');
          await page.keyboard.press('End');
        }
        await page.keyboard.press('Escape');
        assert.equal(await current(page), 1);
        await page.keyboard.press('End');
        assert.equal(await current(page), 55);
        await page.keyboard.press('ArrowUp');
        assert.equal(await current(page), 54);
        await page.keyboard.press('Home');
        assert.equal(await current(page), 1);

        // The switch pauses and resumes, and its tooltip says what a click will do.
        const toggle = page.locator('#musicSwitch');
        // The switch spins while music plays: click where it stands.
        const box = await toggle.boundingBox();
        const clickSwitch = () => page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
        assert.equal(await toggle.getAttribute('title'), '点击暂停');
        await clickSwitch();
        assert.equal(await music.evaluate((a) => a.paused), true);
        assert.equal(await toggle.getAttribute('title'), '点击播放');
        await page.keyboard.press('ArrowDown');
        assert.equal(await music.evaluate((a) => a.paused), true, 'a paused switch stays paused');
        await clickSwitch();
        await page.waitForFunction(() => !document.getElementById('music').paused);
        assert.equal(await toggle.getAttribute('title'), '点击暂停');
      });
    });
  }

  test('nothing in the story is editable: a tap on a caption turns the page like a tap beside it', async () => {
    const address = await site.publish(7, { set: { 'Text1(3)': '很久很久以前' } });
    await site.visit(address, viewports[1], async ({ page }) => {
      assert.equal(await page.locator('[contenteditable]').count(), 0);
      await page.touchscreen.tap(viewports[1].width / 2, viewports[1].height - 60);
      assert.equal(await current(page), 2, 'a tap beside the captions turns the page');
      await page.waitForFunction(() => getComputedStyle(document.querySelector('.slide.current')).opacity === '1');
      const caption = page.locator('.slide.current .caption');
      assert.equal(await caption.innerText(), '很久很久以前');
      const box = await caption.boundingBox();
      await page.touchscreen.tap(box.x + box.width / 2, box.y + box.height / 2);
      assert.equal(await current(page), 3, 'a tap on a caption turns the page');
      assert.equal(await page.evaluate(() => document.activeElement === document.body), true);
    });
  });

  test('without scripts the page says why it cannot be read', async () => {
    const address = await site.publish(7);
    const context = await site.browser.newContext({ javaScriptEnabled: false });
    try {
      const page = await context.newPage();
      await page.goto(address);
      await waitForText(page, '您的浏览器禁用了javascript，无法正常浏览本页面');
    } finally {
      await context.close();
    }
  });
});
