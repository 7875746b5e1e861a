// Style 5: green text effects around a typed message, a video and the
// pointer-following letters.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import {
  fixedCovering, musicPlaying, rightClickNote, screenshot, sharedSetUp, soundsPlaying, viewports, waitForText,
} from './harness.js';

const lines = ['自从你出现后,我才知道原来有人爱是那么的美好',
  '感谢上天让我遇见了你,知道吗？遇见你是我最大的幸福,遇见你是我永远的快乐',
  '我愿意把我最美好的回忆送给你,我要你开开心心每一天',
  '这辈子有你，我很开心，如果你愿意，我们一起走入婚礼殿堂',
  '我手持鲜花，单膝下跪，说“嫁给我吧~”我在想那天你一定幸福死了',
  '我，即便是50年之后也不会改变，我仍然会象现在这样爱你！',
  '我爱你，不需要太多的言语去修饰，我要你幸福'];

describe('style 5', () => {
  const site = sharedSetUp();

  for (const viewport of viewports) {
    test(`typed message, texts, video, follow letters, music at ${viewport.name} size`, async () => {
      const address = await site.publish(5);
      await site.measure(address, viewport, 'style5');

      await site.visit(address, viewport, { clock: true }, async ({ page }) => {
        assert.equal(await page.evaluate(() => document.title), '风格5');
        await waitForText(page, '喂，我爱你');
        await waitForText(page, '思雨，我永远保护好你，不让你受欺负.');
        await waitForText(page, '你一定要幸福“思雨”');
        await waitForText(page, '思雨，这辈有你我真的很幸福');
        const link = page.locator('a', { hasText: '“思雨”' });
        assert.equal(await link.getAttribute('href'), 'http://123456789.qzone.qq.com/');
        assert.equal(await page.locator('#chat img').getAttribute('title'), '我爱你“思雨”');
        assert.ok(await page.locator('#chat img').evaluate((img) => img.complete && img.naturalWidth > 0));

        // One character every 50 ms: about twenty in the first second.
        const box = page.locator('#message');
        assert.equal(await box.getAttribute('readonly'), '');
        assert.deepEqual(await box.evaluate((b) => [b.rows, b.cols]), [25, 100]);
        const before = [...(await box.inputValue())].length;
        await page.clock.runFor(1000);
        const typed = [...(await box.inputValue())].length - before;
        assert.ok(typed >= 19 && typed <= 21, `${typed} characters typed in one second`);
        // The box follows the typing, but a visitor who scrolls back to read
        // stays there while it types on (a low box scrolls early).
        await box.evaluate((b) => { b.style.height = '90px'; });
        await page.clock.runFor(3000);
        assert.ok(await box.evaluate((b) => b.scrollTop > 0), 'the box does not follow the typing');
        await box.evaluate((b) => { b.scrollTop = 0; });
        await page.clock.runFor(1000);
        assert.equal(await box.evaluate((b) => b.scrollTop), 0, 'the box jumped back to the end');
        await box.evaluate((b) => { b.style.height = ''; });
        assert.equal(await page.getByRole('textbox', { name: '写给你的信' }).count(), 1);
        assert.ok(await box.evaluate((b) => parseFloat(getComputedStyle(b).fontSize)) >= 15);
        for (const height of await page.locator('a:visible').evaluateAll((all) =>
          all.map((a) => a.getBoundingClientRect().height)))
          assert.ok(height >= 44, `a link ${height} px tall`);
        await page.clock.runFor(30000);
        const message = await box.inputValue();
        assert.equal(await box.getAttribute('data-typed'), 'done');
        assert.ok(message.startsWith('“一直以来我不懂的什么是爱”\n      遇到你我才懂的爱\n'), message);
        assert.ok(message.includes('■思雨■'), 'the two name characters sit in the heart');
        for (const line of lines) assert.ok(message.includes(`→${line}\n`), `message lacks ${line}`);
        assert.ok(message.endsWith('永远爱你的：子墨←←←'));

        // The default video address names a file: a video element of 460 x 372.
        const video = page.locator('#mv video');
        assert.match(await video.getAttribute('src'), /\/biaobai\/fg5\/mv\.mp4$/);
        const duration = await video.evaluate((v) => new Promise((resolve, reject) => {
          if (v.readyState >= 1) resolve(v.duration);
          v.addEventListener('loadedmetadata', () => resolve(v.duration));
          v.addEventListener('error', () => reject(new Error(`video error ${v.error?.code}`)));
        }));
        assert.ok(duration > 2 && duration < 10, `the video lasts ${duration} s`);
        if (viewport.name === 'desktop') {
          const size = await video.boundingBox();
          assert.deepEqual([Math.round(size.width), Math.round(size.height)], [460, 372]);
        }
        assert.equal(await page.locator('#shareRow a').count(), 3);

        // At rest nothing fixed stands over the words; the heart reads the
        // same from both ends of every line and is centred, so it is
        // symmetric whatever the font's widths.
        assert.deepEqual(await fixedCovering(page, '#message, p.line, #heading'), []);
        assert.equal(await box.evaluate((b) => getComputedStyle(b).textAlign), 'center');
        const heart = message.split('\n').filter((l) => l.includes('■'));
        for (const line of heart) assert.equal([...line].reverse().join(''), line.replace('思雨', '雨思'));
        if (viewport.name === 'phone')
          assert.ok(await box.evaluate((b) => parseFloat(getComputedStyle(b).fontSize)) >= 15);

        // The follow letters: none for a finger; for a mouse they appear once
        // it moves, spread round it, and fade away when it rests.
        const follow = page.locator('#follow');
        if (viewport.name === 'phone') {
          assert.equal(await page.locator('#follow span').count(), 0);
        } else {
          assert.equal(await page.locator('#follow span').allInnerTexts().then((t) => t.join('')), '喂，我爱你');
          assert.equal(await follow.evaluate((f) => getComputedStyle(f).opacity), '0');
          await page.mouse.move(300, 500);
          await page.clock.runFor(1000);
          const boxes = await page.locator('#follow span').evaluateAll((spans) =>
            spans.map((s) => s.getBoundingClientRect()).map((r) => [r.x + r.width / 2, r.y + r.height / 2]));
          const centre = [0, 1].map((k) => boxes.reduce((a, b) => a + b[k], 0) / boxes.length);
          assert.ok(Math.abs(centre[0] - 300) < 30 && Math.abs(centre[1] - 500) < 30, `letters centred at ${centre}`);
          const apart = Math.min(...boxes.flatMap((p, i) =>
            boxes.slice(i + 1).map((q) => Math.hypot(p[0] - q[0], p[1] - q[1]))));
          assert.ok(apart >= 24, `two letters only ${apart} px apart`);
          assert.equal(await follow.evaluate((f) => f.className), 'shown');
          await screenshot(page, `style5-${viewport.name}-pointer`);
          await page.clock.runFor(2500);
          assert.equal(await follow.evaluate((f) => f.className), '');
        }
        await screenshot(page, `style5-${viewport.name}`);

        // Both background sounds wait for the first interaction; right-click says "我爱你".
        assert.equal(await musicPlaying(page), false, 'autoplay with sound should be refused');
        assert.equal(await rightClickNote(page, viewport.width / 2, 20), '我爱你');
        // One sound at a time: the two background pieces take turns, each
        // to its real end, the next fetched before it is due so that it
        // follows at once; a video playing with sound holds the music until
        // it pauses. The first tap (a click on a desktop) starts it.
        if (viewport.hasTouch) await page.touchscreen.tap(viewport.width / 2, 20);
        else await page.mouse.click(viewport.width / 2, 20);
        const sounds = page.locator('audio');
        assert.equal(await sounds.count(), 2);
        for (const src of await sounds.evaluateAll((a) => a.map((x) => x.src)))
          assert.ok(src.startsWith(`http://${site.server.host}/biaobai/fg5/`), `${src} is not ours`);
        await page.waitForFunction(() => !document.querySelectorAll('audio')[0].paused);
        assert.equal(await soundsPlaying(page), 1);
        assert.equal(await sounds.nth(1).evaluate((a) => a.readyState), 0, 'the second piece fetched too early');
        await sounds.nth(0).evaluate((a) => { a.currentTime = a.duration - 4; });
        await page.waitForFunction(() => document.querySelectorAll('audio')[1].readyState >= 3);
        assert.equal(await soundsPlaying(page), 1);
        await page.waitForFunction(() => !document.querySelectorAll('audio')[1].paused, null, { timeout: 15000 });
        assert.equal(await soundsPlaying(page), 1);
        await video.evaluate((v) => v.play());
        await page.waitForFunction(() => [...document.querySelectorAll('audio')].every((a) => a.paused));
        assert.equal(await soundsPlaying(page), 1);
        await video.evaluate((v) => v.pause());
        await page.waitForFunction(() => !document.querySelectorAll('audio')[1].paused);
        assert.equal(await soundsPlaying(page), 1);
      });
    });
  }

  test('a phone on its side keeps the typing in sight at a phone\'s text size, and a tapped link opens an ordinary tab',
    async () => {
      const address = await site.publish(5);
      const side = { name: 'phone on its side', width: 844, height: 390, isMobile: true, hasTouch: true };
      await site.visit(address, side, { clock: true }, async ({ context, page }) => {
        const box = page.locator('#message');
        await page.clock.runFor(12000);
        // The box fits the window under the heading and follows the typing,
        // its last line in sight without scrolling the page.
        const [bottom, scrolled, size] = await box.evaluate((b) =>
          [b.getBoundingClientRect().bottom, b.scrollTop, parseFloat(getComputedStyle(b).fontSize)]);
        assert.ok(bottom <= side.height, `the box ends at ${bottom} px, below the window`);
        assert.ok(scrolled > 0, 'the box does not follow the typing');
        assert.ok(size >= 16, `the letter at ${size} px`);
        assert.ok(await page.locator('#footer').evaluate((f) => parseFloat(getComputedStyle(f).fontSize)) >= 14);
        // The words that lead elsewhere read as links; the chat button's
        // picture is sharp on a phone's dense screen.
        for (const line of await page.locator('.line a[href]:not(#chat), #footer a').evaluateAll((all) =>
          all.map((a) => getComputedStyle(a).textDecorationLine)))
          assert.match(line, /underline/);
        assert.ok(await page.locator('#chat img').evaluate((i) => i.naturalWidth >= 2 * i.width));
        // A finger on the footer's link opens the site in a tab of its own,
        // with its storage, not sandboxed like the page.
        const link = page.locator('#footer a').first();
        await link.scrollIntoViewIfNeeded();
        const where = await link.boundingBox();
        const opened = context.waitForEvent('page');
        await page.touchscreen.tap(where.x + where.width / 2, where.y + where.height / 2);
        const tab = await opened;
        await tab.waitForLoadState('load');
        assert.equal(tab.url(), `http://${site.server.host}/`);
        assert.equal(await tab.evaluate(() => { localStorage.setItem('k', '1'); return localStorage.getItem('k'); }), '1');
        await tab.close();
      });
    });

  test('a video address that is no file opens from a link that fills the box; the user\'s HTML follows the footer', async () => {
    const player = `http://${site.server.host}/`;
    const address = await site.publish(5, {
      set: { 'Text11(13)': player, 'Text11(17)': '<p style="color: #f00">我自己的话</p>' },
    });
    await site.visit(address, viewports[0], async ({ page }) => {
      assert.equal(await page.locator('#mv video').count(), 0);
      assert.equal(await page.locator('#mv a').getAttribute('href'), player);
      const size = await page.locator('#mv a').boundingBox();
      assert.deepEqual([Math.round(size.width), Math.round(size.height)], [460, 372]);
      const after = await page.evaluate(() => document.getElementById('footer').nextElementSibling.outerHTML);
      assert.equal(after, '<p style="color: #f00">我自己的话</p>');
      await waitForText(page, '我自己的话');
      await page.locator('#mv').scrollIntoViewIfNeeded();
      await screenshot(page, 'style5-video-link');
    });
  });
});
