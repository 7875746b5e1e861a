// The maker in the browser on a phone (390 x 844, Chromium, loopback): the
// weight of everything /make loads before the first tap (bytes as sent,
// gzipped where the site compresses), and how long after her last key the
// preview shows what she typed, the median of --runs bursts of typing.
//
//   node bench/maker_figures.mjs [build dir] [--runs N]
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const at = args.indexOf('--runs');
const runs = at < 0 ? 9 : Number(args.splice(at, 2)[1]);
const build = path.resolve(args[0] ?? path.join(here, '..', 'build'));
process.env.HEARTPAGE_SERVER ??= path.join(build, 'server', 'heartpage-server');
process.env.HEARTPAGE_CLI ??= path.join(build, 'app', 'heartpage-cli');
process.env.HEARTPAGE_ASSETS ??= path.join(here, '..', 'pages', 'assets');
process.env.HEARTPAGE_VENDOR ??= path.join(build, 'pages', 'assets-vendor');

const { launchBrowser, startServer } = await import('../tests/browser/harness.js');

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const server = await startServer();
const browser = await launchBrowser();
try {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
  const page = await context.newPage();
  const cdp = await context.newCDPSession(page);
  await cdp.send('Network.enable');
  const sent = new Map();
  cdp.on('Network.responseReceived', ({ requestId, response }) =>
    sent.set(requestId, { url: response.url, bytes: 0, body: 0 }));
  cdp.on('Network.dataReceived', ({ requestId, encodedDataLength }) => {
    if (sent.has(requestId)) sent.get(requestId).body += encodedDataLength;
  });
  cdp.on('Network.loadingFinished', ({ requestId, encodedDataLength }) => {
    if (sent.has(requestId)) sent.get(requestId).bytes = encodedDataLength;
  });
  await page.goto(`http://${server.host}/make`, { waitUntil: 'networkidle' });
  const before = [...sent.values()];
  const total = before.reduce((sum, entry) => sum + entry.bytes, 0);
  const bodies = before.reduce((sum, entry) => sum + entry.body, 0);
  console.log(`before the first tap: ${before.length} requests, ${(bodies / 1024).toFixed(1)} KB of bodies as sent, ` +
    `${(total / 1024).toFixed(1)} KB with their headers`);
  for (const entry of before) console.log(`  ${(entry.bytes / 1024).toFixed(1).padStart(6)} KB  ${new URL(entry.url).pathname}`);

  await page.locator('#styles button').first().tap();
  const box = page.getByLabel('网页标题', { exact: true });
  await box.waitFor();
  await page.waitForFunction(() => document.querySelectorAll('iframe').length === 1);
  const delays = [];
  for (let run = 0; run < runs; ++run) {
    // The moment each preview frame takes the place of the one before.
    await page.evaluate(() => {
      window.__swaps = [];
      new MutationObserver(() => window.__swaps.push(performance.now()))
        .observe(document.querySelector('.phone'), { subtree: true, attributeFilter: ['id'] });
    });
    await box.fill('');
    await box.pressSequentially(`第${run}次 给小雨的一封信`, { delay: 40 });
    const lastKey = await page.evaluate(() => performance.now());
    await page.waitForFunction((key) => window.__swaps.some((t) => t > key) &&
      document.querySelectorAll('iframe').length === 1, lastKey, { timeout: 10000 });
    const shown = await page.evaluate((key) => window.__swaps.filter((t) => t > key).pop(), lastKey);
    delays.push(Math.round(shown - lastKey));
    await page.waitForTimeout(300);
  }
  console.log(`preview after the last key: median ${median(delays)} ms (runs: ${delays.join(', ')})`);
  // Of which the site's own part: building the page, as its log says.
  const built = [...server.log().matchAll(/POST \/api\/make\/preview 200 \d+ ([\d.]+)ms/g)].map((m) => Number(m[1]));
  if (built.length) console.log(`the site's preview answers: median ${median(built)} ms of ${built.length}`);
} finally {
  await browser.close();
  await server.stop();
}
