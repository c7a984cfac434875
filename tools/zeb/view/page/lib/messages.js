// The page's lines about the acquisition, recordings and saved files, from zeb view's answers. No
// DOM: node --test imports this file.
import { filesText } from './format.js';

export function modeName(status) {
  if (status.mode === 'assistant') return 'assistant acquiring';
  return status.mode === 'live' ? 'live' : 'stopped';
}

// "live · 49.8 image sets/s · 1234 sets · 0 lost · 0 failed"
export function statisticsLine(status) {
  const s = status.statistics;
  const rate = Number.isFinite(s.perSecond) ? s.perSecond.toFixed(1) : '?';
  return `${modeName(status)} · ${rate} image sets/s · ${s.imageSets} sets · ${s.lost} lost · ${s.failed} failed`;
}

function goal(recording) {
  return (recording.count > 0 ? `${recording.count} image sets` : `${recording.seconds} s`) +
    (recording.surfaces ? ' with their surfaces' : '');
}

// The recording line: under way, done, or cut short (`ended` says why).
export function recordingLine(recording) {
  if (!recording) return '';
  if (recording.active) return `recording ${goal(recording)}: ${recording.written} written`;
  if (recording.ended) {
    return `recorded ${recording.written} image sets of ${goal(recording)}, cut short: ${recording.ended}` +
      (recording.files.length ? `; the last ${filesText(recording.files)}` : '');
  }
  if (recording.written > 0) {
    return `recorded ${recording.written} image sets` + (recording.files.length ? `, the last ${filesText(recording.files)}` : '');
  }
  return '';
}

// What Stop says: nothing, unless it cut short a recording that ran when it was pressed (`before`
// is the status then, `after` the stop's answer).
export function stopMessage(before, after) {
  const was = before && before.recording && before.recording.active;
  const recording = after && after.recording;
  if (!was || !recording || recording.active || !recording.ended) return '';
  return `Stopped; the recording of ${goal(recording)} was cut short with ${recording.written} written: ${recording.ended}`;
}

// What "Save this image set" wrote. zeb view numbers saved files after those already in the folder,
// so the saved number (`savedNumber`) and the live one (`imageSet`) differ; where zeb view answers
// no saved number the files alone say it.
export function saveMessage(saved) {
  const files = filesText(saved.files);
  if (Number.isInteger(saved.savedNumber)) {
    return `saved image set ${saved.savedNumber} (the live view's ${saved.imageSet}) ${files}`;
  }
  return `saved the live view's image set ${saved.imageSet} ${files}`;
}
