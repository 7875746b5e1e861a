// The maker after sending, on a phone: the page published, answered by its
// reader elsewhere, the answer learnt by the maker's own watch without a
// reload, the poster saved and its QR code read back, the page published
// again with another question keeping the first answer, taken down, and
// found again from the 管理链接 in a browser that never saw it.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { copyFileSync, mkdtempSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';
import { screenshot, sharedSetUp, waitForText } from './harness.js';

const run = promisify(execFile);
const phone = { name: 'phone', width: 390, height: 844, isMobile: true, hasTouch: true };
const name = `mine${Date.now() % 100000}`;

// A phone's context whose clock runs as the real one until the test moves
// it on: the maker's watch then turns at once, and asks the real server.
async function phoneContext(site) {
  const context = await site.browser.newContext({
    viewport: { width: phone.width, height: phone.height }, isMobile: true, hasTouch: true,
    deviceScaleFactor: 1, acceptDownloads: true,
  });
  await context.clock.install();
  const page = await context.newPage();
  const problems = [];
  page.on('console', (m) => m.type() === 'error' && problems.push(`console error: ${m.text()}`));
  page.on('pageerror', (e) => problems.push(`uncaught: ${e.message}`));
  page.on('dialog', (d) => { problems.push(`dialog: ${d.message()}`); d.dismiss().catch(() => {}); });
  return { context, page, problems };
}

// The recipient reads the page to its end and taps `answer`.
async function answerAs(site, address, answer) {
  await site.visit(address, phone, { clock: true }, async ({ page }) => {
    await page.clock.runFor(5000);
    await page.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
    for (let waited = 0; !(await page.locator('#hpq.hpq-open, #hpq.hpq-folded').count()); waited += 4000) {
      assert.ok(waited < 600000, `the question never came up: ${await page.evaluate(() => document.body.innerHTML.slice(-600))}`);
      await page.clock.runFor(4000);
    }
    if (await page.locator('#hpq.hpq-folded').count()) await page.locator('#hpq-bar').tap();
    const sent = page.waitForResponse((r) => r.url().endsWith(`/api/answer/${name}`));
    await page.getByRole('button', { name: answer }).tap();
    assert.ok((await sent).ok());
  });
}

function pngSize(file) {
  const bytes = readFileSync(file);
  return [bytes.readUInt32BE(16), bytes.readUInt32BE(20)];
}

