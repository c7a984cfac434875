// Histogram bars, the clipping threshold and the preview's scale factor.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { barColour, barHeights, clippingHint, clippingPercent, isClipping, previewScale } from '../../../tools/zeb/view/page/lib/histogram.js';
import { table } from './table.js';

test('bars: the largest count is full height, the others on a log scale', () => {
  const heights = barHeights([0, 1, 10, 100, 1000], 100);
  assert.equal(heights[0], 0);
  assert.equal(heights[4], 100);
  assert.ok(Math.abs(heights[3] - (100 * Math.log1p(100)) / Math.log1p(1000)) < 1e-9);
  for (let i = 1; i < heights.length; ++i) assert.ok(heights[i] > heights[i - 1]);
  // One count among zeros still shows: log(2) of log(1 + 10^6).
  const lone = barHeights([...new Array(255).fill(0), 1], 40);
  assert.ok(lone[255] === 40 && lone.slice(0, 255).every((h) => h === 0));
  assert.ok(barHeights([1, 1000000], 40)[0] > 1);
  // Empty, all-zero, odd and broken histograms.
  table(barHeights, [[[[], 40], []], [[null, 40], []], [[[0, 0, 0], 40], [0, 0, 0]], [[[5], 40], [40]],
    [[[NaN, -5, Infinity, 7], 10], [0, 0, 0, 10]], [[[1, 2], 0], []]]);
  assert.equal(barHeights([1, 2, 3], 40).length, 3);
});

test('bar colours: saturated red and dark blue only where pixels are; clipping from a tenth of a percent', () => {
  table(barColour, [[[255, 1], '#e05050'], [[255, 0], '#c8cdd2'], [[0, 3], '#4f9ee8'], [[9, 3], '#4f9ee8'], [[10, 3], '#c8cdd2']]);
  assert.equal(clippingPercent, 0.1);
  table(isClipping, [[[{ saturatedPercent: 0 }], false], [[{ saturatedPercent: 0.0000033 }], false],
    [[{ saturatedPercent: 0.0999 }], false], [[{ saturatedPercent: 0.1 }], true], [[{ saturatedPercent: 40 }], true],
    [[null], false], [[{ saturatedPercent: NaN }], false]]);
  assert.match(clippingHint, /0\.1 %/);
});

test('preview scale: whole factors 1 to 16, never below the pane', () => {
  // A narrow pane counts as 64 (16384 / 64 is 256, capped at 16), and so does one not laid out yet.
  table(previewScale, [[[640, 300], 2], [[640, 320], 2], [[640, 321], 1], [[640, 1000], 1], [[16384, 10], 16],
    [[640, 0], 10], [[640, NaN], 10], [[0, 300], 1], [[undefined, 300], 1]]);
});
