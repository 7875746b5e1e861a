// The maker in the browser on a phone, from the gallery to the published
// page: a style picked, a field typed into and seen in the preview without
// a reload, the draft kept through one, the page published under a name of
// her own and opened at its address.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { recordFigures, screenshot, sharedSetUp, waitForText } from './harness.js';

const phone = { name: 'phone', width: 390, height: 844, isMobile: true, hasTouch: true };
const title = '给小雨的一封信';
const name = `maker${Date.now() % 100000}`;

describe('the maker in the browser', () => {
  const site = sharedSetUp();

  test('makes, previews and publishes a page from a phone', async () => {
    await site.visit(`http://${site.server.host}/make`, phone, async ({ page }) => {
      const styles = await (await fetch(`http://${site.server.host}/api/styles`)).json();
      const tiles = page.locator('#styles button');
      await tiles.first().waitFor();
      assert.deepEqual(await tiles.allInnerTexts(), styles.styles.map((style) => style.name));
      assert.equal(await page.locator('#styles img').count(), 8);
      await screenshot(page, 'maker-gallery');

      await tiles.nth(0).tap();
      const box = page.getByLabel('网页标题', { exact: true });
      await box.waitFor();
      // Every field is named by a label the phone reads out, in text large
      // enough that it does not zoom in.
      const unlabelled = await page.locator('#fields input, #fields textarea').evaluateAll(
        (inputs) => inputs.filter((input) => input.labels.length === 0).map((input) => input.id));
      assert.deepEqual(unlabelled, []);
      const smallest = await page.locator('#fields input, #fields textarea, #fields label').evaluateAll(
        (nodes) => Math.min(...nodes.map((node) => parseFloat(getComputedStyle(node).fontSize))));
      assert.ok(smallest >= 16, `smallest text ${smallest}px`);

      const makerLoads = [];
      page.on('load', () => makerLoads.push(Date.now()));
      const entries = await page.evaluate(() => history.length);
      await box.fill('');
      await box.pressSequentially(title, { delay: 20 });
      const typed = Date.now();
      const shown = await waitForPreviewTitle(page, title);
      recordFigures('maker-preview', { msAfterLastKey: shown - typed });
      assert.deepEqual(makerLoads, [], 'the maker itself never reloads');
      // The previews leave no history behind them for Back to step through,
      // and the one shown replaces the one before.
      assert.equal(await page.evaluate(() => history.length), entries);
      await page.waitForFunction(() => document.querySelectorAll('iframe').length === 1);
      await screenshot(page, 'maker-form');

      // The draft outlives a reload.
      await page.reload({ waitUntil: 'load' });
      await page.getByLabel('网页标题', { exact: true }).waitFor();
      assert.equal(await page.getByLabel('网页标题', { exact: true }).inputValue(), title);

      await page.getByLabel('请输入上传文件名').fill(name);
      await waitForText(page, '这个名字可以使用');
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '上传成功！');
      const address = await page.locator('#address').inputValue();
      assert.equal(address, `http://${site.server.host}/Test/${name}`);
      const link = await page.locator('#manage-link').inputValue();
      assert.match(link, new RegExp(`^http://${site.server.host.replace(/\./g, '\\.')}/make#key=[0-9a-f]{32}$`));
      // The key is a secret: the server's log never holds it.
      assert.equal(site.server.log().includes(link.split('#key=')[1]), false);
      await page.locator('#published').scrollIntoViewIfNeeded();
      await screenshot(page, 'maker-published');

      const published = await page.context().newPage();
      await published.goto(address, { waitUntil: 'load' });
      assert.equal(await published.title(), title);
      await published.close();

      // Published again, the name is hers and the link is not shown twice.
      await page.getByLabel('请输入上传文件名').fill(name.toUpperCase());
      await waitForText(page, '将替换当前网页');
      await page.reload({ waitUntil: 'load' });
      await page.getByLabel('请输入上传文件名').fill(name);
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '上传成功！');
      assert.equal(await page.locator('#manage').isHidden(), true);
    });
  });
});

// When a preview's frame, in an origin of its own, first shows `wanted` as
// its page's title: each preview is a new frame.
async function waitForPreviewTitle(page, wanted) {
  const titled = async () => {
    for (const frame of page.mainFrame().childFrames())
      if (await frame.title().catch(() => '') === wanted) return true;
    return false;
  };
  for (;;) {
    const next = page.waitForEvent('framenavigated', { timeout: 10000 });
    if (await titled()) {
      next.catch(() => {});
      return Date.now();
    }
    await next.then(async (frame) => frame.waitForLoadState('domcontentloaded').catch(() => {}),
      () => assert.fail(`no preview shows "${wanted}"`));
  }
}
