// The page's helpers that need no DOM (tools/zeb/view/page/lib), under node's own test runner.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { choicesFor, editorKind, featureTitle, groupFeatures, noteShows } from '../../../tools/zeb/view/page/lib/features.js';
import { focusPoints, graphScale } from '../../../tools/zeb/view/page/lib/focus.js';
import { filesText, formatCount, formatPercent, greyFacts } from '../../../tools/zeb/view/page/lib/format.js';
import { barColour, barHeights, clippingHint, clippingPercent, isClipping, previewScale } from '../../../tools/zeb/view/page/lib/histogram.js';
import { recordingLine, saveMessage, statisticsLine, stopMessage } from '../../../tools/zeb/view/page/lib/messages.js';
import { parseProfile, readAnswers, sameValue, settle, summarise } from '../../../tools/zeb/view/page/lib/profile.js';
import { averagedCaption, calibrationFigures, heightRange, surfaceCaption } from '../../../tools/zeb/view/page/lib/surface.js';
import { fit, greyAt, maxScale, minScale, pixelAt, visiblePixels, wheelFactor, zoomAt } from '../../../tools/zeb/view/page/lib/zoom.js';

// Each row holds the arguments and what `fn` makes of them.
function table(fn, rows) {
  for (const [args, expected] of rows) assert.deepEqual(fn(...args), expected, JSON.stringify(args));
}

test('feature groups in the page\'s order, empty ones left out, an unknown one last; tooltips, editors, notes', () => {
  const features = [{ name: 'GevA', group: 'Transport' }, { name: 'Width', group: 'Image format' }, { name: 'New', group: 'Future' },
    { name: 'Height', group: 'Image format' }, { name: 'DeviceScanType', group: 'Device and camera' }];
  table((list) => groupFeatures(list).map((g) => [g.group, g.members.map((m) => m.name)]), [[[[]], []], [[features], [
    ['Device and camera', ['DeviceScanType']], ['Image format', ['Width', 'Height']], ['Transport', ['GevA']], ['Future', ['New']]]]]);
  table(featureTitle, [[[{ description: 'Mirror.', limits: '', unit: '' }], 'Mirror.'],
    [[{ description: 'Exposure.', limits: 'at most 65000', unit: 'us' }], 'Exposure.\nLimits: at most 65000.\nUnit: us']]);
  // A feature fixed while acquiring is shown, not edited, whatever its type.
  const kinds = (type, writable, fixedWhileAcquiring, choices) =>
    [false, true].map((acquiring) => editorKind({ type, writable, fixedWhileAcquiring, choices }, acquiring));
  table(kinds, [[['Int', true, true, []], ['text', 'fixed']], [['Bool', true, true], ['choice', 'fixed']],
    [['Enum', true, true, ['A']], ['choice', 'fixed']], [['Float', true, undefined, []], ['text', 'text']],
    [['Enum', false, undefined, ['A']], ['readonly', 'readonly']], [['Command', true, true], ['command', 'command']]]);
  table(choicesFor, [[[{ type: 'Bool', choices: ['x'] }], ['True', 'False']], [[{ type: 'String' }], []]]);
  // A note stays only while the feature holds what it said; a command's has no value.
  const note = { text: 'holds 60', className: 'answer good', value: '60' };
  table(noteShows, [[[note, '60'], true], [[note, '60.0'], true], [[note, '45'], false], [[null, '60'], false],
    [[{ text: 'done', value: '' }, null], true], [[{ text: 'refused', value: '' }, '3'], false]]);
});

