// The feature tree: every feature of the selected channel by group, with its unit, meaning and
// value, an editor where it can be written, and the channel's answer to the last write under it.
import { api, apiJson } from './api.js';
import { channelPath, onSelect, onStatus, selectedChannel } from './channel.js';
import { choicesFor, editorKind, featureTitle, flagsText, groupFeatures, noteShows } from './lib/features.js';
import { $, say } from './ui.js';

let features = [];
let acquiring = false; // of the selected channel: its image region is then fixed
let editing = false;
let notes = new Map(); // by feature name: { text, className, value (what the channel held then) }
const writeListeners = [];

export const isEditing = () => editing;
export const currentFeatures = () => features;
export const valueOf = (name) => features.find((f) => f.name === name)?.value ?? undefined;

// `listener(name)` runs after the page wrote a feature or executed a command and read them again.
export function onWritten(listener) {
  writeListeners.push(listener);
}

onSelect(() => {
  notes = new Map();
});

onStatus((status) => {
  if (status.acquiring === acquiring) return;
  acquiring = status.acquiring;
  if (!editing) render();
});

// Reads every feature again and shows them; a failure is said on the message line.
export async function loadFeatures() {
  const channel = selectedChannel();
  let read;
  try {
    read = await apiJson('GET', channelPath('features', channel));
  } catch (error) {
    if (channel === selectedChannel()) say(error.message, true);
    return;
  }
  if (channel !== selectedChannel()) return;
  features = read;
  render();
}

// Notes for several features at once (a profile's answer): `{ name: { text, className, value } }`.
export function setNotes(byName) {
  for (const [name, note] of Object.entries(byName)) notes.set(name, note);
  render();
}

function render() {
  const open = new Set(Array.from(document.querySelectorAll('#feature-groups details[open]'), (d) => d.dataset.group));
  const first = document.querySelectorAll('#feature-groups details').length === 0;
  const container = $('feature-groups');
  container.replaceChildren();
  editing = false;
  for (const { group, members } of groupFeatures(features)) {
    const details = document.createElement('details');
    details.dataset.group = group;
    details.open = first ? group !== 'Transport' && group !== 'Assistants' : open.has(group);
    const summary = document.createElement('summary');
    summary.textContent = `${group} (${members.length})`;
    details.append(summary);
    for (const feature of members) details.append(featureRow(feature));
    container.append(details);
  }
}

function featureRow(feature) {
  const row = document.createElement('div');
  row.className = 'feature';
  row.dataset.name = feature.name;
  const head = document.createElement('div');
  head.className = 'feature-head';
  const name = document.createElement('span');
  name.className = 'feature-name';
  name.textContent = feature.name;
  name.title = featureTitle(feature);
  const type = document.createElement('span');
  type.className = 'feature-type';
  type.textContent = `${feature.type} · ${flagsText(feature)}`;
  type.title = 'R readable, W writable, C a common acquisition parameter of the host';
  head.append(name, type);
  const value = document.createElement('div');
  value.className = 'feature-value';
  const answer = document.createElement('div');
  answer.className = 'answer';
  const kind = editorKind(feature, acquiring);
  value.append(editorFor(feature, kind, answer));
  if (feature.unit) {
    const unit = document.createElement('span');
    unit.className = 'unit';
    unit.textContent = feature.unit;
    value.append(unit);
  }
  if (kind === 'fixed') {
    const note = document.createElement('span');
    note.className = 'fixed';
    note.textContent = 'fixed while acquiring';
    note.title = 'The camera takes this setting only while it does not stream: stop, then change it.';
    value.append(note);
  }
  const last = notes.get(feature.name);
  if (noteShows(last, feature.value)) {
    answer.textContent = last.text;
    answer.className = last.className;
  } else if (feature.error) {
    answer.textContent = feature.error;
    answer.className = 'answer bad';
  }
  row.append(head, value, answer);
  return row;
}

function editorFor(feature, kind, answer) {
  const current = feature.value ?? '';
  if (kind === 'command') {
    const button = document.createElement('button');
    button.textContent = 'Execute';
    button.disabled = !feature.writable;
    button.addEventListener('click', () => execute(feature.name, answer, button));
    return button;
  }
  if (kind === 'fixed' || kind === 'readonly') {
    const output = document.createElement('output');
    output.textContent = current === '' ? '—' : current;
    return output;
  }
  if (kind === 'choice') {
    const choices = choicesFor(feature);
    const select = document.createElement('select');
    for (const choice of choices) select.append(new Option(choice, choice, false, choice === current));
    if (!choices.includes(current)) select.append(new Option(current === '' ? '(empty)' : current, current, false, true));
    select.addEventListener('change', () => write(feature.name, select.value, answer));
    return select;
  }
  const input = document.createElement('input');
  input.value = current;
  input.spellcheck = false;
  if (feature.type === 'Int' || feature.type === 'Float') input.inputMode = 'decimal';
  input.addEventListener('focus', () => { editing = true; });
  input.addEventListener('blur', () => {
    editing = false;
    if (input.value !== input.defaultValue) write(feature.name, input.value, answer);
  });
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      input.defaultValue = input.value;
      write(feature.name, input.value, answer);
    }
    if (event.key === 'Escape') input.value = input.defaultValue;
  });
  input.defaultValue = current;
  return input;
}

function showNote(name, answer, note) {
  notes.set(name, note);
  answer.textContent = note.text;
  answer.className = note.className;
}

// Writes the value and shows the channel's answer: the value it holds, or its error verbatim. Other
// features may change with it (a camera sets region, exposure and gain), so all are read again.
async function write(name, value, answer) {
  const before = valueOf(name) ?? '';
  const response = await api('PUT', channelPath(`features/${encodeURIComponent(name)}`), value);
  const text = await response.text();
  if (response.ok) {
    const written = response.headers.get('X-Zeb-Written');
    showNote(name, answer, {
      text: written === 'held' ? `holds ${text}` : `holds ${text} (${written})`,
      className: written === 'adjusted' ? 'answer adjusted' : 'answer good',
      value: text,
    });
  } else {
    showNote(name, answer, { text, className: 'answer bad', value: before });
  }
  await loadFeatures();
  for (const listener of writeListeners) listener(name);
}

async function execute(name, answer, button) {
  button.disabled = true;
  try {
    const response = await api('POST', channelPath(`commands/${encodeURIComponent(name)}`));
    const text = await response.text();
    showNote(name, answer, { text: response.ok ? 'done' : text, className: response.ok ? 'answer good' : 'answer bad', value: '' });
    await loadFeatures();
    for (const listener of writeListeners) listener(name);
  } finally {
    button.disabled = false;
  }
}

$('refresh-features').addEventListener('click', loadFeatures);
