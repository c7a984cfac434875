// Profiles read as zeb reads them, and zeb view's answer to one paired with its lines.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { parseProfile, readAnswers, sameValue, settle, summarise } from '../../../tools/zeb/view/page/lib/profile.js';
import { table } from './table.js';

test('profile lines: blanks, comments, = in values, CR LF, tabs', () => {
  const text = '# zeb profile of BRELAN: NAME=VALUE, one a line\r\n' +
    '\r\n' +
    'ExposureTime=80\r\n' +
    '   \t\r\n' +
    '  # an indented comment=1\n' +
    '\tGain = 6.5 \t\n' +
    'DeviceImageSource=Cam A=left\n' +
    'TestPattern=\n' +
    'LightingOrientation=90 deg'; // no line end at the end
  assert.deepEqual(parseProfile(text), {
    assignments: [
      { name: 'ExposureTime', value: '80', line: 3 },
      { name: 'Gain', value: '6.5', line: 6 },
      { name: 'DeviceImageSource', value: 'Cam A=left', line: 7 },
      { name: 'TestPattern', value: '', line: 8 },
      { name: 'LightingOrientation', value: '90 deg', line: 9 },
    ],
    problems: [],
  });
});

test('profile lines that are no NAME=VALUE are named with their line', () => {
  const { assignments, problems } = parseProfile('Width=640\nHeight 480\n=5\n  = 7\nName#=1\n');
  assert.deepEqual(assignments, [{ name: 'Width', value: '640', line: 1 }, { name: 'Name#', value: '1', line: 5 }]);
  assert.deepEqual(problems.map((p) => p.line), [2, 3, 4]);
  assert.equal(problems[0].text, 'line 2: "Height 480" is not NAME=VALUE');
  assert.deepEqual(parseProfile(''), { assignments: [], problems: [] });
  assert.deepEqual(parseProfile('\r\n\r\n# only comments\r\n'), { assignments: [], problems: [] });
});

test('same values: the same text or the same number', () => {
  table(sameValue, [[['50', '50'], true], [['50', '50.0'], true], [['5e1', '50'], true], [[' 90 deg', '90 deg'], true],
    [['90 deg', '180 deg'], false], [['True', 'true'], false], [['0x10', '16'], false], [['', '0'], false],
    [[undefined, ''], false], [['1', null], false]]);
});

const profile = parseProfile('ExposureTime=80\nGain=70000\nWidth=640\nReverseXY=False\nHeight=480\nOffsetX=8\n').assignments;

test('answers paired with their lines: held, adjusted, normalised, refused over two lines', () => {
  const answer = [
    'ExposureTime: holds "80"',
    'Gain: wrote "70000", the channel holds "24"',
    'Width: wrote "640", the channel holds "640.0"',
    'ReverseXY: Feature ReverseXY can not be written',
    'while the acquisition runs.',
    'Height: holds "480"',
    'OffsetX: Feature OffsetX is out of range. (did you mean "OffsetY"?)',
  ].join('\n');
  const { results, preamble } = readAnswers(profile, answer);
  assert.equal(preamble, '');
  assert.deepEqual(results.map((r) => [r.name, r.kind, r.holds]), [
    ['ExposureTime', 'held', '80'],
    ['Gain', 'adjusted', '24'],
    ['Width', 'normalised', '640.0'],
    ['ReverseXY', 'refused', undefined],
    ['Height', 'held', '480'],
    ['OffsetX', 'refused', undefined],
  ]);
  assert.equal(results[3].text, 'Feature ReverseXY can not be written\nwhile the acquisition runs.');
  assert.deepEqual(summarise(results), { text: '6 settings: 3 held, 1 adjusted, 2 refused', failed: true, adjusted: true });
});

test('a short answer leaves settings unanswered; text before the first is kept', () => {
  const { results, preamble } = readAnswers(profile.slice(0, 3), 'warning: slow\nExposureTime: holds "80"');
  assert.equal(preamble, 'warning: slow');
  assert.deepEqual(results.map((r) => r.kind), ['held', 'unanswered', 'unanswered']);
  assert.equal(summarise(results).failed, true);
  // A 400 that applied nothing: its text is all preamble.
  const refused = readAnswers(profile, 'profile:2: "Gain" is not NAME=VALUE');
  assert.ok(refused.results.every((r) => r.kind === 'unanswered'));
  assert.equal(refused.preamble, 'profile:2: "Gain" is not NAME=VALUE');
});

test('a line of another name is not taken for the next setting', () => {
  const two = parseProfile('Gain=1\nGainAuto=Off').assignments;
  const { results } = readAnswers(two, 'Gain: bad\nGainAuto: holds "Off"');
  assert.deepEqual(results.map((r) => [r.name, r.kind]), [['Gain', 'refused'], ['GainAuto', 'held']]);
  // The same name twice is answered twice, in order.
  const twice = parseProfile('Gain=1\nGain=2').assignments;
  assert.deepEqual(readAnswers(twice, 'Gain: holds "1"\nGain: holds "2"').results.map((r) => r.holds), ['1', '2']);
  // Quotes inside a value.
  const quoted = parseProfile('DeviceImageSource=Cam "A"').assignments;
  assert.equal(readAnswers(quoted, 'DeviceImageSource: holds "Cam "A""').results[0].holds, 'Cam "A"');
});

test('a refused write of the value already held is no failure', () => {
  const held = { ExposureTime: '80', Width: '640', ReverseXY: 'False', Height: '480', OffsetX: '0', Gain: '24' };
  const answer = ['ExposureTime: holds "80"', 'Gain: holds "24"', 'Width: cannot while live',
    'ReverseXY: cannot while live', 'Height: cannot while live', 'OffsetX: cannot while live'].join('\n');
  const settled = settle(readAnswers(profile, answer).results, (name) => held[name]);
  assert.deepEqual(settled.map((r) => r.kind), ['held', 'held', 'unchanged', 'unchanged', 'unchanged', 'refused']);
  assert.equal(settled[2].holds, '640');
  assert.deepEqual(summarise(settled), { text: '6 settings: 2 held, 3 already held (the write refused), 1 refused', failed: true, adjusted: false });
  // A feature the page does not know stays refused.
  assert.equal(settle([{ name: 'X', value: '1', kind: 'refused' }], () => undefined)[0].kind, 'refused');
  assert.deepEqual(summarise([]), { text: '0 settings: 0 held', failed: false, adjusted: false });
});
