// A page held back until its moment or its code, on a phone: the waiting
// page counts down by the page's clock and loads the page itself once the
// site lets it, and the page that asks for the code shows its hint, says a
// wrong code is wrong and lets the right one in.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { publishWithSettings, sharedSetUp, screenshot, utcText, waitForText } from './harness.js';

const phone = { name: 'phone', width: 390, height: 844, isMobile: true, hasTouch: true };
const words = '只给你一个人看的话';

// The page wears its style and fits a phone on its side without scrolling.
async function fitsOnItsSide(page) {
  assert.equal(await page.evaluate(() => document.body.className), 's1');
  await page.setViewportSize({ width: 844, height: 390 });
  const { height, width } = await page.evaluate(() => ({
    height: document.documentElement.scrollHeight - innerHeight,
    width: document.documentElement.scrollWidth - innerWidth }));
  assert.deepEqual({ height, width }, { height: 0, width: 0 });
  await page.setViewportSize({ width: phone.width, height: phone.height });
}

describe('a page held back', () => {
  const site = sharedSetUp({ serverArgs: ['--visits-per-minute', '0'] });

  const publishWith = (settings) =>
    publishWithSettings(site.server, 1, settings, { set: { 'Text1(0)': words } });

  test('the waiting page counts down and loads the page at its moment', async () => {
    const opens = Math.ceil(Date.now() / 1000) * 1000 + 8000;
    const address = await publishWith({ opens: utcText(opens) });
    // A reader far from Beijing also reads the moment in her own time, the
    // zone after it.
    await site.visit(address, { ...phone, timezoneId: 'Europe/Berlin' }, { clock: true }, async ({ page }) => {
      await waitForText(page, '为你开启');
      assert.match(await page.locator('h1').innerText(), /^有一份心意将于 \d+月\d+日 \d\d:\d\d 为你开启$/);
      assert.match(await page.locator('#local').innerText(), /^你所在地的时间：\d+月\d+日 \d\d:\d\d（GMT\+[12]）$/);
      assert.equal((await page.content()).includes(words), false);
      const left = async () => page.locator('#count').innerText();
      const first = await left();
      assert.match(first, /^00:00:0\d$/);
      await screenshot(page, 'gate-waiting');
      await fitsOnItsSide(page);
      await page.clock.runFor(3000);
      const later = await left();
      assert.equal(Number(first.slice(-2)) - Number(later.slice(-2)), 3, `${first} then ${later}`);
      // The page's clock may run ahead of the site's: it loads the page
      // only once the site serves it, which the test awaits on the site.
      for (;;) {
        const served = await (await fetch(address)).arrayBuffer();
        if (!new TextDecoder().decode(served).includes('id="gate"')) break;
        await new Promise((resolve) => setTimeout(resolve, 250));
      }
      const loaded = page.waitForEvent('load');
      await page.clock.runFor(Math.max(0, opens - await page.evaluate(() => Date.now())) + 2000);
      await loaded;
      assert.equal(await page.title(), words);
      assert.equal(await page.locator('#gate').count(), 0);
    });
  });

  test('a moment in another year is told with its year, in Beijing and where the reader is', async () => {
    const address = await publishWith({ opens: utcText(Date.now() + 400 * 86400e3) });
    await site.visit(address, { ...phone, timezoneId: 'America/New_York' }, async ({ page }) => {
      await waitForText(page, '为你开启');
      assert.match(await page.locator('h1').innerText(), /^有一份心意将于 \d{4}年\d+月\d+日 \d\d:\d\d 为你开启$/);
      assert.match(await page.locator('#local').innerText(), /^你所在地的时间：\d{4}年\d+月\d+日 \d\d:\d\d（GMT-[45]）$/);
    });
  });

  test('the page that asks for the code shows its hint and opens to the right code only', async () => {
    const address = await publishWith({ code: 'Shanghai', hint: '我们第一次见面的城市？' });
    await site.visit(address, phone, async ({ page, problems }) => {
      await waitForText(page, '提示：我们第一次见面的城市？');
      await screenshot(page, 'gate-code');
      await fitsOnItsSide(page);
      const box = page.getByRole('textbox', { name: '口令' });
      await box.fill('beijing');
      const refused = page.waitForResponse((r) => r.url().includes('/api/unlock/'));
      await page.getByRole('button', { name: '打开' }).tap();
      assert.equal((await refused).status(), 403);
      await waitForText(page, '口令不对，再想想？');
      // The one refusal the test asked for, as the response and in the console.
      const refusals = problems.splice(0);
      assert.ok(refusals.length > 0 && refusals.every((p) => p.includes('403') && p.includes('/api/unlock/')),
        refusals.join('\n'));
      await box.fill('shanghai ');
      await page.getByRole('button', { name: '打开' }).tap();
      await page.waitForFunction((title) => document.title === title, words);
      const cookies = await page.context().cookies();
      assert.equal(cookies.length, 1);
      assert.equal(cookies[0].httpOnly, true);
      assert.equal(cookies[0].sameSite, 'Lax');
      await page.reload();
      assert.equal(await page.title(), words);
    });
  });
});
