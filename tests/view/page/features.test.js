// The feature tree's choices: groups, editors while acquiring, and whether a note still applies.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { choicesFor, editorKind, featureTitle, groupFeatures, noteShows } from '../../../tools/zeb/view/page/lib/features.js';
import { table } from './table.js';

test('groups in the page\'s order, empty ones left out, an unknown one last', () => {
  const features = [
    { name: 'GevA', group: 'Transport' }, { name: 'Width', group: 'Image format' },
    { name: 'New', group: 'Future' }, { name: 'Height', group: 'Image format' },
    { name: 'DeviceScanType', group: 'Device and camera' },
  ];
  assert.deepEqual(groupFeatures(features).map((g) => [g.group, g.members.map((m) => m.name)]), [
    ['Device and camera', ['DeviceScanType']], ['Image format', ['Width', 'Height']],
    ['Transport', ['GevA']], ['Future', ['New']],
  ]);
  assert.deepEqual(groupFeatures([]), []);
});

test('a feature fixed while acquiring is shown, not edited, whatever its type; notes that still apply', () => {
  table((feature) => [editorKind(feature, false), editorKind(feature, true)], [
    [[{ type: 'Int', writable: true, fixedWhileAcquiring: true, choices: [] }], ['text', 'fixed']],
    [[{ type: 'Bool', writable: true, fixedWhileAcquiring: true }], ['choice', 'fixed']],
    [[{ type: 'Enum', writable: true, fixedWhileAcquiring: true, choices: ['A'] }], ['choice', 'fixed']],
    [[{ type: 'Float', writable: true, choices: [] }], ['text', 'text']],
    [[{ type: 'Enum', writable: false, choices: ['A'] }], ['readonly', 'readonly']],
    [[{ type: 'Command', writable: true, fixedWhileAcquiring: true }], ['command', 'command']]]);
  assert.deepEqual(choicesFor({ type: 'Bool', choices: ['x'] }), ['True', 'False']);
  assert.deepEqual(choicesFor({ type: 'String' }), []);
  // A note stays only while the feature holds what it said (not after a profile or a script set
  // another value); a command's has no value.
  const note = { text: 'holds 60', className: 'answer good', value: '60' };
  table(noteShows, [[[note, '60'], true], [[note, '60.0'], true], [[note, '45'], false], [[null, '60'], false],
    [[{ text: 'done', value: '' }, null], true], [[{ text: 'refused', value: '' }, '3'], false]]);
});

test('the name\'s tooltip: meaning, limits and unit', () => {
  assert.equal(featureTitle({ description: 'Exposure.', limits: 'at most 65000', unit: 'us' }),
    'Exposure.\nLimits: at most 65000.\nUnit: us');
  assert.equal(featureTitle({ description: 'Mirror.', limits: '', unit: '' }), 'Mirror.');
});
