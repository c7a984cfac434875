// The toolbar: Start, Stop, "Save this image set" and Record, and the lines under it: the
// acquisition's statistics, its last failure and the recording. A recording on a stopped channel
// starts the acquisition itself and stops it when it ends (zeb view does both).
import { api, isConnected, onConnection } from './api.js';
import { channelPath, currentStatus, onSelect, onStatus } from './channel.js';
import { loadFeatures } from './features.js';
import { recordingLine, saveMessage, statisticsLine, stopMessage } from './lib/messages.js';
import { $, say } from './ui.js';

const buttons = ['start', 'stop', 'save', 'record'];

onSelect(() => {
  for (const id of buttons) $(id).disabled = true;
  $('statistics').textContent = '';
  $('failure').textContent = '';
  $('recording').textContent = '';
  say('');
});

onStatus((status) => {
  const s = status.statistics;
  $('start').disabled = status.acquiring;
  $('stop').disabled = status.mode !== 'live';
  $('save').disabled = !status.imageSet;
  $('record').disabled = status.mode === 'assistant' || status.recording.active;
  $('failure').textContent = s.lastFailure ? `last failed image set: ${s.lastFailure}` : '';
  $('recording').textContent = recordingLine(status.recording);
  // A status whose body arrives after zeb view stopped answering is not live any more.
  $('statistics').textContent = isConnected() ? statisticsLine(status) : 'disconnected';
  if (status.error) say(status.error, true);
});

// Once zeb view is gone nothing on the page is live any more (its controls are disabled where the
// page's fieldsets hold them).
onConnection((connected) => {
  if (!connected) $('statistics').textContent = 'disconnected';
});

// Starts or stops; says why it failed. Answers the response (its text read) for the caller.
async function control(path, what) {
  const response = await api('POST', channelPath(path));
  const text = await response.text();
  if (!response.ok) say(`${what}: ${text}`, true);
  else say('');
  await loadFeatures();
  return { ok: response.ok, text };
}

$('start').addEventListener('click', () => control('acquisition/start', 'Start'));

// Stop says so when it cuts short a recording that was under way.
$('stop').addEventListener('click', async () => {
  const before = currentStatus();
  const { ok, text } = await control('acquisition/stop', 'Stop');
  if (!ok) return;
  let after = null;
  try {
    after = JSON.parse(text);
  } catch {
    return;
  }
  const message = stopMessage(before, after);
  if (message) say(message);
});

$('save').addEventListener('click', async () => {
  const response = await api('POST', channelPath('save'));
  if (!response.ok) {
    say(`Save: ${await response.text()}`, true);
    return;
  }
  say(saveMessage(await response.json()));
});

$('record').addEventListener('click', async () => {
  const amount = Math.floor(Number($('record-amount').value));
  if (!(amount >= 1)) {
    say('Record: give how many image sets or seconds, 1 or more', true);
    return;
  }
  const surface = $('record-surface').checked ? '&surface=1' : '';
  const response = await api('POST', channelPath(`recording/start?${$('record-unit').value}=${amount}${surface}`));
  if (!response.ok) say(`Record: ${await response.text()}`, true);
  else say('');
});
