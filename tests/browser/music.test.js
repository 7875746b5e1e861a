// The background music that the pages play: pieces long enough not to be
// heard going round, stereo, and small enough for a phone to fetch.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, startServer } from './harness.js';

const pieces = ['fg1/bgm.mp3', 'fg2/bgm.mp3', 'fg3/bgm.mp3', 'fg4/bgm.mp3', 'fg5/bgm1.mp3', 'fg5/bgm2.mp3',
  'fg6/bgm.mp3', 'fg7/lovebgm.mp3', 'fg8/bgm.mp3'];

let server;
let browser;
before(async () => {
  server = await startServer();
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await server?.stop();
});

test('every piece of music lasts at least a minute, in stereo, under 1.5 MB', async () => {
  const page = await browser.newPage();
  try {
    await page.goto(`http://${server.host}/biaobai/fg4/1.png`);
    const found = await page.evaluate(async (paths) => Promise.all(paths.map(async (path) => {
      const url = `/biaobai/${path}`;
      const duration = await new Promise((resolve, reject) => {
        const audio = new Audio();
        audio.preload = 'metadata';
        audio.onloadedmetadata = () => resolve(audio.duration);
        audio.onerror = () => reject(new Error(`${path}: media error ${audio.error?.code}`));
        audio.src = url;
      });
      const bytes = await (await fetch(url)).arrayBuffer();
      const decoded = await new OfflineAudioContext(2, 1, 44100).decodeAudioData(bytes.slice(0));
      return { path, duration, size: bytes.byteLength, channels: decoded.numberOfChannels };
    })), pieces);
    for (const { path, duration, size, channels } of found) {
      assert.ok(duration >= 60, `${path} lasts ${duration} s`);
      assert.ok(size <= 1.5 * 1024 * 1024, `${path} has ${size} bytes`);
      assert.equal(channels, 2, `${path} is not stereo`);
    }
  } finally {
    await page.close();
  }
});
