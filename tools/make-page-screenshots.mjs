#!/usr/bin/env node
// Screenshots of the eight published pages as their recipient sees them, on
// a phone (390 x 844, touch, device scale 2), on a phone on its side
// (844 x 390) and on a desktop (1280 x 800),
// into docs/screenshots/pages/. Uses the browser tests' tooling: a real
// heartpage-server and heartpage-cli from the build, Chromium from Debian.
// Usage: node tools/make-page-screenshots.mjs [BUILD_DIR]   (default: build)
// Optional: imagemagick, to store the pictures in 256 colours.
import { execFileSync } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const build = path.resolve(process.argv[2] || path.join(root, 'build'));
process.env.HEARTPAGE_SERVER ??= path.join(build, 'server/heartpage-server');
process.env.HEARTPAGE_CLI ??= path.join(build, 'app/heartpage-cli');
process.env.HEARTPAGE_ASSETS ??= path.join(root, 'pages/assets');
process.env.HEARTPAGE_VENDOR ??= path.join(build, 'pages/assets-vendor');
const { launchBrowser, publish, startServer } = await import('../tests/browser/harness.js');

const sizes = [
  { name: 'phone', viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true, deviceScaleFactor: 2 },
  { name: 'phone-side', viewport: { width: 844, height: 390 }, isMobile: true, hasTouch: true, deviceScaleFactor: 2 },
  { name: 'desktop', viewport: { width: 1280, height: 800 }, isMobile: false, hasTouch: false, deviceScaleFactor: 1 },
];
// What a visitor does before the picture is taken, and how long they watch.
const visits = {
  1: async (page) => page.waitForTimeout(3000),
  2: async (page) => page.waitForTimeout(14000),
  3: async (page) => {
    const box = await page.locator('#canvas').boundingBox();
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    await page.waitForTimeout(30000);
  },
  4: async (page) => page.waitForTimeout(2500),
  5: async (page) => page.waitForTimeout(9000),
  6: async (page) => page.waitForTimeout(3000),
  7: async (page) => {
    await page.waitForTimeout(1000);
    for (let i = 0; i < 4; ++i) await page.keyboard.press('ArrowDown');
    await page.waitForTimeout(2000);
  },
  8: async (page) => page.waitForTimeout(7500),
};

const out = path.join(root, 'docs/screenshots/pages');
mkdirSync(out, { recursive: true });
const server = await startServer();
const browser = await launchBrowser();
try {
  for (let style = 1; style <= 8; ++style) {
    const address = await publish(server, style);
    for (const size of sizes) {
      const { name, ...options } = size;
      const context = await browser.newContext(options);
      const page = await context.newPage();
      await page.goto(address, { waitUntil: 'load' });
      await visits[style](page);
      const file = path.join(out, `style${style}-${name}.png`);
      await page.screenshot({ path: file });
      // 256 colours keep the pictures a quarter of their size (ImageMagick).
      try {
        execFileSync('convert', [file, '-strip', '-quantize', 'Lab', '-colors', '256', 'PNG8:' + file]);
      } catch { /* kept as taken */ }
      await context.close();
    }
  }
} finally {
  await browser.close();
  await server.stop();
}
