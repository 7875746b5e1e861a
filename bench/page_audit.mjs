// What a phone makes of each published style: the layout shifts that add up
// over 15 s at 390 x 844 on the real clock (cumulative layout shift, all
// shifts the visitor did not cause), and, where bench/node_modules holds
// Lighthouse (npm ci --prefix bench), its mobile scores for performance,
// accessibility and best practices against Debian's Chromium, the median
// of three runs (--runs) with each run's scores beside it.
//
//   node bench/page_audit.mjs [build dir] [--style N] [--ms N] [--runs N] [--maker | --gates]
//
// --maker audits the maker in the browser instead: /make, a style's form
// (/make?style=1) and 我的网页 as her 管理链接 opens it on another phone, a
// page published and answered, Lighthouse's scores only. --gates audits
// what a page held back shows in its place: the waiting page (a moment a
// day away) and the page asking for its code, of style N (default 1).
//
// HEARTPAGE_ASSETS may name another assets folder, to measure a changed page
// against the tree's.
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
const maker = args.includes('--maker');
if (maker) args.splice(args.indexOf('--maker'), 1);
const gates = args.includes('--gates');
if (gates) args.splice(args.indexOf('--gates'), 1);
const only = option('--style', 0);
const ms = option('--ms', 15000);
const runs = option('--runs', 3);
const build = path.resolve(args[0] ?? path.join(here, '..', 'build'));
process.env.HEARTPAGE_SERVER ??= path.join(build, 'server', 'heartpage-server');
process.env.HEARTPAGE_CLI ??= path.join(build, 'app', 'heartpage-cli');
process.env.HEARTPAGE_ASSETS ??= path.join(here, '..', 'pages', 'assets');
process.env.HEARTPAGE_VENDOR ??= path.join(build, 'pages', 'assets-vendor');

const { chromiumArgs, launchBrowser, openPage, publish, publishWithSettings, startServer, utcText, viewports } =
  await import('../tests/browser/harness.js');

let lighthouse = null;
try {
  lighthouse = (await import(path.join(here, 'node_modules', 'lighthouse', 'core', 'index.js'))).default;
} catch {
  console.log('Lighthouse is not installed in bench/node_modules (npm ci --prefix bench): layout shifts only');
}

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : Math.round((sorted[middle - 1] + sorted[middle]) / 2);
};

// One Lighthouse run of the page: its scores and figures, or null. A run
// that Lighthouse could not finish scores its categories null, which would
// read as 0: its error is printed and the run made once more; a second
// failure leaves the run out rather than wrong.
async function audit(address, what) {
  for (let attempt = 1; attempt <= 2; ++attempt) {
    const { lhr } = await lighthouse(address, {
      port: chrome.port,
      output: 'json',
      logLevel: 'error',
      onlyCategories: ['performance', 'accessibility', 'best-practices'],
    });
    const unscored = Object.values(lhr.categories).some((c) => typeof c.score !== 'number');
    const failed = lhr.runtimeError ?? (unscored ? { code: 'NO_SCORE', message: 'a category has no score' } : null);
    if (failed) {
      console.error(`${what}, attempt ${attempt}: Lighthouse failed: ${failed.code}: ${failed.message}`);
      continue;
    }
    const figures = {};
    for (const [name, category] of Object.entries(lhr.categories)) figures[name] = Math.round(category.score * 100);
    for (const metric of ['first-contentful-paint', 'largest-contentful-paint', 'total-blocking-time', 'speed-index'])
      figures[metric] = Math.round(lhr.audits[metric].numericValue);
    const failing = Object.values(lhr.audits)
      .filter((a) => a.score !== null && a.score < 0.9 && a.scoreDisplayMode === 'binary')
      .map((a) => a.id);
    return { figures, failing };
  }
  return null;
}

const phone = viewports.find((v) => v.name === 'phone');

