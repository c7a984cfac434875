// Numbers, pixel counts and file lists as the page writes them.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { filesText, formatCount, formatPercent, greyFacts } from '../../../tools/zeb/view/page/lib/format.js';
import { table } from './table.js';

test('percentages: none is 0, a handful of pixels is never 0.000; counts group their thousands', () => {
  table(formatPercent, [[[0], '0'], [[0.0000033], '< 0.001'] /* one pixel of 5 megapixels */, [[0.000999], '< 0.001'],
    [[0.001], '0.001'], [[0.0994], '0.099'], [[0.99949], '0.999'], [[0.9996], '1.000'], [[5.125], '5.13'], [[100], '100.0'],
    ...[NaN, Infinity, -1, undefined, null].map((bad) => [[bad], '?'])]);
  table(formatCount, [[[0], '0'], [[999], '999'], [[1000], '1\u2009000'], [[1234567], '1\u2009234\u2009567'],
    [[-4200], '-4\u2009200'], [[NaN], '?']]);
});

test('grey facts count the saturated and dark pixels from the histogram', () => {
  const histogram = new Array(256).fill(0);
  histogram[0] = 3;
  histogram[9] = 2;
  histogram[10] = 1000; // not dark
  histogram[255] = 12;
  assert.equal(greyFacts({ histogram, mean: 41.25, saturatedPercent: 0.0012, darkPercent: 0.0005 }),
    'mean 41.3 · saturated 0.001 % (12 px) · dark < 0.001 % (5 px)');
  // Nothing saturated: no pixel count.
  histogram[255] = 0;
  assert.equal(greyFacts({ histogram, mean: 0, saturatedPercent: 0, darkPercent: 0.0005 }),
    'mean 0.0 · saturated 0 % · dark < 0.001 % (5 px)');
  // From a tenth of a percent on the percentage says enough.
  histogram[255] = 10267;
  assert.equal(greyFacts({ histogram, mean: 142.6, saturatedPercent: 0.783, darkPercent: 0.0999 }),
    'mean 142.6 · saturated 0.783 % · dark 0.100 % (5 px)');
  // A short, missing or broken histogram keeps the percentages.
  table(greyFacts, [
    [[{ histogram: [7, 1], mean: 1, saturatedPercent: 0.05, darkPercent: 0.01 }], 'mean 1.0 · saturated 0.050 % · dark 0.010 % (8 px)'],
    [[{ mean: 200, saturatedPercent: 2, darkPercent: 0 }], 'mean 200.0 · saturated 2.00 % · dark 0 %'],
    [[{ histogram: [], mean: NaN, saturatedPercent: NaN, darkPercent: 0 }], 'mean ? · saturated ? % · dark 0 %']]);
});

test('files: the folder once, then the names; Windows paths alike', () => {
  table(filesText, [
    [[['/out/zeb-channel0-0003-stack.png', '/out/zeb-channel0-0003-average.png']],
      'in /out: zeb-channel0-0003-stack.png, zeb-channel0-0003-average.png'],
    [[['C:\\out\\a.png', 'C:\\out\\b.png']], 'in C:\\out: a.png, b.png'], [[['/a/x.png', '/b/y.png']], '/a/x.png, /b/y.png'],
    [[['x.png', 'y.png']], 'x.png, y.png'], [[[]], 'no files'], [[undefined], 'no files']]);
});
