// Every text field of every style, filled with quotes, an apostrophe, a
// script's end tag and an unclosed tag: the page still runs and shows each
// value as typed. Style 4's colours, in every form the boxes accept, reach
// the page; a letter typed with Enter keeps its lines; an address that would
// run a script is no link.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { promisify } from 'node:util';
import { sharedSetUp, viewports } from './harness.js';

const run = promisify(execFile);
const desktop = viewports[0];

// The style's table as the program has it: [name, kind] per field.
async function fields(style) {
  const { stdout } = await run(process.env.HEARTPAGE_CLI, ['fields', '--style', String(style)]);
  return stdout.trim().split('\n').map((line) => line.split('\t').slice(0, 2));
}

// The value the faults were found with, told apart per field by a number.
const hostile = (i) => `他说"我爱你${i}"，it's </script><b>`;

// Everything the page shows or holds as text: the page's own markup read by
// the browser without running it (texts, titles, attributes, addresses'
// parts), the strings its scripts keep, and the note a right-click shows.
async function everythingShown(page, address) {
  // The published page runs in a sandbox that may not fetch itself.
  const source = [...new Uint8Array(await (await fetch(address)).arrayBuffer())];
  const parsed = await page.evaluate(async (bytes) => {
    const html = new TextDecoder('gbk').decode(new Uint8Array(bytes));
    const doc = new DOMParser().parseFromString(html, 'text/html');
    for (const element of doc.querySelectorAll('script, style')) element.remove();
    const texts = [doc.documentElement.textContent];
    for (const element of doc.querySelectorAll('*')) {
      for (const { name, value } of element.attributes) {
        texts.push(value);
        if (name === 'href' || name === 'src' || name.startsWith('data-')) {
          try { texts.push(decodeURIComponent(value)); } catch { /* not an address */ }
        }
      }
    }
    const held = [];
    const collect = (value, depth) => {
      if (typeof value === 'string') held.push(value);
      else if (depth > 0 && value && typeof value === 'object' && !(value instanceof Node) && value !== window)
        for (const item of Object.values(value)) collect(item, depth - 1);
    };
    for (const key of Object.keys(window)) {
      try { collect(window[key], 2); } catch { /* a property that refuses reading */ }
    }
    return texts.concat(held);
  }, source);
  if (await page.locator('#note').count()) {
    await page.mouse.click(desktop.width / 2, 40, { button: 'right' });
    await page.locator('#note.shown').waitFor();
    parsed.push(await page.locator('#note').textContent());
  }
  return parsed.join('\n');
}

describe('fields', () => {
  const site = sharedSetUp();

  for (let style = 1; style <= 8; ++style) {
    test(`style ${style}: every text field holds quotes, </script> and <b> and shows them`, async () => {
      const table = await fields(style);
      const set = {};
      table.forEach(([name, kind], i) => { if (kind === 'text' || kind === 'markup') set[name] = hostile(i); });
      // A link address that would run a script, and a colour without its "#".
      if (style === 2) set['Text1(7)'] = 'javascript:document.title="x"';
      if (style === 6) set['Text7(17)'] = 'abcdef';
      const address = await site.publish(style, { check: style === 2, set });

      await site.visit(address, desktop, async ({ page }) => {
        const shown = await everythingShown(page, address);
        table.forEach(([name, kind], i) => {
          if (kind !== 'text' && kind !== 'markup') return;
          // A box meant for HTML keeps its <b>, closed at once.
          const expected = kind === 'markup' ? hostile(i).replace(/<b>$/, '') : hostile(i);
          assert.ok(shown.includes(expected), `${name} (${kind}) does not show ${expected}`);
        });
        const bold = await page.evaluate(() => [...document.querySelectorAll('b')].map((b) => b.textContent));
        assert.ok(bold.every((text) => text === ''), `text turned bold: ${bold}`);
        if (style === 2) {
          const link = await page.locator('#floatPicture a').first().getAttribute('href');
          assert.ok(!/script:/i.test(link), `the picture links to ${link}`);
        }
        if (style === 6) {
          assert.equal(await page.evaluate(() => getComputedStyle(document.body).backgroundColor),
            'rgb(171, 205, 239)');
        }
      });
    });
  }

  test('style 4: both colours, typed with or without "#", short or long, reach the page', async () => {
    const forms = [
      { background: '00ff00', text: '#F00', rgb: ['rgb(0, 255, 0)', 'rgb(255, 0, 0)'] },
      { background: '#123456', text: '0F0', rgb: ['rgb(18, 52, 86)', 'rgb(0, 255, 0)'] },
    ];
    for (const { background, text, rgb } of forms) {
      const address = await site.publish(4, { set: { 'Text8(43)': background, 'Text8(44)': text } });
      await site.visit(address, desktop, async ({ page }) => {
        const colours = await page.evaluate(() => {
          const card = document.querySelector('.card');
          return [getComputedStyle(document.body).backgroundColor, getComputedStyle(card).backgroundColor,
            getComputedStyle(card.querySelector('em')).color];
        });
        assert.deepEqual(colours, [rgb[0], rgb[0], rgb[1]], `${background} and ${text}`);
      });
    }
  });

  test('style 2: a letter typed with Enter shows its lines', async () => {
    const address = await site.publish(2, { set: { 'Text1(2)': '第一行\r\n第二行\n第三行' } });
    await site.visit(address, desktop, { clock: true }, async ({ page }) => {
      await page.clock.runFor(30000);
      const lines = await page.locator('#code').innerText();
      assert.match(lines, /第一行\n第二行\n第三行/);
    });
  });
});
