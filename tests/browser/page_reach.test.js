// What a published page's script may reach although it runs in an origin of
// its own: its site's two paths for what comes back from it, and their
// answers, but nothing else of the site.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { sharedSetUp, openPage, viewports } from './harness.js';

const site = sharedSetUp();

test('a page sends its opening and answer to its site, and nothing else', async () => {
  const address = await site.publish(1, { question: '在吗？' });
  const name = new URL(address).pathname.split('/').pop();
  const { context, page } = await openPage(site.browser, site.server, address, viewports[0]);
  try {
    const reached = await page.evaluate(async (name) => {
      const post = (path, body) => fetch(path, {
        method: 'POST', body, headers: { 'Content-Type': 'text/plain;charset=UTF-8' },
      }).then((response) => response.status, () => 'blocked');
      return {
        origin: window.origin,
        answer: await post(`/api/answer/${name}`, 'answer=1'),
        opened: await post(`/api/opened/${name}`, ''),
        endpoint: await post('/asp/index.asp', 'zc=49'),
        media: await post('/api/media', 'x'),
        beside: await post(`/api/answers/${name}`, 'answer=1'),
        itself: await fetch(location.href).then((response) => response.status, () => 'blocked'),
      };
    }, name);
    assert.deepEqual(reached, {
      origin: 'null', answer: 204, opened: 204,
      endpoint: 'blocked', media: 'blocked', beside: 'blocked', itself: 'blocked',
    });
  } finally {
    await context.close();
  }
});
