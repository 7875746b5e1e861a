// Long main-thread tasks of a published style while its animations run, on
// the real clock, at both screen sizes, against an empty page measured in
// the same go (the machine's own noise: a busy machine gives both pages long
// tasks, only the style's page can give them through its own work).
//
//   node bench/page_long_tasks.mjs [build dir] [--style N] [--check] [--runs N] [--ms N]
//
// Prints, per screen size, how many runs had long tasks (over 50 ms, after the
// first second), and the median and worst run of their number and longest. HEARTPAGE_ASSETS may
// name another assets folder, to measure a changed page against the tree's.
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  if (at < 0) return fallback;
  const [, value] = args.splice(at, 2);
  return Number(value);
};
const check = args.includes('--check') && args.splice(args.indexOf('--check'), 1).length > 0;
const style = option('--style', 2);
const runs = option('--runs', 5);
const ms = option('--ms', 9000);
const build = path.resolve(args[0] ?? path.join(here, '..', 'build'));
process.env.HEARTPAGE_SERVER ??= path.join(build, 'server', 'heartpage-server');
process.env.HEARTPAGE_CLI ??= path.join(build, 'app', 'heartpage-cli');
process.env.HEARTPAGE_ASSETS ??= path.join(here, '..', 'pages', 'assets');
process.env.HEARTPAGE_VENDOR ??= path.join(build, 'pages', 'assets-vendor');

const { launchBrowser, longTasksAfterFirstSecond, openPage, publish, startServer, viewports } =
  await import('../tests/browser/harness.js');

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

// One run: a fresh browser, as a visitor's first open of the page (the
// browser's own caches, fonts among them, start cold).
async function window(server, address, viewport, busy = false) {
  const browser = await launchBrowser();
  try {
    const { page } = await openPage(browser, server, address, viewport);
    // About the main-thread share of style 2: 2 ms of work every 20 ms.
    if (busy) {
      await page.evaluate(() => setInterval(() => {
        const end = performance.now() + 2;
        while (performance.now() < end);
      }, 20));
    }
    await page.waitForTimeout(ms);
    const tasks = await longTasksAfterFirstSecond(page);
    return { count: tasks.length, longest: Math.round(Math.max(0, ...tasks.map((t) => t.duration))) };
  } finally {
    await browser.close();
  }
}

const server = await startServer();
try {
  const address = await publish(server, style, { check });
  // An empty page kept as busy as a style's; the observer is the harness's.
  const empty = `http://${server.host}/biaobai/none-${process.pid}`;
  for (const viewport of viewports) {
    const page = [];
    const noise = [];
    for (let run = 0; run < runs; ++run) {
      page.push(await window(server, address, viewport));
      noise.push(await window(server, empty, viewport, true));
    }
    const line = (name, results) => {
      const counts = results.map((r) => r.count);
      const longest = results.map((r) => r.longest);
      const marred = counts.filter((count) => count > 0).length;
      return `${name.padEnd(18)} runs with long tasks ${marred}/${results.length}, per run: median` +
        ` ${median(counts)} worst ${Math.max(...counts)}; longest task: median ${median(longest)} ms` +
        ` worst ${Math.max(...longest)} ms`;
    };
    console.log(`${viewport.name} ${viewport.width} x ${viewport.height}, ${runs} runs of ${ms} ms`);
    console.log('  ' + line(`style ${style}${check ? ' + picture' : ''}`, page));
    console.log('  ' + line('busy empty page', noise));
  }
} finally {
  await server.stop();
}