describe('我的网页 in the maker', () => {
  const site = sharedSetUp({ serverArgs: ['--visits-per-minute', '0'] });

  test('her answer reaches her pages, the poster opens the page, and her link finds it anywhere', async () => {
    const host = `http://${site.server.host}`;
    const address = `${host}/Test/${name}`;
    const maker = await phoneContext(site);
    const { page } = maker;
    let link;
    try {
      await page.goto(`${host}/make?style=1`, { waitUntil: 'load' });
      await page.getByLabel('网页标题', { exact: true }).fill('给小雨的一封信');
      // Her own words where the sample stood: nothing is left to weigh.
      await page.getByLabel('对方名字', { exact: true }).fill('小雨');
      const question = '做我女朋友好吗？';
      await page.getByLabel('问TA一句', { exact: true }).fill(question);
      await page.getByLabel('请输入上传文件名').fill(name);
      await waitForText(page, '这个名字可以使用');
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '上传成功！');
      link = await page.locator('#manage-link').inputValue();

      await page.getByRole('button', { name: '我的网页' }).tap();
      const item = page.locator(`#mine-pages li[data-name="${name}"]`);
      await item.getByText('还没有人打开').waitFor();
      assert.equal(await item.locator('input').inputValue(), address);
      await item.locator('.qr svg[role=img]').waitFor();

      await answerAs(site, address, '我愿意');
      // The maker's watch turns on its own clock, moved on here; what it
      // asks is asked of the real server.
      const asked = page.waitForResponse((r) => r.url().endsWith('/api/make/receipts'));
      await page.clock.fastForward(31000);
      await asked;
      await waitForText(page, '❤ TA的回答：我愿意');
      await item.getByText(/已打开 1 次 · 最近 .* · TA的回答：我愿意/).waitFor();
      await screenshot(page, 'maker-mine');

      const folder = mkdtempSync(path.join(tmpdir(), 'poster-'));
      const saved = page.waitForEvent('download');
      await item.getByRole('button', { name: '保存海报' }).tap();
      const poster = path.join(folder, 'poster.png');
      await (await saved).saveAs(poster);
      assert.deepEqual(pngSize(poster), [1080, 1920]);
      const { stdout } = await run('zbarimg', ['--raw', '-q', poster]);
      assert.equal(stdout.trim(), address);
      copyFileSync(poster, path.join(process.env.HEARTPAGE_ARTEFACTS || folder, 'maker-poster.png'));

      // Published again with another question: the first answer stays, as
      // the earlier version's.
      await item.getByRole('button', { name: '修改并重新发布' }).tap();
      await page.getByLabel('请输入上传文件名').waitFor();
      assert.equal(await page.getByLabel('请输入上传文件名').inputValue(), name);
      await page.getByLabel('问TA一句', { exact: true }).fill('周末一起看电影吗？');
      await page.getByLabel('请输入上传文件名').fill(name);
      await waitForText(page, '将替换当前网页（TA的回答会保留）');
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '上传成功！');
      await page.getByRole('button', { name: '我的网页' }).tap();
      await item.getByText(`上一版：“${question}” TA的回答：我愿意`).waitFor();
      await item.getByText('问题：周末一起看电影吗？').waitFor();

      // A phone without her draft edits what the server read back out of
      // the page online.
      await site.visit(link, phone, async ({ page: other }) => {
        await other.locator(`#mine-pages li[data-name="${name}"]`).getByRole('button', { name: '修改并重新发布' }).tap();
        await other.getByLabel('请输入上传文件名').waitFor();
        assert.equal(await other.getByLabel('问TA一句', { exact: true }).inputValue(), '周末一起看电影吗？');
        assert.equal(await other.getByLabel('网页标题', { exact: true }).inputValue(), '给小雨的一封信');
        assert.equal(await other.getByLabel('请输入上传文件名').inputValue(), name);
      });

      // Asked first; taken down only once she says so.
      await item.getByRole('button', { name: '撤下网页' }).tap();
      await page.getByText('确定撤下网页吗？撤下后对方将无法打开。').waitFor();
      await page.locator('#mine-ask').getByRole('button', { name: '取消' }).tap();
      assert.equal((await fetch(address)).status, 200);
      await item.getByRole('button', { name: '撤下网页' }).tap();
      await page.locator('#mine-ask').getByRole('button', { name: '撤下网页' }).tap();
      await waitForText(page, '网页已撤下！');
      await item.getByText('名字仍属于您，网页目前不在线上').waitFor();
      assert.equal((await fetch(address)).status, 410);
      assert.deepEqual(maker.problems, []);
    } finally {
      await maker.context.close();
    }

    // Another phone: the link opens her pages; a key of its own owns nothing.
    await site.visit(link, phone, async ({ page: other }) => {
      await other.locator(`#mine-pages li[data-name="${name}"]`).waitFor();
      assert.equal(other.url(), `${host}/make?mine`);
    });
    await site.visit(`${host}/make?mine`, phone, async ({ page: fresh }) => {
      await waitForText(fresh, '这把网页钥匙下还没有网页');
    });
    assert.equal(site.server.log().includes(link.split('#key=')[1]), false);
  });
  test('a page asking for its code shows none of what it holds on its poster', async () => {
    const held = `held${Date.now() % 100000}`;
    const host = `http://${site.server.host}`;
    const maker = await phoneContext(site);
    const { page } = maker;
    try {
      await page.goto(`${host}/make?style=1`, { waitUntil: 'load' });
      await page.getByLabel('网页标题', { exact: true }).fill('只给你看的信');
      await page.getByLabel('对方名字', { exact: true }).fill('小雨');
      await page.getByLabel('开启口令').fill('第一次看海');
      await page.getByLabel('口令提示').fill('我们第一次约会的地方');
      await page.getByLabel('请输入上传文件名').fill(held);
      await waitForText(page, '这个名字可以使用');
      await page.getByRole('button', { name: '确认上传' }).tap();
      await waitForText(page, '上传成功！');
      await page.getByRole('button', { name: '我的网页' }).tap();
      const item = page.locator(`#mine-pages li[data-name="${held}"]`);
      await item.getByText('需要口令才能打开').waitFor();
      // Everything the poster puts on its canvas, words and pictures.
      await page.evaluate(() => {
        const drawn = window.__drawn = [];
        const context = CanvasRenderingContext2D.prototype;
        const { fillText, drawImage } = context;
        context.fillText = function (text, ...rest) {
          drawn.push(String(text));
          return fillText.call(this, text, ...rest);
        };
        context.drawImage = function (image, ...rest) {
          drawn.push(`picture ${image.src ?? image.tagName}`);
          return drawImage.call(this, image, ...rest);
        };
      });
      const saved = page.waitForEvent('download');
      await item.getByRole('button', { name: '保存海报' }).tap();
      const poster = path.join(mkdtempSync(path.join(tmpdir(), 'poster-')), 'held.png');
      await (await saved).saveAs(poster);
      const drawn = await page.evaluate(() => window.__drawn);
      assert.ok(drawn.join('').includes('有一份心意，等你打开'), drawn.join(' | '));
      assert.deepEqual(drawn.filter((what) => /小雨|只给你看的信|\/(media|artwork)\//.test(what)), []);
      const { stdout } = await run('zbarimg', ['--raw', '-q', poster]);
      assert.equal(stdout.trim(), `${host}/Test/${held}`);
      assert.deepEqual(maker.problems, []);
    } finally {
      await maker.context.close();
    }
  });
});