test('percentages: none is 0, a handful of pixels is never 0.000; counts group their thousands; file lists', () => {
  table(formatPercent, [[[0], '0'], [[0.0000033], '< 0.001'] /* one pixel of 5 megapixels */, [[0.000999], '< 0.001'],
    [[0.001], '0.001'], [[0.0994], '0.099'], [[0.99949], '0.999'], [[0.9996], '1.000'], [[5.125], '5.13'], [[100], '100.0'],
    ...[NaN, Infinity, -1, undefined, null].map((bad) => [[bad], '?'])]);
  table(formatCount, [[[0], '0'], [[999], '999'], [[1000], '1\u2009000'], [[1234567], '1\u2009234\u2009567'],
    [[-4200], '-4\u2009200'], [[NaN], '?']]);
  // The folder once, then the names; Windows paths alike.
  table(filesText, [[[['/out/zeb-0003-stack.png', '/out/zeb-0003-average.png']], 'in /out: zeb-0003-stack.png, zeb-0003-average.png'],
    [[['C:\\out\\a.png', 'C:\\out\\b.png']], 'in C:\\out: a.png, b.png'], [[['/a/x.png', '/b/y.png']], '/a/x.png, /b/y.png'],
    [[['x.png', 'y.png']], 'x.png, y.png'], [[[]], 'no files'], [[undefined], 'no files']]);
});

test('grey facts count the saturated and dark pixels from the histogram', () => {
  // 5 dark pixels (below 10) and, in turn, 12, none and 10267 saturated ones.
  const histogram = (saturated) => [3, ...new Array(8).fill(0), 2, 1000, ...new Array(244).fill(0), saturated];
  table(greyFacts, [
    [[{ histogram: histogram(12), mean: 41.25, saturatedPercent: 0.0012, darkPercent: 0.0005 }],
      'mean 41.3 · saturated 0.001 % (12 px) · dark < 0.001 % (5 px)'],
    [[{ histogram: histogram(0), mean: 0, saturatedPercent: 0, darkPercent: 0.0005 }], 'mean 0.0 · saturated 0 % · dark < 0.001 % (5 px)'],
    // From a tenth of a percent on the percentage says enough.
    [[{ histogram: histogram(10267), mean: 142.6, saturatedPercent: 0.783, darkPercent: 0.0999 }],
      'mean 142.6 · saturated 0.783 % · dark 0.100 % (5 px)'],
    // A short, missing or broken histogram keeps the percentages.
    [[{ histogram: [7, 1], mean: 1, saturatedPercent: 0.05, darkPercent: 0.01 }], 'mean 1.0 · saturated 0.050 % · dark 0.010 % (8 px)'],
    [[{ mean: 200, saturatedPercent: 2, darkPercent: 0 }], 'mean 200.0 · saturated 2.00 % · dark 0 %'],
    [[{ histogram: [], mean: NaN, saturatedPercent: NaN, darkPercent: 0 }], 'mean ? · saturated ? % · dark 0 %']]);
});

test('histogram bars: the largest count full height, the others on a log scale; colours; clipping; preview scale', () => {
  const heights = barHeights([0, 1, 10, 100, 1000], 100);
  assert.deepEqual([heights[0], heights[4]], [0, 100]);
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
  // Saturated red and dark blue only where pixels are; clipping from a tenth of a percent.
  table(barColour, [[[255, 1], '#e05050'], [[255, 0], '#c8cdd2'], [[0, 3], '#4f9ee8'], [[9, 3], '#4f9ee8'], [[10, 3], '#c8cdd2']]);
  assert.equal(clippingPercent, 0.1);
  table(isClipping, [[[{ saturatedPercent: 0 }], false], [[{ saturatedPercent: 0.0000033 }], false],
    [[{ saturatedPercent: 0.0999 }], false], [[{ saturatedPercent: 0.1 }], true], [[{ saturatedPercent: 40 }], true],
    [[null], false], [[{ saturatedPercent: NaN }], false]]);
  assert.match(clippingHint, /0\.1 %/);
  // Preview scale: whole factors 1 to 16; a narrow pane (and one not laid out yet) counts as 64 wide.
  table(previewScale, [[[640, 300], 2], [[640, 320], 2], [[640, 321], 1], [[640, 1000], 1], [[16384, 10], 16],
    [[640, 0], 10], [[640, NaN], 10], [[0, 300], 1], [[undefined, 300], 1]]);
});

