// The sender's own files in a published page: a picture sent with
// `heartpage-cli upload` shows in the page, and a song sent the same way plays
// and seeks (range requests answered 206) in it. A page taken down answers
// 410 until it is published again.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { copyFileSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';
import { screenshot, sharedSetUp, viewports } from './harness.js';

const run = promisify(execFile);
const site = sharedSetUp();
const scratch = mkdtempSync(path.join(tmpdir(), 'heartpage-media-'));
after(() => rmSync(scratch, { recursive: true, force: true }));

// heartpage-cli upload, as a script would: the address, or the refusal.
async function upload(file, machine = 'browser-media') {
  const env = { ...process.env, HEARTPAGE_HOST: site.server.host };
  try {
    const { stdout } = await run(process.env.HEARTPAGE_CLI, ['upload', file, '--machine-id', machine], { env });
    return { address: stdout.trim() };
  } catch (error) {
    return { code: error.code, message: error.stderr };
  }
}

test('own picture and song show, play and seek in the published page', async () => {
  // Named like anything: the type is told from the bytes.
  const picture = path.join(scratch, 'mine.dat');
  copyFileSync(path.join(process.env.HEARTPAGE_ASSETS, 'fg4/1.png'), picture);
  const song = path.join(scratch, 'song');
  copyFileSync(path.join(process.env.HEARTPAGE_ASSETS, 'fg1/bgm.mp3'), song);
  const film = path.join(scratch, 'film');
  copyFileSync(path.join(process.env.HEARTPAGE_ASSETS, 'fg1/mv.mp4'), film);
  const fake = path.join(scratch, 'photo.jpg');
  writeFileSync(fake, 'a text file renamed to look like a photo');

  const refused = await upload(fake);
  assert.equal(refused.code, 1);
  assert.match(refused.message, /文件类型不支持/);
  const { address: pictureAddress } = await upload(picture);
  assert.match(pictureAddress, /^http:\/\/.+\/media\/[0-9a-f]{64}\.png$/);
  const { address: songAddress } = await upload(song);
  assert.match(songAddress, /\/media\/[0-9a-f]{64}\.mp3$/);
  const { address: filmAddress } = await upload(film);
  assert.match(filmAddress, /\/media\/[0-9a-f]{64}\.mp4$/);

  const viewport = viewports[0];
  const shown = await site.publish(1, { set: { 'Text1(7)': pictureAddress, 'Text1(8)': filmAddress } });
  await site.visit(shown, viewport, async ({ page }) => {
    await page.waitForFunction((src) => {
      const img = document.querySelector('#picture');
      return img && img.src === src && img.complete && img.naturalWidth > 0;
    }, pictureAddress, { timeout: 20000 });
    await page.waitForFunction((src) => {
      const video = document.querySelector('#mv video');
      return video && video.src === src && video.readyState >= 1;
    }, filmAddress, { timeout: 20000 });
  });

  const played = await site.publish(2, { set: { 'Text1(8)': songAddress } });
  await site.visit(played, viewport, async ({ page, requests }) => {
    assert.equal(await page.evaluate(() => document.querySelector('audio source').src), songAddress);
    await page.mouse.click(5, 5);
    await page.waitForFunction(() => {
      const audio = document.querySelector('audio');
      return !audio.paused && audio.currentTime > 0.2;
    }, null, { timeout: 20000 });
    await page.evaluate(() => new Promise((resolve) => {
      const audio = document.querySelector('audio');
      audio.addEventListener('seeked', resolve, { once: true });
      audio.currentTime = 45;
    }));
    await page.waitForFunction(() => document.querySelector('audio').currentTime > 45.2, null,
      { timeout: 20000 });
    const ranged = [];
    for (const request of requests) {
      if (request.url() !== songAddress) continue;
      const response = await request.response();
      if ((await request.allHeaders()).range && response?.status() === 206) ranged.push(request);
    }
    assert.ok(ranged.length > 0, 'the song was never asked for by range');
  });
});

// A file's address sent on its own (in a message, say) opens in the browser's
// own viewer: the picture shows, the song and the film play, and yet nothing
// served there could run a script.
test('own files opened at their own addresses show and play', async () => {
  const files = { 'fg4/1.png': 'img', 'fg1/bgm.mp3': 'video, audio', 'fg1/mv.mp4': 'video' };
  const page = await site.browser.newPage();
  const blocked = [];
  page.on('console', (message) => {
    if (/Security Policy|CORS|blocked/i.test(message.text())) blocked.push(message.text());
  });
  try {
    for (const [asset, viewer] of Object.entries(files)) {
      const file = path.join(scratch, path.basename(asset));
      copyFileSync(path.join(process.env.HEARTPAGE_ASSETS, asset), file);
      const { address } = await upload(file, 'browser-media-direct');
      const answer = await page.goto(address);
      assert.equal(answer.status(), 200);
      if (viewer === 'img') {
        await page.waitForFunction(() => {
          const img = document.querySelector('img');
          return img && img.complete && img.naturalWidth > 0;
        }, null, { timeout: 20000 });
      } else {
        await page.waitForFunction((selector) => {
          const media = document.querySelector(selector);
          return media && media.readyState >= 1;
        }, viewer, { timeout: 20000 });
        await page.mouse.click(5, 5);
        await page.evaluate((selector) => document.querySelector(selector).play(), viewer);
        await page.waitForFunction((selector) => document.querySelector(selector).currentTime > 0.2,
          viewer, { timeout: 20000 });
        await screenshot(page, `media-opened-${path.extname(asset).slice(1)}`);
      }
      const headers = answer.headers();
      assert.equal(headers['x-content-type-options'], 'nosniff');
      assert.match(headers['content-security-policy'], /default-src 'none'/);
      assert.doesNotMatch(headers['content-security-policy'], /script-src|unsafe-eval/);
    }
    assert.deepEqual(blocked, []);
  } finally {
    await page.close();
  }
});

test('a page taken down answers 410 until it is published again', async () => {
  const address = await site.publish(3);
  const name = address.split('/').pop();
  const env = { ...process.env, HEARTPAGE_HOST: site.server.host };
  const machine = ['--machine-id', `browser-${name}`];
  await run(process.env.HEARTPAGE_CLI, ['unpublish', ...machine], { env });
  const page = await site.browser.newPage();
  try {
    const gone = await page.goto(address);
    assert.equal(gone.status(), 410);
    assert.match(await page.locator('body').innerText(), /这个网页已被它的主人撤下/);
    await run(process.env.HEARTPAGE_CLI, ['publish', '--style', '3', ...machine], { env });
    assert.equal((await page.goto(address)).status(), 200);
  } finally {
    await page.close();
  }
});
