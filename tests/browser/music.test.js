// The background music that the pages play: pieces long enough not to be
// heard going round, stereo, and small enough for a phone to fetch; and the
// note button with which the visitor turns it off and on.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { sharedSetUp, soundsPlaying, textUnder, viewports } from './harness.js';

const pieces = ['fg1/bgm.mp3', 'fg2/bgm.mp3', 'fg3/bgm.mp3', 'fg4/bgm.mp3', 'fg5/bgm1.mp3', 'fg5/bgm2.mp3',
  'fg6/bgm.mp3', 'fg7/lovebgm.mp3', 'fg8/bgm.mp3'];

const site = sharedSetUp();

test('every piece of music lasts at least a minute, in stereo, under 1.5 MB', async () => {
  const page = await site.browser.newPage();
  try {
    await page.goto(`http://${site.server.host}/biaobai/fg4/1.png`);
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

const addresses = new Map();
async function published(style) {
  if (!addresses.has(style)) addresses.set(style, await site.publish(style));
  return addresses.get(style);
}

const pressed = (page) => page.locator('#musicSwitch').getAttribute('aria-pressed');
const soundsAre = (page, count) => page.waitForFunction((n) => [...document.querySelectorAll('audio')]
  .filter((a) => !a.paused).length === n, count);

// Presses the button where it stands, as a finger or a mouse would (style 7's
// spins, so it is never "stable" for a locator click).
async function pressButton(page, viewport) {
  const box = await page.locator('#musicSwitch').boundingBox();
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;
  if (viewport.hasTouch) await page.touchscreen.tap(x, y);
  else await page.mouse.click(x, y);
}

// Words under the button, from the top of the page to its end.
async function wordsUnderButton(page, viewport) {
  const found = [];
  const height = await page.evaluate(() => document.documentElement.scrollHeight);
  for (let y = 0; ; y = Math.min(y + viewport.height / 2, height - viewport.height)) {
    await page.evaluate((top) => window.scrollTo(0, top), y);
    for (const text of await textUnder(page, '#musicSwitch')) found.push(`${text} (scrolled ${y})`);
    if (y >= height - viewport.height) break;
  }
  await page.evaluate(() => window.scrollTo(0, 0));
  return found;
}

// The music's bytes that the page fetched so far.
const musicRequests = (requests) => requests.filter((r) => /\.mp3(\?|$)/.test(r.url())).length;

for (const viewport of viewports) {
  test(`every style's music at ${viewport.name} size: nothing fetched before it plays, the first ${
    viewport.hasTouch ? 'tap' : 'key press'} starts one sound, the button is over no words and pauses and resumes`,
  async () => {
    for (let style = 1; style <= 8; ++style) {
      await site.visit(await published(style), viewport, async ({ page, requests }) => {
        // Nothing may run in the page before the gesture: a script run by
        // the test counts as the visitor's activation and lets any play().
        // A finger's tap goes where no link or button stands.
        assert.equal(musicRequests(requests), 0, `style ${style} fetched its music before playing it`);
        if (viewport.hasTouch) {
          await page.touchscreen.tap(viewport.width * 0.08, viewport.height * 0.45);
        } else {
          assert.equal(await pressed(page), 'false', `style ${style}: refused music shows as off`);
          await page.keyboard.press('x');
        }
        await soundsAre(page, 1);
        assert.equal(await soundsPlaying(page), 1, `style ${style}`);
        assert.equal(page.url().split('#')[0], await published(style), `style ${style}: the tap followed a link`);

        const button = page.locator('#musicSwitch');
        assert.deepEqual(
          await button.evaluate((b) => [b.tagName, b.type, b.getAttribute('aria-label'), b.tabIndex >= 0]),
          ['BUTTON', 'button', '背景音乐', true], `style ${style}`);
        assert.equal(await pressed(page), 'true', `style ${style}`);
        assert.deepEqual(await wordsUnderButton(page, viewport), [], `style ${style} at ${viewport.name} size`);
        await pressButton(page, viewport);
        assert.equal(await soundsPlaying(page), 0, `style ${style}: the button did not pause`);
        assert.equal(await pressed(page), 'false');
        await button.focus();
        await page.keyboard.press('Enter');
        await soundsAre(page, 1);
        assert.equal(await pressed(page), 'true');
      });
    }
  });
}

test("music turned off stays off on that page: after a reload, a key press or WeChat's bridge", async () => {
  const viewport = viewports[1];
  await site.visit(await published(4), viewport, async ({ page }) => {
    // Records what the page asks to play, and stands in for WeChat's bridge.
    const watch = () => page.evaluate(() => {
      window.__played = [];
      window.__asked = [];
      const play = HTMLMediaElement.prototype.play;
      HTMLMediaElement.prototype.play = function () {
        window.__played.push(this.tagName);
        return play.call(this);
      };
      window.WeixinJSBridge = { invoke: (name, args, done) => { window.__asked.push(name); done({}); } };
    });
    const bridgeReady = () => page.evaluate(() => {
      document.dispatchEvent(new Event('WeixinJSBridgeReady'));
      return [window.__asked, window.__played];
    });
    await watch();
    assert.deepEqual(await bridgeReady(), [['getNetworkType'], ['AUDIO']], 'the ready bridge starts the music');

    await page.keyboard.press('x');
    await soundsAre(page, 1);
    await pressButton(page, viewport);
    assert.equal(await pressed(page), 'false');
    await page.reload({ waitUntil: 'load' });
    await watch();
    assert.equal(await pressed(page), 'false', 'the choice was forgotten');
    await page.keyboard.press('x');
    assert.deepEqual(await bridgeReady(), [['getNetworkType'], []], 'music turned off came back');
    assert.equal(await soundsPlaying(page), 0);

    await pressButton(page, viewport);
    await soundsAre(page, 1);
    await page.reload({ waitUntil: 'load' });
    await page.keyboard.press('x');
    await soundsAre(page, 1);
  });
});
