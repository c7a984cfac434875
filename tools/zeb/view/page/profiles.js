// "Save profile" and "Load profile": the channel's writable settings as NAME=VALUE lines, and a
// profile applied with zeb view's answer for each of its lines.
import { api } from './api.js';
import { channelPath, selectedChannel } from './channel.js';
import { loadChannels } from './channels.js';
import { loadFeatures, setNotes, valueOf } from './features.js';
import { parseProfile, readAnswers, settle, summarise } from './lib/profile.js';
import { $, say } from './ui.js';

$('save-profile').addEventListener('click', async () => {
  const channel = selectedChannel();
  const response = await api('GET', channelPath('profile', channel));
  const text = await response.text();
  if (!response.ok) {
    say(`Save profile: ${text}`, true);
    return;
  }
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
  link.download = `zeb-channel${channel}.profile`;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  say(`saved the profile of channel ${channel} as ${link.download}`);
});

$('load-profile').addEventListener('click', () => $('profile-file').click());
$('profile-file').addEventListener('change', async () => {
  const file = $('profile-file').files[0];
  $('profile-file').value = '';
  if (file) await loadProfile(file.name, await file.text());
});

// How each kind of answer shows, in the list and under the feature.
const shown = {
  held: { className: 'good', note: (r) => `holds ${r.holds}` },
  normalised: { className: 'good', note: (r) => `holds ${r.holds} (normalised)` },
  adjusted: { className: 'adjusted', note: (r) => `holds ${r.holds} (adjusted)` },
  unchanged: { className: 'unchanged', note: (r) => `holds ${r.holds}: unchanged, the write was refused` },
  refused: { className: 'bad', note: (r) => r.text },
  unanswered: { className: 'bad', note: () => 'not answered' },
};

// Applies a profile's settings in order, then shows zeb view's answer line by line: held, adjusted
// or refused, and under each feature what the channel now holds. A value the channel refused but
// already holds (an image-region value while the camera streams) is no failure.
async function loadProfile(name, text) {
  const channel = selectedChannel();
  const response = await api('PUT', channelPath('profile', channel), text);
  const answer = await response.text();
  await loadFeatures();
  if (channel !== selectedChannel()) return;
  const box = $('profile-answer');
  box.hidden = false;
  const heading = document.createElement('p');
  heading.className = 'profile-summary';
  const list = document.createElement('ul');
  const { assignments } = parseProfile(text);
  const { results, preamble } = readAnswers(assignments, answer);
  if (assignments.length === 0 && response.ok) {
    heading.textContent = `${name}: no NAME=VALUE line in it, nothing to apply`;
    box.replaceChildren(heading);
    return;
  }
  if (!response.ok && results.every((r) => r.kind === 'unanswered')) {
    // Nothing applied: zeb view's text says why.
    heading.textContent = `${name}: nothing applied: ${answer}`;
    heading.classList.add('bad');
    box.replaceChildren(heading);
    return;
  }
  const settled = settle(results, valueOf);
  const summary = summarise(settled);
  heading.textContent = `${name}: ${summary.text}`;
  heading.classList.toggle('bad', summary.failed);
  heading.classList.toggle('adjusted', !summary.failed && summary.adjusted);
  const notes = {};
  for (const result of settled) {
    const how = shown[result.kind];
    const item = document.createElement('li');
    item.className = how.className;
    item.dataset.kind = result.kind;
    item.textContent = result.kind === 'unanswered' ? `${result.name}: not answered` : `${result.name}: ${result.text}`;
    if (result.kind === 'unchanged') item.title = 'The channel refused the write but already holds this value.';
    list.append(item);
    notes[result.name] = {
      text: how.note(result),
      className: `answer ${how.className}`,
      value: result.holds ?? valueOf(result.name) ?? '',
    };
  }
  if (preamble) {
    const item = document.createElement('li');
    item.textContent = preamble;
    list.prepend(item);
  }
  box.replaceChildren(heading, list);
  setNotes(notes);
  await loadChannels();
}
