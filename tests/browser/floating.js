// The floating picture that styles 2 and 3 put in front of their page when
// Check1 is ticked; driven on Playwright's clock (openPage with clock: true).
import assert from 'node:assert/strict';

async function position(page) {
  return page.locator('#floatPicture').evaluate((e) => {
    const box = e.getBoundingClientRect();
    return { x: box.left + scrollX, y: box.top + scrollY };
  });
}

export async function checkFloatingPicture(page, viewport) {
  const box = page.locator('#floatPicture');
  const picture = box.locator('img');
  assert.ok(await picture.evaluate((img) => img.complete && img.naturalWidth > 0), 'picture loaded');
  assert.deepEqual(await picture.evaluate((img) => [img.width, img.height]), [200, 250]);
  assert.equal(await box.locator('a').first().getAttribute('target'), '_blank');

  // It moves one pixel each way every 10 ms.
  const start = await position(page);
  await page.clock.runFor(300);
  const moved = await position(page);
  assert.equal(Math.abs(moved.x - start.x), 30, `moved from ${JSON.stringify(start)} to ${JSON.stringify(moved)}`);
  assert.equal(Math.abs(moved.y - start.y), 30);

  // It turns back at the visible window's edges and never leaves it.
  await page.clock.runFor(6000);
  const later = await position(page);
  const size = await box.evaluate((e) => [e.offsetWidth, e.offsetHeight]);
  assert.ok(later.x >= 0 && later.x + size[0] <= viewport.width, `x ${later.x}`);
  assert.ok(later.y >= 0 && later.y + size[1] <= viewport.height, `y ${later.y}`);

  // Resting under the pointer, moving again once it leaves.
  const bounds = await box.boundingBox();
  await page.mouse.move(bounds.x + 100, bounds.y + 100);
  const rest = await position(page);
  await page.clock.runFor(500);
  assert.deepEqual(await position(page), rest, 'it moved under the pointer');
  await page.mouse.move(viewport.width - 1, viewport.height - 1);
  await page.mouse.move(1, viewport.height - 1);
  await page.clock.runFor(200);
  assert.notDeepEqual(await position(page), rest, 'it stayed after the pointer left');

  // "关闭图片×" hides it.
  const close = box.getByText('关闭图片×');
  await page.clock.runFor(10);
  await close.click();
  assert.equal(await box.isVisible(), false);
}
