// The Surface panel's texts and the focus graph's points.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { focusPoints, graphScale } from '../../../tools/zeb/view/page/lib/focus.js';
import { averagedCaption, calibrationFigures, heightRange, surfaceCaption } from '../../../tools/zeb/view/page/lib/surface.js';

test('an averaged set says why the surface is not current', () => {
  assert.match(averagedCaption(120, 97), /^No surface for image set 120: with SetupMode "On" .* The picture is of image set 97, not current\.$/);
  assert.ok(!averagedCaption(5, 0).includes('picture is of'));
  assert.equal(surfaceCaption('7', 'albedo', '98.5'), 'Image set 7, albedo: white is 1; 98.5 % of the pixels with a reliable normal');
});

test('the height picture says its scale in millimetres, and nothing it cannot read', () => {
  assert.equal(heightRange('0.012 19.874'), 'from 0.01 mm (darkest) to 19.87 mm (brightest) above the object plane');
  assert.equal(heightRange('-0.5 0'), 'from -0.50 mm (darkest) to 0.00 mm (brightest) above the object plane');
  for (const bad of [null, undefined, '', '3', 'a b', '1 NaN']) assert.equal(heightRange(bad), '', String(bad));
  assert.equal(surfaceCaption('9', 'height', '97.0', '0 20'),
    'Image set 9, height: brighter higher, black where none is known from 0.00 mm (darkest) to 20.00 mm (brightest) ' +
    'above the object plane; 97.0 % of the pixels with a reliable normal');
  // Another form ignores a range; a height without one still says what it shows.
  assert.equal(surfaceCaption('9', 'albedo', '97.0', '0 20'), 'Image set 9, albedo: white is 1; 97.0 % of the pixels with a reliable normal');
  assert.match(surfaceCaption('9', 'height', '97.0', null), /^Image set 9, height: brighter higher, black where none is known; /);
});

test('calibration figures, also with a figure missing', () => {
  const result = { sphere: { x: 79.04, y: 63.5, radius: 49.96 }, meanErrorDegrees: 0.412, p95ErrorDegrees: 1,
    nominalMeanErrorDegrees: 4.8, file: 'c.json' };
  assert.equal(calibrationFigures(result), 'Sphere at 79.0, 63.5, radius 50.0 pixels. Normal error over the cap to 60°: ' +
    'calibrated mean 0.41°, 95th percentile 1.00°; nominal model mean 4.80°. Written to c.json.');
  assert.match(calibrationFigures({ ...result, p95ErrorDegrees: null }), /95th percentile \?°/);
});

test('focus points: pairs of numbers only; the graph spans its width', () => {
  assert.deepEqual(focusPoints([['10', '12'], ['x', '1'], ['3'], [], ['4', '12', 'extra']]), [[10, 12], [4, 12]]);
  assert.deepEqual(focusPoints(undefined), []);
  const points = [[1, 2], [5, 8]];
  const { x, y } = graphScale(points, { width: 560, height: 180 });
  assert.deepEqual([x(0), x(1), y(0)], [30, 550, 160]);
  assert.ok(y(8) > 10 && y(8) < 160); // the largest a tenth below the top
  assert.equal(graphScale([[1, 1]], { width: 100, height: 100 }).x(0), 30);
});
