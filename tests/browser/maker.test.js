// The maker in the browser on a phone, from the gallery to the published
// page: a style picked, a field typed into and seen in the preview without
// a reload, the draft kept through one, the page published under a name of
// her own and opened at its address.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { recordFigures, screenshot, sharedSetUp, waitForText } from './harness.js';

const phones = [
  { name: 'phone', width: 390, height: 844, isMobile: true, hasTouch: true },
  { name: 'phone on its side', width: 844, height: 390, isMobile: true, hasTouch: true },
];
const title = '给小雨的一封信';

describe('the maker in the browser', () => {
  const site = sharedSetUp();

  for (const phone of phones) test(`makes, previews and publishes a page from a ${phone.name}`, async () => {
    const name = `maker${phone.width}x${Date.now() % 100000}`;
    // The guides show the phone upright.
    const shot = (page, what) => screenshot(page, phone.width < phone.height ? what : `${what}-landscape`);
    await site.visit(`http://${site.server.host}/make`, phone, async ({ page }) => {
      const styles = await (await fetch(`http://${site.server.host}/api/styles`)).json();
      const tiles = page.locator('#styles button');
      await tiles.first().waitFor();
      assert.deepEqual(await tiles.allInnerTexts(), styles.styles.map((style) => style.name));
      assert.equal(await page.locator('#styles img').count(), 8);
      await shot(page, 'maker-gallery');

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

      // Her own photo, 12 megapixels from a phone's camera: made light here
      // as the desktop makes it, sent, the field then holding its address,
      // with a thumbnail; a HEIC the browser cannot read is refused in words.
      const picker = page.getByLabel('选择照片', { exact: true });
      await picker.setInputFiles({ name: 'IMG_0001.HEIC', mimeType: 'image/heic',
        buffer: Buffer.from('\0\0\0\x18ftypheic\0\0\0\0mif1heic', 'latin1') });
      await waitForText(page, '无法读取HEIC格式的照片');
      await picker.setInputFiles({ name: 'IMG_0002.JPG', mimeType: 'image/jpeg',
        buffer: Buffer.from(await page.evaluate(cameraPhoto), 'base64') });
      const pictureBox = page.getByLabel('中间图片地址', { exact: true });
      const media = new RegExp(`^http://${site.server.host.replace(/\./g, '\\.')}/media/[0-9a-f]{64}\\.jpg$`);
      await page.waitForFunction((box) => box.value.includes('/media/'), await pictureBox.elementHandle(),
        { timeout: 30000 });
      const photo = await pictureBox.inputValue();
      assert.match(photo, media);
      assert.deepEqual(await page.evaluate(async (address) => {
        const image = new Image();
        image.src = address;
        await image.decode();
        return [image.naturalWidth, image.naturalHeight];
      }, photo), [1920, 1440]);
      assert.equal(await page.locator('.thumb:visible').count(), 1);
      await waitForText(page, '已上传：IMG_0002.JPG');
      await page.locator('.thumb:visible').evaluate((node) => node.closest('.field').scrollIntoView({ block: 'end' }));
      await shot(page, 'maker-form');

      // The draft outlives a reload, made once the preview shows her photo
      // and none is on its way (a reload cuts that one off).
      for (const start = Date.now(); ;) {
        const frames = await Promise.all(page.mainFrame().childFrames().map((frame) => frame.content().catch(() => '')));
        if (frames.some((html) => html.includes(photo)) && !(await page.locator('iframe.loading').count())) break;
        assert.ok(Date.now() - start < 15000, 'no preview shows her photo');
        await page.waitForTimeout(100);
      }
      await page.reload({ waitUntil: 'load' });
      await page.getByLabel('网页标题', { exact: true }).waitFor();
      assert.equal(await page.getByLabel('网页标题', { exact: true }).inputValue(), title);

      // The desktop's checks, under the field: her name is still the sample's.
      const sample = page.locator('.field:has(> label:text-is("对方名字")) .finding');
      await sample.waitFor();
      assert.equal(await sample.innerText(), '还是示例文字');

      await page.getByLabel('请输入上传文件名').fill(name);
      await waitForText(page, '这个名字可以使用');
      // Hers to weigh: said at the first tap, gone on with at the second.
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '请检查以下内容：对方名字：还是示例文字');
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '上传成功！');
      const address = await page.locator('#address').inputValue();
      assert.equal(address, `http://${site.server.host}/Test/${name}`);
      const link = await page.locator('#manage-link').inputValue();
      assert.match(link, new RegExp(`^http://${site.server.host.replace(/\./g, '\\.')}/make#key=[0-9a-f]{32}$`));
      // The key is a secret: the server's log never holds it.
      assert.equal(site.server.log().includes(link.split('#key=')[1]), false);
      // Both for a phone's camera too.
      await page.getByRole('img', { name: '网页网址的二维码' }).waitFor();
      await page.getByRole('img', { name: '管理链接的二维码' }).waitFor();
      await page.locator('#published').scrollIntoViewIfNeeded();
      await shot(page, 'maker-published');

      const published = await page.context().newPage();
      await published.goto(address, { waitUntil: 'load' });
      assert.equal(await published.title(), title);
      assert.ok((await published.content()).includes(photo), 'the page shows her photo');
      await published.close();

      // Published again, the name is hers and the link is not shown twice.
      await page.getByLabel('请输入上传文件名').fill(name.toUpperCase());
      await waitForText(page, '将替换当前网页');
      await page.reload({ waitUntil: 'load' });
      await page.getByLabel('请输入上传文件名').fill(name);
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '请检查以下内容');
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '上传成功！');
      assert.equal(await page.locator('#manage').isHidden(), true);
    });
  });
});

// A phone camera's photo, 4000 × 3000, as a base64 JPEG: drawn in the page,
// since nothing else at hand writes one.
async function cameraPhoto() {
  const canvas = document.createElement('canvas');
  canvas.width = 4000;
  canvas.height = 3000;
  const context = canvas.getContext('2d');
  const light = context.createLinearGradient(0, 0, 4000, 3000);
  light.addColorStop(0, '#f7a8c4');
  light.addColorStop(1, '#5b7fd6');
  context.fillStyle = light;
  context.fillRect(0, 0, 4000, 3000);
  const blob = await new Promise((resolve) => canvas.toBlob(resolve, 'image/jpeg', 0.9));
  const bytes = new Uint8Array(await blob.arrayBuffer());
  let text = '';
  for (let at = 0; at < bytes.length; at += 0x8000) text += String.fromCharCode(...bytes.subarray(at, at + 0x8000));
  return btoa(text);
}

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