const recording = (fields) => ({ active: false, count: 0, seconds: 0, written: 0, files: [], ended: '', ...fields });

test('the recording and statistics lines; Stop mentions a recording it cut short; Save names the files\' number', () => {
  table((fields) => recordingLine(fields && recording(fields)), [
    [[{ active: true, count: 10, written: 3 }], 'recording 10 image sets: 3 written'],
    [[{ active: true, seconds: 60, written: 0 }], 'recording 60 s: 0 written'],
    [[{ count: 2, written: 2, files: ['/o/a.png', '/o/b.png'] }], 'recorded 2 image sets, the last in /o: a.png, b.png'],
    [[{ count: 10, written: 3, files: ['/o/a.png'], ended: 'the acquisition ended after 3 image sets' }],
      'recorded 3 image sets of 10 image sets, cut short: the acquisition ended after 3 image sets; the last in /o: a.png'],
    [[{ seconds: 5, ended: 'No space left on device' }], 'recorded 0 image sets of 5 s, cut short: No space left on device'],
    [[{ active: true, count: 5, surfaces: true, written: 1 }], 'recording 5 image sets with their surfaces: 1 written'],
    [[{ count: 500, written: 12, ended: 'stopped before the disk is full: ...' }],
      'recorded 12 image sets of 500 image sets, cut short: stopped before the disk is full: ...'],
    [[{}], ''], [[undefined], '']]);
  const statistics = { perSecond: 49.84, imageSets: 1234, lost: 1, failed: 0 };
  assert.equal(statisticsLine({ mode: 'live', statistics }), 'live · 49.8 image sets/s · 1234 sets · 1 lost · 0 failed');
  table((mode) => statisticsLine({ mode, statistics }).split(' · ')[0], [[['idle'], 'stopped'], [['assistant'], 'assistant acquiring']]);
  // Stop mentions a recording it cut short, and only that.
  const live = { recording: recording({ active: true, count: 1000, written: 4 }) };
  const cut = { recording: recording({ count: 1000, written: 5, ended: 'the acquisition ended after 5 image sets' }) };
  table(stopMessage, [
    [[live, cut], 'Stopped; the recording of 1000 image sets was cut short with 5 written: the acquisition ended after 5 image sets'],
    // No recording under way (an earlier one cut short is no news), or it finished just before the stop.
    [[{ recording: recording({ count: 3, written: 1, ended: 'x' }) }, cut], ''],
    [[live, { recording: recording({ count: 1000, written: 1000 }) }], ''], [[null, cut], ''], [[live, {}], '']]);
  // Beside the live one; an answer without the saved number claims none.
  table((savedNumber) => saveMessage({ imageSet: 1234, savedNumber, files: ['/out/z-0003-stack.png', '/out/z-0003-average.png'] }), [
    [[3], 'saved image set 3 (the live view\'s 1234) in /out: z-0003-stack.png, z-0003-average.png'],
    [[undefined], 'saved the live view\'s image set 1234 in /out: z-0003-stack.png, z-0003-average.png']]);
});

