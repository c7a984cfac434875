// The lines about the acquisition, recordings, Stop and saved image sets.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { recordingLine, saveMessage, statisticsLine, stopMessage } from '../../../tools/zeb/view/page/lib/messages.js';
import { table } from './table.js';

const recording = (fields) => ({ active: false, count: 0, seconds: 0, written: 0, files: [], ended: '', ...fields });

test('the recording line: under way, done, cut short, never started', () => {
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
});

test('Stop mentions a recording it cut short, and only that', () => {
  const live = { recording: recording({ active: true, count: 1000, written: 4 }) };
  const cut = { recording: recording({ count: 1000, written: 5, ended: 'the acquisition ended after 5 image sets' }) };
  assert.equal(stopMessage(live, cut),
    'Stopped; the recording of 1000 image sets was cut short with 5 written: the acquisition ended after 5 image sets');
  // No recording under way: an earlier one cut short is no news.
  assert.equal(stopMessage({ recording: recording({ count: 3, written: 1, ended: 'x' }) }, cut), '');
  // It finished on its own just before the stop.
  assert.equal(stopMessage(live, { recording: recording({ count: 1000, written: 1000 }) }), '');
  table(stopMessage, [[[null, cut], ''], [[live, {}], '']]);
});

test('Save names the number of the files written beside the live one', () => {
  const files = ['/out/zeb-channel0-0003-stack.png', '/out/zeb-channel0-0003-average.png'];
  assert.equal(saveMessage({ imageSet: 1234, savedNumber: 3, files }),
    'saved image set 3 (the live view\'s 1234) in /out: zeb-channel0-0003-stack.png, zeb-channel0-0003-average.png');
  // An answer without the saved number claims none.
  assert.equal(saveMessage({ imageSet: 1234, files }),
    'saved the live view\'s image set 1234 in /out: zeb-channel0-0003-stack.png, zeb-channel0-0003-average.png');
});

test('the statistics line', () => {
  const statistics = { perSecond: 49.84, imageSets: 1234, lost: 1, failed: 0 };
  assert.equal(statisticsLine({ mode: 'live', statistics }), 'live · 49.8 image sets/s · 1234 sets · 1 lost · 0 failed');
  table((mode) => statisticsLine({ mode, statistics }).split(' · ')[0], [[['idle'], 'stopped'], [['assistant'], 'assistant acquiring']]);
});