// A page published in the maker and answered by its reader: answers the
// 管理链接 that shows it in 我的网页.
async function answeredPage() {
  const context = await browser.newContext({ viewport: phone, isMobile: true, hasTouch: true });
  try {
    const page = await context.newPage();
    await page.goto(`http://${server.host}/make?style=1`, { waitUntil: 'load' });
    await page.getByLabel('网页标题', { exact: true }).fill('给小雨的一封信');
    await page.getByLabel('对方名字', { exact: true }).fill('小雨');
    await page.getByLabel('问TA一句', { exact: true }).fill('做我女朋友好吗？');
    const name = `audit${Date.now() % 100000}`;
    await page.getByLabel('请输入上传文件名').fill(name);
    await page.getByText('这个名字可以使用').waitFor();
    await page.getByRole('button', { name: '确认上传' }).tap();
    await page.getByText('上传成功！').waitFor();
    const link = await page.locator('#manage-link').inputValue();
    // The reader opens it and answers, as her page sends it.
    await fetch(`http://${server.host}/Test/${name}`);
    const answered = await fetch(`http://${server.host}/api/answer/${name}`, {
      method: 'POST', headers: { 'Content-Type': 'text/plain;charset=UTF-8' }, body: 'answer=1' });
    if (!answered.ok) console.error(`the answer was refused: ${answered.status} ${await answered.text()}`);
    return link;
  } finally {
    await context.close();
  }
}
const server = await startServer();
const browser = await launchBrowser();
let chrome = null;
try {
  if (lighthouse) {
    const { launch } = await import(path.join(here, 'node_modules', 'chrome-launcher', 'dist', 'index.js'));
    chrome = await launch({
      chromePath: process.env.CHROMIUM || '/usr/bin/chromium',
      chromeFlags: ['--headless=new', ...chromiumArgs],
    });
  }
  const heldBack = (settings) => publishWithSettings(server, only || 1, settings);
  const makerPages = !chrome ? [] : maker
    ? [`http://${server.host}/make`, `http://${server.host}/make?style=1`, await answeredPage()]
    : gates ? [await heldBack({ opens: utcText(Date.now() + 86400e3) }),
      await heldBack({ code: 'Shanghai', hint: '我们第一次见面的城市？' })] : [];
  for (const [at, address] of makerPages.entries()) {
    if (!chrome) break;
    const scored = [];
    for (let run = 1; run <= runs; ++run) {
      const one = await audit(address, `${address}, run ${run}`);
      if (one) scored.push(one);
    }
    if (!scored.length) continue;
    const { pathname, search, hash } = new URL(address);
    // Her key stays out of what is printed.
    const row = gates ? { page: at === 0 ? 'waiting' : 'asking for the code' }
      : { address: pathname + search + (hash ? '#key=… (我的网页)' : '') };
    for (const key of Object.keys(scored[0].figures)) row[key] = median(scored.map((one) => one.figures[key]));
    row.runs = scored.map((one) => [one.figures.performance, one.figures.accessibility, one.figures['best-practices']]);
    row.failing = [...new Set(scored.flatMap((one) => one.failing))];
    console.log(JSON.stringify(row));
  }
  for (let style = 1; style <= (maker || gates ? 0 : 8); ++style) {
    if (only && style !== only) continue;
    const address = await publish(server, style);
    const { context, page } = await openPage(browser, server, address, phone);
    let shift;
    try {
      await page.waitForTimeout(ms);
      shift = await page.evaluate(() => window.__layoutShift);
    } finally {
      await context.close();
    }
    const row = { style, layoutShift: Number(shift.toFixed(3)) };
    if (chrome) {
      // One run's scores move with the machine's load (a busy moment costs a
      // style its blocking time): each is taken `runs` times and the median
      // printed, with every run's scores beside it.
      const scored = [];
      for (let run = 1; run <= runs; ++run) {
        const one = await audit(address, `style ${style}, run ${run}`);
        if (one) scored.push(one);
      }
      if (!scored.length) {
        row.error = 'Lighthouse failed on every run';
        console.log(JSON.stringify(row));
        continue;
      }
      for (const key of Object.keys(scored[0].figures))
        row[key] = median(scored.map((one) => one.figures[key]));
      row.runs = scored.map((one) => [one.figures.performance, one.figures.accessibility, one.figures['best-practices']]);
      row.failing = [...new Set(scored.flatMap((one) => one.failing))];
    }
    console.log(JSON.stringify(row));
  }
} finally {
  await chrome?.kill();
  await browser.close();
  await server.stop();
}