test('profile lines: blanks, comments, = in values, CR LF, tabs; lines that are no NAME=VALUE named with their line', () => {
  const text = '# zeb profile of BRELAN: NAME=VALUE, one a line\r\n\r\nExposureTime=80\r\n   \t\r\n  # an indented comment=1\n' +
    '\tGain = 6.5 \t\nDeviceImageSource=Cam A=left\nTestPattern=\nLightingOrientation=90 deg'; // no line end at the end
  const assignments = [['ExposureTime', '80', 3], ['Gain', '6.5', 6], ['DeviceImageSource', 'Cam A=left', 7], ['TestPattern', '', 8],
    ['LightingOrientation', '90 deg', 9]].map(([name, value, line]) => ({ name, value, line }));
  assert.deepEqual(parseProfile(text), { assignments, problems: [] });
  const { assignments: some, problems } = parseProfile('Width=640\nHeight 480\n=5\n  = 7\nName#=1\n');
  assert.deepEqual(some, [{ name: 'Width', value: '640', line: 1 }, { name: 'Name#', value: '1', line: 5 }]);
  assert.deepEqual(problems.map((p) => p.line), [2, 3, 4]);
  assert.equal(problems[0].text, 'line 2: "Height 480" is not NAME=VALUE');
  table(parseProfile, [[[''], { assignments: [], problems: [] }], [['\r\n\r\n# only comments\r\n'], { assignments: [], problems: [] }]]);
  // The same value: the same text or the same number.
  table(sameValue, [[['50', '50'], true], [['50', '50.0'], true], [['5e1', '50'], true], [[' 90 deg', '90 deg'], true],
    [['90 deg', '180 deg'], false], [['True', 'true'], false], [['0x10', '16'], false], [['', '0'], false],
    [[undefined, ''], false], [['1', null], false]]);
});

const profile = parseProfile('ExposureTime=80\nGain=70000\nWidth=640\nReverseXY=False\nHeight=480\nOffsetX=8\n').assignments;
const kinds = (results) => results.map((r) => r.kind);

test('answers paired with their lines: held, adjusted, normalised, refused over two lines', () => {
  const answer = ['ExposureTime: holds "80"', 'Gain: wrote "70000", the channel holds "24"', 'Width: wrote "640", the channel holds "640.0"',
    'ReverseXY: Feature ReverseXY can not be written', 'while the acquisition runs.', 'Height: holds "480"',
    'OffsetX: Feature OffsetX is out of range. (did you mean "OffsetY"?)'].join('\n');
  const { results, preamble } = readAnswers(profile, answer);
  assert.equal(preamble, '');
  assert.deepEqual(results.map((r) => [r.name, r.kind, r.holds]), [['ExposureTime', 'held', '80'], ['Gain', 'adjusted', '24'],
    ['Width', 'normalised', '640.0'], ['ReverseXY', 'refused', undefined], ['Height', 'held', '480'], ['OffsetX', 'refused', undefined]]);
  assert.equal(results[3].text, 'Feature ReverseXY can not be written\nwhile the acquisition runs.');
  assert.deepEqual(summarise(results), { text: '6 settings: 3 held, 1 adjusted, 2 refused', failed: true, adjusted: true });
  // A short answer leaves settings unanswered; text before the first is kept.
  const short = readAnswers(profile.slice(0, 3), 'warning: slow\nExposureTime: holds "80"');
  assert.deepEqual([short.preamble, kinds(short.results), summarise(short.results).failed], ['warning: slow', ['held', 'unanswered', 'unanswered'], true]);
  // A 400 that applied nothing: its text is all preamble.
  const refused = readAnswers(profile, 'profile:2: "Gain" is not NAME=VALUE');
  assert.deepEqual([refused.preamble, kinds(refused.results)], ['profile:2: "Gain" is not NAME=VALUE', new Array(6).fill('unanswered')]);
  // A line of another name is not taken for the next setting; the same name twice; quotes in a value.
  const answered = (text, answer) => readAnswers(parseProfile(text).assignments, answer).results;
  assert.deepEqual(answered('Gain=1\nGainAuto=Off', 'Gain: bad\nGainAuto: holds "Off"').map((r) => [r.name, r.kind]),
    [['Gain', 'refused'], ['GainAuto', 'held']]);
  assert.deepEqual(answered('Gain=1\nGain=2', 'Gain: holds "1"\nGain: holds "2"').map((r) => r.holds), ['1', '2']);
  assert.equal(answered('DeviceImageSource=Cam "A"', 'DeviceImageSource: holds "Cam "A""')[0].holds, 'Cam "A"');
});

