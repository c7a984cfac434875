// The Surface panel's texts and the focus graph's points.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { focusPoints, graphScale } from '../../../tools/zeb/view/page/lib/focus.js';
import { averagedCaption, calibrationFigures, surfaceCaption } from '../../../tools/zeb/view/page/lib/surface.js';

test('an averaged set says why the surface is not current', () => {
  assert.match(averagedCaption(120, 97), /^No surface for image set 120: with SetupMode "On" .* The picture is of image set 97, not current\.$/);
  assert.ok(!averagedCaption(5, 0).includes('picture is of'));
  assert.equal(surfaceCaption('7', 'albedo', '98.5'), 'Image set 7, albedo: white is 1; 98.5 % of the pixels with a reliable normal');
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
  assert.equal(x(0), 30);
  assert.equal(x(1), 550);
  assert.equal(y(0), 160);
  assert.ok(y(8) > 10 && y(8) < 160); // the largest a tenth below the top
  assert.equal(graphScale([[1, 1]], { width: 100, height: 100 }).x(0), 30);
});
