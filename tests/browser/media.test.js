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
import { sharedSetUp, viewports } from './harness.js';

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
  const fake = path.join(scratch, 'photo.jpg');
  writeFileSync(fake, 'a text file renamed to look like a photo');

  const refused = await upload(fake);
  assert.equal(refused.code, 1);
  assert.match(refused.message, /文件类型不支持/);
  const { address: pictureAddress } = await upload(picture);
  assert.match(pictureAddress, /^http:\/\/.+\/media\/[0-9a-f]{64}\.png$/);
  const { address: songAddress } = await upload(song);
  assert.match(songAddress, /\/media\/[0-9a-f]{64}\.mp3$/);

  const viewport = viewports[0];
  const shown = await site.publish(1, { set: { 'Text1(7)': pictureAddress } });
  await site.visit(shown, viewport, ({ page }) => page.waitForFunction((src) => {
    const img = document.querySelector('#picture');
    return img && img.src === src && img.complete && img.naturalWidth > 0;
  }, pictureAddress, { timeout: 20000 }));

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