test('a refused write of the value already held is no failure', () => {
  const held = { ExposureTime: '80', Width: '640', ReverseXY: 'False', Height: '480', OffsetX: '0', Gain: '24' };
  const answer = ['ExposureTime: holds "80"', 'Gain: holds "24"', 'Width: cannot while live', 'ReverseXY: cannot while live',
    'Height: cannot while live', 'OffsetX: cannot while live'].join('\n');
  const settled = settle(readAnswers(profile, answer).results, (name) => held[name]);
  assert.deepEqual(kinds(settled), ['held', 'held', 'unchanged', 'unchanged', 'unchanged', 'refused']);
  assert.equal(settled[2].holds, '640');
  assert.deepEqual(summarise(settled), { text: '6 settings: 2 held, 3 already held (the write refused), 1 refused', failed: true, adjusted: false });
  // A feature the page does not know stays refused.
  assert.equal(settle([{ name: 'X', value: '1', kind: 'refused' }], () => undefined)[0].kind, 'refused');
  assert.deepEqual(summarise([]), { text: '0 settings: 0 held', failed: false, adjusted: false });
});

test('the Surface panel\'s captions and calibration figures; the focus graph\'s points', () => {
  assert.match(averagedCaption(120, 97), /^No surface for image set 120: with SetupMode "On" .* The picture is of image set 97, not current\.$/);
  assert.ok(!averagedCaption(5, 0).includes('picture is of'));
  // The height picture says its scale in millimetres, and nothing it cannot read.
  table(heightRange, [[['0.012 19.874'], 'from 0.01 mm (darkest) to 19.87 mm (brightest) above the object plane'],
    [['-0.5 0'], 'from -0.50 mm (darkest) to 0.00 mm (brightest) above the object plane'],
    ...[null, undefined, '', '3', 'a b', '1 NaN'].map((bad) => [[bad], ''])]);
  // Another form ignores a range; a height without one still says what it shows.
  table(surfaceCaption, [[['7', 'albedo', '98.5'], 'Image set 7, albedo: white is 1; 98.5 % of the pixels with a reliable normal'],
    [['9', 'albedo', '97.0', '0 20'], 'Image set 9, albedo: white is 1; 97.0 % of the pixels with a reliable normal'],
    [['9', 'height', '97.0', '0 20'], 'Image set 9, height: brighter higher, black where none is known from 0.00 mm (darkest) ' +
      'to 20.00 mm (brightest) above the object plane; 97.0 % of the pixels with a reliable normal'],
    [['9', 'height', '97.0', null], 'Image set 9, height: brighter higher, black where none is known; 97.0 % of the pixels with a reliable normal']]);
  const result = { sphere: { x: 79.04, y: 63.5, radius: 49.96 }, meanErrorDegrees: 0.412, p95ErrorDegrees: 1,
    nominalMeanErrorDegrees: 4.8, file: 'c.json' };
  assert.equal(calibrationFigures(result), 'Sphere at 79.0, 63.5, radius 50.0 pixels. Normal error over the cap to 60°: ' +
    'calibrated mean 0.41°, 95th percentile 1.00°; nominal model mean 4.80°. Written to c.json.');
  assert.match(calibrationFigures({ ...result, p95ErrorDegrees: null }), /95th percentile \?°/);
  // Focus points: pairs of numbers only; the graph spans its width.
  assert.deepEqual(focusPoints([['10', '12'], ['x', '1'], ['3'], [], ['4', '12', 'extra']]), [[10, 12], [4, 12]]);
  assert.deepEqual(focusPoints(undefined), []);
  const { x, y } = graphScale([[1, 2], [5, 8]], { width: 560, height: 180 });
  assert.deepEqual([x(0), x(1), y(0)], [30, 550, 160]);
  assert.ok(y(8) > 10 && y(8) < 160); // the largest a tenth below the top
  assert.equal(graphScale([[1, 1]], { width: 100, height: 100 }).x(0), 30);
});

