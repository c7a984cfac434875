// The zoom's geometry at the image's borders and its limits.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { fit, greyAt, maxScale, minScale, pixelAt, visiblePixels, wheelFactor, zoomAt } from '../../../tools/zeb/view/page/lib/zoom.js';
import { table } from './table.js';

const view = { width: 1000, height: 700 };

test('fit: the whole image, centred, wide or tall', () => {
  assert.deepEqual(fit(view, { width: 500, height: 100 }), { scale: 2, x: 0, y: 250 });
  assert.deepEqual(fit(view, { width: 100, height: 1400 }), { scale: 0.5, x: 475, y: 0 });
  // A line-scan set 16 x 100000 stays at the smallest scale and centred.
  const tall = fit(view, { width: 16, height: 100000 });
  assert.equal(tall.scale, minScale);
  assert.equal(tall.y, (700 - 100000 * minScale) / 2);
  // A single pixel is not blown up beyond the largest scale.
  assert.equal(fit(view, { width: 1, height: 1 }).scale, maxScale);
  assert.deepEqual(fit(view, { width: 0, height: 10 }), { scale: 1, x: 0, y: 0 });
});

test('zooming about a point keeps that point of the image under it', () => {
  const start = { scale: 2, x: 10, y: -30 };
  const before = pixelAt(start, 333, 222, { width: 1000, height: 1000 });
  let zoomed = start;
  for (let i = 0; i < 5; ++i) zoomed = zoomAt(zoomed, 333, 222, wheelFactor(-100));
  const after = pixelAt(zoomed, 333, 222, { width: 1000, height: 1000 });
  assert.deepEqual([after.x, after.y], [before.x, before.y]);
  assert.ok(Math.abs((333 - zoomed.x) / zoomed.scale - (333 - start.x) / start.scale) < 1e-9);
});

test('zoom limits and the wheel', () => {
  let zoomed = { scale: 60, x: 0, y: 0 };
  zoomed = zoomAt(zoomed, 0, 0, 1.25);
  assert.equal(zoomed.scale, maxScale);
  zoomed = zoomAt({ scale: 0.06, x: 5, y: 5 }, 5, 5, 0.8);
  assert.equal(zoomed.scale, minScale);
  assert.deepEqual([zoomed.x, zoomed.y], [5, 5]);
  table(wheelFactor, [[[-1], 1.25], [[3], 0.8], [[0], 1]]); // a sideways wheel does not zoom out
});

test('the pixel under a point at the image borders', () => {
  const image = { width: 4, height: 3 };
  const at = { scale: 10, x: 100, y: 50 };
  // The top left corner, the last pixel, the right and bottom edges, just left and just above.
  table((x, y) => pixelAt(at, x, y, image), [[[100, 50], { x: 0, y: 0, inside: true }],
    [[139.999, 79.999], { x: 3, y: 2, inside: true }], [[140, 60], { x: 4, y: 1, inside: false }],
    [[120, 80], { x: 2, y: 3, inside: false }], [[99.5, 60], { x: -1, y: 1, inside: false }],
    [[120, 49.9], { x: 2, y: -1, inside: false }]]);
});

test('the pixels a view shows, clamped to the image', () => {
  const image = { width: 640, height: 480 };
  // Scrolled into the middle at 16 x: partly shown pixels at both ends count, a pixel that starts
  // at the view's edge does not.
  assert.deepEqual(visiblePixels({ scale: 16, x: -1000, y: -500 }, view, image),
    { first: { x: 62, y: 31 }, last: { x: 124, y: 74 } });
  assert.deepEqual(visiblePixels({ scale: 16, x: -1001, y: -501 }, view, image),
    { first: { x: 62, y: 31 }, last: { x: 125, y: 75 } });
  // The image's far corner in view: the range ends at its last pixel.
  assert.deepEqual(visiblePixels({ scale: 16, x: -9800, y: -7200 }, view, image).last, { x: 639, y: 479 });
  // The image left of the view: nothing to write.
  const gone = visiblePixels({ scale: 16, x: -20000, y: 0 }, view, image);
  assert.ok(gone.last.x < gone.first.x);
});

test('grey at a point: the red byte of RGBA, nothing outside', () => {
  const rgba = Uint8ClampedArray.from([10, 10, 10, 255, 20, 20, 20, 255, 30, 30, 30, 255, 255, 0, 0, 255]);
  // The last pixel is saturated, though shown red; (2, 0) would wrap to the next row.
  table((x, y) => greyAt(rgba, 2, x, y), [[[0, 0], 10], [[1, 0], 20], [[0, 1], 30], [[1, 1], 255],
    [[2, 0], null], [[0, 2], null], [[-1, 0], null], [[0.5, 0], null]]);
});