const view = { width: 1000, height: 700 };

test('zoom: the whole image fitted, centred, wide or tall; zooming about a point keeps it under it; the limits', () => {
  // A line-scan set 16 x 100000 stays at the smallest scale, centred; a pixel grows to the largest only.
  table((width, height) => fit(view, { width, height }), [[[500, 100], { scale: 2, x: 0, y: 250 }],
    [[100, 1400], { scale: 0.5, x: 475, y: 0 }], [[16, 100000], { scale: minScale, x: (1000 - 16 * minScale) / 2, y: (700 - 100000 * minScale) / 2 }],
    [[1, 1], { scale: maxScale, x: 500 - maxScale / 2, y: 350 - maxScale / 2 }], [[0, 10], { scale: 1, x: 0, y: 0 }]]);
  const start = { scale: 2, x: 10, y: -30 };
  let zoomed = start;
  for (let i = 0; i < 5; ++i) zoomed = zoomAt(zoomed, 333, 222, wheelFactor(-100));
  const at = (zoom) => pixelAt(zoom, 333, 222, { width: 1000, height: 1000 });
  assert.deepEqual([at(zoomed).x, at(zoomed).y], [at(start).x, at(start).y]);
  assert.ok(Math.abs((333 - zoomed.x) / zoomed.scale - (333 - start.x) / start.scale) < 1e-9);
  assert.equal(zoomAt({ scale: 60, x: 0, y: 0 }, 0, 0, 1.25).scale, maxScale);
  assert.deepEqual(zoomAt({ scale: 0.06, x: 5, y: 5 }, 5, 5, 0.8), { scale: minScale, x: 5, y: 5 });
  table(wheelFactor, [[[-1], 1.25], [[3], 0.8], [[0], 1]]); // a sideways wheel does not zoom out
});

test('zoom: the pixel under a point at the image borders, the pixels a view shows, the grey at a point', () => {
  // The top left corner, the last pixel, the right and bottom edges, just left and just above.
  table((x, y) => pixelAt({ scale: 10, x: 100, y: 50 }, x, y, { width: 4, height: 3 }), [[[100, 50], { x: 0, y: 0, inside: true }],
    [[139.999, 79.999], { x: 3, y: 2, inside: true }], [[140, 60], { x: 4, y: 1, inside: false }],
    [[120, 80], { x: 2, y: 3, inside: false }], [[99.5, 60], { x: -1, y: 1, inside: false }],
    [[120, 49.9], { x: 2, y: -1, inside: false }]]);
  // At 16 x: partly shown pixels count, one starting at the view's edge not; the far corner ends the range.
  const image = { width: 640, height: 480 };
  table((x, y) => visiblePixels({ scale: 16, x, y }, view, image), [[[-1000, -500], { first: { x: 62, y: 31 }, last: { x: 124, y: 74 } }],
    [[-1001, -501], { first: { x: 62, y: 31 }, last: { x: 125, y: 75 } }], [[-9800, -7200], { first: { x: 612, y: 450 }, last: { x: 639, y: 479 } }]]);
  // The image left of the view: nothing to write.
  const gone = visiblePixels({ scale: 16, x: -20000, y: 0 }, view, image);
  assert.ok(gone.last.x < gone.first.x);
  // The last pixel is saturated, though shown red; (2, 0) would wrap to the next row.
  const rgba = Uint8ClampedArray.from([10, 10, 10, 255, 20, 20, 20, 255, 30, 30, 30, 255, 255, 0, 0, 255]);
  table((x, y) => greyAt(rgba, 2, x, y), [[[0, 0], 10], [[1, 0], 20], [[0, 1], 30], [[1, 1], 255],
    [[2, 0], null], [[0, 2], null], [[-1, 0], null], [[0.5, 0], null]]);
});
