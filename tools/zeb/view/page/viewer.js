// zeb view's page: it uses the JSON API of zeb view and nothing else.
'use strict';

// This page's id: every request carries it, so that what the page started stops when it is gone.
const pageId = Array.from(crypto.getRandomValues(new Uint8Array(12)), (b) => b.toString(16).padStart(2, '0')).join('');

const $ = (id) => document.getElementById(id);
const state = {
  channels: [],
  channel: 0,
  revision: 0,
  status: null,
  shownSet: 0,
  fetching: false,
  features: [],
  editing: false,
  answers: {}, // the channel's last answer to an edit, by feature name
  assistantTimer: null,
  zoom: null,
  acquiring: false, // of the selected channel: its region features are then fixed
  poll: null, // the status request under way, aborted when another channel is selected
  connected: true,
};

// Every request of the page goes through here: its page id, and whether zeb view still answers.
async function api(method, path, body, signal) {
  const options = { method, headers: { 'X-Zeb-Client': pageId }, signal };
  if (body !== undefined) {
    options.body = body;
    options.headers['Content-Type'] = 'text/plain; charset=utf-8';
  }
  let response;
  try {
    response = await fetch(path, options);
  } catch (error) {
    if (error.name !== 'AbortError') showConnection(false);
    throw error;
  }
  showConnection(true);
  return response;
}

// Once zeb view is gone nothing on the page is live any more, and nothing can be started.
function showConnection(connected) {
  state.connected = connected;
  const connection = $('connection');
  connection.textContent = connected ? 'connected' : 'disconnected: zeb view does not answer';
  connection.classList.toggle('lost', !connected);
  if (!connected) {
    $('statistics').textContent = 'disconnected';
    for (const id of ['start', 'stop', 'save', 'record']) $(id).disabled = true;
  }
}

async function apiJson(method, path, body) {
  const response = await api(method, path, body);
  if (!response.ok) throw new Error(await response.text());
  return response.json();
}

function channelPath(rest) {
  return `/api/channels/${state.channel}/${rest}`;
}

function say(text, bad) {
  const message = $('message');
  message.textContent = text;
  message.classList.toggle('bad', Boolean(bad));
}

// ---- channels ----

async function loadChannels() {
  state.channels = await apiJson('GET', '/api/channels');
  const nav = $('channels');
  nav.replaceChildren();
  for (const channel of state.channels) {
    const button = document.createElement('button');
    button.textContent = `#${channel.index} ${channel.scanType} · ${channel.camera}`;
    button.title = `${channel.name}, serial number ${channel.serial}`;
    button.classList.toggle('selected', channel.index === state.channel);
    button.addEventListener('click', () => selectChannel(channel.index));
    nav.append(button);
  }
}

// The page shows the selected channel at once: the previous channel's status request is dropped,
// its images cleared, and the new channel's status read before anything else.
async function selectChannel(index) {
  state.channel = index;
  state.revision = 0;
  state.shownSet = 0;
  state.status = null;
  state.answers = {};
  if (state.poll) state.poll.abort();
  for (const pane of document.querySelectorAll('figure.pane')) {
    const canvas = pane.querySelector('canvas');
    canvas.width = 0;
    canvas.height = 0;
    delete pane.dataset.set;
  }
  for (const canvas of document.querySelectorAll('.direction-histogram')) drawCounts(canvas, null);
  drawHistogram(null);
  $('set-facts').textContent = '';
  for (const facts of document.querySelectorAll('.direction-facts')) facts.textContent = '';
  for (const id of ['start', 'stop', 'save', 'record']) $(id).disabled = true;
  $('statistics').textContent = '';
  say('');
  try {
    const status = await apiJson('GET', `/api/channels/${index}/status`);
    if (index === state.channel) {
      state.revision = status.revision;
      showStatus(status);
      if (status.imageSet) showImageSet(status.imageSet);
    }
  } catch (error) {
    say(error.message, true);
  }
  await loadChannels();
  await loadFeatures();
}

// ---- features ----

const groupOrder = ['Device and camera', 'Image format', 'Acquisition', 'Lighting', 'Assistants', 'Transport', 'Other'];

async function loadFeatures() {
  try {
    state.features = await apiJson('GET', channelPath('features'));
  } catch (error) {
    say(error.message, true);
    return;
  }
  renderFeatures();
}

function renderFeatures() {
  const open = new Set(Array.from(document.querySelectorAll('#feature-groups details[open]'), (d) => d.dataset.group));
  const first = document.querySelectorAll('#feature-groups details').length === 0;
  const container = $('feature-groups');
  container.replaceChildren();
  state.editing = false;
  for (const group of groupOrder) {
    const members = state.features.filter((f) => f.group === group);
    if (members.length === 0) continue;
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
  name.title = feature.description + (feature.limits ? `\nLimits: ${feature.limits}.` : '') +
    (feature.unit ? `\nUnit: ${feature.unit}` : '');
  const type = document.createElement('span');
  type.className = 'feature-type';
  const flags = (feature.readable ? 'R' : '-') + (feature.writable ? 'W' : '-') + (feature.common ? 'C' : '-');
  type.textContent = `${feature.type} · ${flags}`;
  type.title = 'R readable, W writable, C a common acquisition parameter of the host';
  head.append(name, type);
  const value = document.createElement('div');
  value.className = 'feature-value';
  const answer = document.createElement('div');
  answer.className = 'answer';
  const fixed = feature.fixedWhileAcquiring && state.acquiring;
  value.append(fixed ? readOnlyValue(feature.value ?? '') : editorFor(feature, answer));
  if (feature.unit) {
    const unit = document.createElement('span');
    unit.className = 'unit';
    unit.textContent = feature.unit;
    value.append(unit);
  }
  if (fixed) {
    const note = document.createElement('span');
    note.className = 'fixed';
    note.textContent = 'fixed while acquiring';
    note.title = 'The camera takes a new image region only while it does not stream: stop, then change it.';
    value.append(note);
  }
  const last = state.answers[feature.name];
  if (last) {
    answer.textContent = last.text;
    answer.className = last.className;
  } else if (feature.error) {
    answer.textContent = feature.error;
    answer.className = 'answer bad';
  }
  row.append(head, value, answer);
  return row;
}

function editorFor(feature, answer) {
  if (feature.type === 'Command') {
    const button = document.createElement('button');
    button.textContent = 'Execute';
    button.disabled = !feature.writable;
    button.addEventListener('click', () => execute(feature.name, answer, button));
    return button;
  }
  const current = feature.value ?? '';
  if (!feature.writable) return readOnlyValue(current);
  const choices = feature.type === 'Bool' ? ['True', 'False'] : feature.choices;
  if (choices.length > 0) {
    const select = document.createElement('select');
    for (const choice of choices) select.append(new Option(choice, choice, false, choice === current));
    if (!choices.includes(current)) select.append(new Option(current === '' ? '(empty)' : current, current, false, true));
    select.addEventListener('change', () => write(feature.name, select.value, answer, select));
    return select;
  }
  const input = document.createElement('input');
  input.value = current;
  input.spellcheck = false;
  if (feature.type === 'Int' || feature.type === 'Float') input.inputMode = 'decimal';
  input.addEventListener('focus', () => { state.editing = true; });
  input.addEventListener('blur', () => {
    state.editing = false;
    if (input.value !== input.defaultValue) write(feature.name, input.value, answer, input);
  });
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      input.defaultValue = input.value;
      write(feature.name, input.value, answer, input);
    }
    if (event.key === 'Escape') input.value = input.defaultValue;
  });
  input.defaultValue = current;
  return input;
}

function readOnlyValue(text) {
  const output = document.createElement('output');
  output.textContent = text === '' ? '—' : text;
  return output;
}

function showAnswer(name, answer, text, className) {
  state.answers[name] = { text, className };
  answer.textContent = text;
  answer.className = className;
}

// Writes the value and shows the channel's answer: the value it holds, or its error verbatim. Other
// features may change with it (a camera sets region, exposure and gain), so all are read again.
async function write(name, value, answer, editor) {
  const response = await api('PUT', channelPath(`features/${encodeURIComponent(name)}`), value);
  const text = await response.text();
  if (response.ok) {
    const written = response.headers.get('X-Zeb-Written');
    showAnswer(name, answer, written === 'held' ? `holds ${text}` : `holds ${text} (${written})`,
      written === 'adjusted' ? 'answer adjusted' : 'answer good');
  } else {
    showAnswer(name, answer, text, 'answer bad');
  }
  await loadFeatures();
}

async function execute(name, answer, button) {
  button.disabled = true;
  try {
    const response = await api('POST', channelPath(`commands/${encodeURIComponent(name)}`));
    const text = await response.text();
    showAnswer(name, answer, response.ok ? 'done' : text, response.ok ? 'answer good' : 'answer bad');
    await loadFeatures();
    if (name === 'DeviceImageSourceDetect') await loadChannels();
  } finally {
    button.disabled = false;
  }
}

// ---- profiles ----

$('save-profile').addEventListener('click', async () => {
  const response = await api('GET', channelPath('profile'));
  const text = await response.text();
  if (!response.ok) {
    say(`Save profile: ${text}`, true);
    return;
  }
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
  link.download = `zeb-channel${state.channel}.profile`;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  say(`saved the profile of channel ${state.channel} as ${link.download}`);
});
$('load-profile').addEventListener('click', () => $('profile-file').click());
$('profile-file').addEventListener('change', async () => {
  const file = $('profile-file').files[0];
  $('profile-file').value = '';
  if (file) await loadProfile(file.name, await file.text());
});

// Applies a profile's settings in order and shows what the channel holds after each.
async function loadProfile(name, text) {
  const response = await api('PUT', channelPath('profile'), text);
  const answer = $('profile-answer');
  answer.hidden = false;
  answer.textContent = `${name}:\n${await response.text()}`;
  answer.classList.toggle('bad', !response.ok);
  await loadFeatures();
  await loadChannels();
}

// ---- acquisition ----

async function control(path, what) {
  const response = await api('POST', channelPath(path));
  const text = await response.text();
  if (!response.ok) say(`${what}: ${text}`, true);
  else say('');
  await loadFeatures();
  return response.ok;
}

$('start').addEventListener('click', () => control('acquisition/start', 'Start'));
$('stop').addEventListener('click', () => control('acquisition/stop', 'Stop'));
$('save').addEventListener('click', async () => {
  const response = await api('POST', channelPath('save'));
  if (!response.ok) {
    say(`Save: ${await response.text()}`, true);
    return;
  }
  const saved = await response.json();
  say(`saved image set ${saved.imageSet}: ${saved.files.join(', ')}`);
});
$('refresh-features').addEventListener('click', loadFeatures);
$('record').addEventListener('click', async () => {
  const amount = Math.floor(Number($('record-amount').value));
  if (!(amount >= 1)) {
    say('Record: give how many image sets or seconds, 1 or more', true);
    return;
  }
  // Recording takes the image sets of the running acquisition: start one first when none runs.
  if (!state.status || state.status.mode !== 'live') {
    if (!(await control('acquisition/start', 'Start'))) return;
  }
  const response = await api('POST', channelPath(`recording/start?${$('record-unit').value}=${amount}`));
  if (!response.ok) say(`Record: ${await response.text()}`, true);
});
$('saturation').addEventListener('change', () => { state.shownSet = 0; });

function showStatus(status) {
  if (status.channel !== state.channel) return;
  state.status = status;
  const s = status.statistics;
  const running = status.acquiring;
  $('start').disabled = running;
  $('stop').disabled = status.mode !== 'live';
  $('save').disabled = !status.imageSet;
  $('record').disabled = status.mode === 'assistant' || status.recording.active;
  if (running !== state.acquiring) {
    state.acquiring = running;
    if (!state.editing) renderFeatures();
  }
  $('failure').textContent = s.lastFailure ? `last failed image set: ${s.lastFailure}` : '';
  showRecording(status.recording);
  const mode = status.mode === 'assistant' ? 'assistant acquiring' : status.mode === 'live' ? 'live' : 'stopped';
  $('statistics').textContent =
    `${mode} · ${s.perSecond.toFixed(1)} image sets/s · ${s.imageSets} sets · ${s.lost} lost · ${s.failed} failed`;
  if (status.error) say(status.error, true);
  const set = status.imageSet;
  const sides = set ? set.litFrom : [];
  document.querySelectorAll('#directions figure').forEach((figure, k) => {
    const side = sides[k] ? ` · lit from ${sides[k]}` : '';
    const unavailable = set && set.averaged;
    figure.classList.toggle('unavailable', Boolean(unavailable));
    figure.querySelector('figcaption').textContent =
      `Direction ${k}${side}` + (unavailable ? ' · averaged image sets have no single directions' : '');
    const grey = set && set.directions[k];
    const facts = figure.querySelector('.direction-facts');
    drawCounts(figure.querySelector('.direction-histogram'), grey ? grey.histogram : null);
    facts.textContent = grey ? greyFacts(grey) : '';
    facts.classList.toggle('clipping', Boolean(grey && grey.saturatedPercent > 0));
  });
  if (set) {
    $('set-facts').textContent =
      `image set ${set.number} · ${set.directionWidth} x ${set.directionHeight} per direction · ` +
      `exposure ${set.exposureTime} us · gain ${set.gain} · ${set.lightingSequence}, ${set.lightingOrientation}` +
      (set.averaged ? ' · averaged by the plug-in' : '');
    drawHistogram(set);
  }
}

function showRecording(recording) {
  const line = $('recording');
  if (recording.active) {
    const goal = recording.count > 0 ? `${recording.count} image sets` : `${recording.seconds} s`;
    line.textContent = `recording ${goal}: ${recording.written} written`;
  } else if (recording.written > 0 || recording.ended) {
    line.textContent = `recorded ${recording.written} image sets` +
      (recording.files.length ? `, the last ${recording.files.join(', ')}` : '') +
      (recording.ended ? ` (${recording.ended})` : '');
  } else {
    line.textContent = '';
  }
}

function greyFacts(grey) {
  return `mean ${grey.mean.toFixed(1)} · saturated ${grey.saturatedPercent.toFixed(3)} % · dark ${grey.darkPercent.toFixed(3)} %`;
}

// Waits for each change of the selected channel (an image set, a start or stop) and shows it; a
// change of channel aborts the wait, so the new channel is followed at once.
async function follow() {
  while (true) {
    const channel = state.channel;
    const poll = new AbortController();
    state.poll = poll;
    try {
      const response = await api('GET', `/api/channels/${channel}/status?since=${state.revision}&wait=2000`, undefined, poll.signal);
      if (!response.ok) throw new Error(await response.text());
      const status = await response.json();
      if (channel !== state.channel) continue;
      state.revision = status.revision;
      showStatus(status);
      if (status.imageSet && status.imageSet.number !== state.shownSet && !state.fetching) showImageSet(status.imageSet);
    } catch (error) {
      if (poll.signal.aborted) continue;
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

// Draws the panes from the latest image set: previews shrunk to the panes' size, saturated pixels red.
async function showImageSet(set) {
  const channel = state.channel;
  state.fetching = true;
  try {
    const panes = Array.from(document.querySelectorAll('figure.pane'));
    await Promise.all(panes.map(async (pane) => {
      const form = pane.dataset.form;
      if (!set.forms.includes(form)) return;
      const shownWidth = Math.max(pane.clientWidth * devicePixelRatio, 64);
      const scale = Math.max(1, Math.min(16, Math.floor(set.directionWidth / shownWidth)));
      const response = await api('GET', `/api/channels/${channel}/image.png?form=${form}&scale=${scale}`);
      if (!response.ok) return;
      const bitmap = await createImageBitmap(await response.blob());
      // Another channel selected meanwhile: this one's images are not shown under its tab.
      if (channel !== state.channel) return;
      drawImage(pane.querySelector('canvas'), bitmap);
      pane.dataset.set = response.headers.get('X-Zeb-Image-Set');
    }));
    if (channel === state.channel) {
      state.shownSet = set.number;
      document.dispatchEvent(new CustomEvent('zeb-image-set', { detail: set }));
      if (state.zoom) await loadZoomImage();
    }
  } finally {
    state.fetching = false;
  }
  // A set that arrived while these were drawn is drawn next, even if no other follows it.
  const latest = state.status && state.status.imageSet;
  if (latest && latest.number !== state.shownSet && state.status.channel === state.channel) showImageSet(latest);
}

function drawImage(canvas, bitmap) {
  canvas.width = bitmap.width;
  canvas.height = bitmap.height;
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  if ($('saturation').checked) markSaturated(context, bitmap.width, bitmap.height);
}

function markSaturated(context, width, height) {
  const image = context.getImageData(0, 0, width, height);
  const pixels = image.data;
  let marked = false;
  for (let i = 0; i < pixels.length; i += 4) {
    if (pixels[i] === 255) {
      pixels[i + 1] = 0;
      pixels[i + 2] = 0;
      marked = true;
    }
  }
  if (marked) context.putImageData(image, 0, 0);
}

function drawHistogram(set) {
  drawCounts($('histogram'), set ? set.histogram : null);
  if (set) $('histogram-caption').textContent = `Histogram of every delivered pixel (logarithmic) · ${greyFacts(set)}`;
}

// 256 grey counts on a logarithmic scale; saturated red, dark blue.
function drawCounts(canvas, counts) {
  const context = canvas.getContext('2d');
  context.clearRect(0, 0, canvas.width, canvas.height);
  if (!counts) return;
  const top = Math.log1p(Math.max(...counts));
  const barWidth = canvas.width / 256;
  for (let grey = 0; grey < 256; ++grey) {
    const height = top > 0 ? (Math.log1p(counts[grey]) / top) * (canvas.height - 4) : 0;
    context.fillStyle = grey === 255 && counts[grey] > 0 ? '#e05050' : grey < 10 && counts[grey] > 0 ? '#4f9ee8' : '#c8cdd2';
    context.fillRect(grey * barWidth, canvas.height - height, Math.max(barWidth, 1), height);
  }
}

// ---- zoom ----

// From this zoom on, each pixel carries its grey value (the hint says the same number).
const valuesFrom = 16;
$('zoom-hint').textContent =
  `Wheel zooms at the pointer, dragging moves the image; from ${valuesFrom} x on every pixel shows its grey value.`;

for (const pane of document.querySelectorAll('figure.pane')) {
  pane.querySelector('canvas').addEventListener('click', () => openZoom(pane.dataset.form));
}

async function openZoom(form) {
  const set = state.status && state.status.imageSet;
  if (!set || !set.forms.includes(form)) return;
  state.zoom = { form, image: null, scale: 0, x: 0, y: 0, fitted: false };
  $('zoom-title').textContent = form === 'average' ? 'Average' : `Direction ${form.slice(-1)}`;
  $('zoom').showModal();
  await loadZoomImage();
}

async function loadZoomImage() {
  const zoom = state.zoom;
  if (!zoom) return;
  const response = await api('GET', channelPath(`image.png?form=${zoom.form}`));
  if (!response.ok) return;
  const bitmap = await createImageBitmap(await response.blob());
  if (zoom !== state.zoom) return;
  const canvas = document.createElement('canvas');
  canvas.width = bitmap.width;
  canvas.height = bitmap.height;
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  // The grey values as delivered, read before the saturation overlay colours the picture.
  zoom.grey = context.getImageData(0, 0, canvas.width, canvas.height).data;
  if ($('saturation').checked) markSaturated(context, canvas.width, canvas.height);
  zoom.image = canvas;
  if (!zoom.fitted) fitZoom();
  drawZoom();
  showReadout();
}

function fitZoom() {
  const zoom = state.zoom;
  const canvas = $('zoom-canvas');
  zoom.scale = Math.min(canvas.width / zoom.image.width, canvas.height / zoom.image.height);
  zoom.x = (canvas.width - zoom.image.width * zoom.scale) / 2;
  zoom.y = (canvas.height - zoom.image.height * zoom.scale) / 2;
  zoom.fitted = true;
}

function drawZoom() {
  const zoom = state.zoom;
  if (!zoom || !zoom.image) return;
  const canvas = $('zoom-canvas');
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.fillStyle = '#000';
  context.fillRect(0, 0, canvas.width, canvas.height);
  context.drawImage(zoom.image, zoom.x, zoom.y, zoom.image.width * zoom.scale, zoom.image.height * zoom.scale);
  drawPixelValues(context, zoom, canvas);
}

// At high zoom each pixel carries its grey value.
function drawPixelValues(context, zoom, canvas) {
  const first = { x: Math.max(0, Math.floor(-zoom.x / zoom.scale)), y: Math.max(0, Math.floor(-zoom.y / zoom.scale)) };
  const last = {
    x: Math.min(zoom.image.width - 1, Math.floor((canvas.width - zoom.x) / zoom.scale)),
    y: Math.min(zoom.image.height - 1, Math.floor((canvas.height - zoom.y) / zoom.scale)),
  };
  if (zoom.scale < valuesFrom) return;
  context.font = `${Math.min(14, zoom.scale / 3)}px ui-monospace, monospace`;
  context.textAlign = 'center';
  context.textBaseline = 'middle';
  for (let y = first.y; y <= last.y; ++y) {
    for (let x = first.x; x <= last.x; ++x) {
      const grey = greyAt(zoom, x, y);
      context.fillStyle = grey > 128 ? '#000' : '#fff';
      context.fillText(String(grey), zoom.x + (x + 0.5) * zoom.scale, zoom.y + (y + 0.5) * zoom.scale);
    }
  }
}

const zoomCanvas = $('zoom-canvas');
zoomCanvas.addEventListener('wheel', (event) => {
  const zoom = state.zoom;
  if (!zoom || !zoom.image) return;
  event.preventDefault();
  const rect = zoomCanvas.getBoundingClientRect();
  const px = (event.clientX - rect.left) * (zoomCanvas.width / rect.width);
  const py = (event.clientY - rect.top) * (zoomCanvas.height / rect.height);
  const factor = event.deltaY < 0 ? 1.25 : 0.8;
  const scale = Math.min(64, Math.max(0.05, zoom.scale * factor));
  zoom.x = px - ((px - zoom.x) * scale) / zoom.scale;
  zoom.y = py - ((py - zoom.y) * scale) / zoom.scale;
  zoom.scale = scale;
  drawZoom();
  showReadout();
}, { passive: false });
let drag = null;
zoomCanvas.addEventListener('mousedown', (event) => { drag = { x: event.clientX, y: event.clientY }; });
window.addEventListener('mouseup', () => { drag = null; });
zoomCanvas.addEventListener('mousemove', (event) => {
  const zoom = state.zoom;
  if (!zoom || !zoom.image) return;
  const rect = zoomCanvas.getBoundingClientRect();
  const ratio = zoomCanvas.width / rect.width;
  if (drag) {
    zoom.x += (event.clientX - drag.x) * ratio;
    zoom.y += (event.clientY - drag.y) * ratio;
    drag = { x: event.clientX, y: event.clientY };
    drawZoom();
  }
  zoom.pointer = { x: (event.clientX - rect.left) * ratio, y: (event.clientY - rect.top) * ratio };
  showReadout();
});

function greyAt(zoom, x, y) {
  return zoom.grey[(y * zoom.image.width + x) * 4];
}

// The pixel under the pointer with its grey value, and the zoom as it is now.
function showReadout() {
  const zoom = state.zoom;
  if (!zoom || !zoom.image) return;
  const pointer = zoom.pointer;
  const x = pointer ? Math.floor((pointer.x - zoom.x) / zoom.scale) : -1;
  const y = pointer ? Math.floor((pointer.y - zoom.y) / zoom.scale) : -1;
  const inside = x >= 0 && y >= 0 && x < zoom.image.width && y < zoom.image.height;
  $('zoom-readout').textContent = inside
    ? `x ${x}, y ${y}: grey ${greyAt(zoom, x, y)} · ${zoom.scale.toFixed(2)} x`
    : `${zoom.scale.toFixed(2)} x`;
}

$('zoom-fit').addEventListener('click', () => { if (state.zoom && state.zoom.image) { fitZoom(); drawZoom(); showReadout(); } });
$('zoom-one').addEventListener('click', () => {
  const zoom = state.zoom;
  if (!zoom || !zoom.image) return;
  zoom.scale = 1;
  zoom.x = 0;
  zoom.y = 0;
  drawZoom();
  showReadout();
});
$('zoom-close').addEventListener('click', () => $('zoom').close());
$('zoom').addEventListener('close', () => { state.zoom = null; });

// ---- assistants ----

// The dialog leaves the page usable: a fix it offers, or any other setting, can be applied meanwhile.
$('open-assistant').addEventListener('click', async () => {
  if ($('assistant').open) return;
  $('assistant').show();
  await refreshAssistant(true);
  state.assistantTimer = setInterval(() => refreshAssistant(false), 400);
});
$('assistant-close').addEventListener('click', () => $('assistant').close());
$('assistant').addEventListener('close', () => {
  clearInterval(state.assistantTimer);
  state.assistantTimer = null;
  loadFeatures();
});
$('assistant-start').addEventListener('click', () => assistantControl('start', $('assistant-name').value));
$('assistant-next').addEventListener('click', () => assistantControl('next'));
$('assistant-stop').addEventListener('click', () => assistantControl('stop'));
$('assistant-fix').addEventListener('click', async () => {
  const fix = state.assistantFix;
  if (!fix) return;
  const response = await api('PUT', channelPath(`features/${encodeURIComponent(fix.name)}`), fix.value);
  const text = await response.text();
  $('assistant-fix-answer').textContent = response.ok ? `${fix.name} holds ${text}` : text;
  await loadFeatures();
  await refreshAssistant(false);
});

async function assistantControl(what, body) {
  const response = await api('POST', channelPath(`assistant/${what}`), body);
  if (!response.ok) $('assistant-error').textContent = await response.text();
  else $('assistant-error').textContent = '';
  await refreshAssistant(false);
}

async function refreshAssistant(fillChoices) {
  let view;
  try {
    view = await apiJson('GET', channelPath('assistant'));
  } catch (error) {
    $('assistant-error').textContent = error.message;
    return;
  }
  const select = $('assistant-name');
  if (fillChoices || select.options.length === 0) {
    select.replaceChildren(...view.choices.map((c) => new Option(c, c, false, c === (view.name || view.selector))));
  }
  select.disabled = view.running;
  $('assistant-start').disabled = view.running;
  $('assistant-next').disabled = !view.running || view.result !== 'Success';
  $('assistant-stop').disabled = !view.running;
  $('assistant-instruction').textContent = view.instruction || (view.running ? '' : 'Choose an assistant and press Start.');
  const result = $('assistant-result');
  result.textContent = view.result || '';
  result.className = `result ${view.result || ''}`;
  result.hidden = !view.result;
  $('assistant-message').textContent = view.message;
  $('assistant-arguments').replaceChildren(...view.arguments.map((a) => {
    const item = document.createElement('li');
    item.textContent = a;
    return item;
  }));
  $('assistant-images').textContent = view.active || view.images > 0 ? `${view.images} image sets evaluated` : '';
  if (view.error) $('assistant-error').textContent = view.error;
  // The setting the result implies, offered as one click (the orientation: "Apply 90 deg").
  state.assistantFix = view.fix;
  $('assistant-fix-line').hidden = !view.fix;
  if (view.fix) {
    $('assistant-fix').textContent = `Apply ${view.fix.value}`;
    $('assistant-fix').title = `Set ${view.fix.name} to "${view.fix.value}"`;
  } else {
    $('assistant-fix-answer').textContent = '';
  }
  const graph = $('focus-graph');
  graph.hidden = view.name !== 'Focus detection';
  if (!graph.hidden) drawFocusGraph(graph, view.history);
}

// The focus value of every evaluated image set and the maximum so far: the lens is sharp at the peak.
function drawFocusGraph(canvas, history) {
  const points = history.filter((a) => a.length >= 2).map((a) => [Number(a[0]), Number(a[1])]);
  const context = canvas.getContext('2d');
  context.clearRect(0, 0, canvas.width, canvas.height);
  context.fillStyle = '#9aa3ab';
  context.font = '12px system-ui, sans-serif';
  if (points.length === 0) {
    context.fillText('the focus value of each image set appears here', 10, 20);
    return;
  }
  const top = Math.max(1, ...points.map((p) => p[1])) * 1.1;
  const x = (i) => 30 + (i / Math.max(1, points.length - 1)) * (canvas.width - 40);
  const y = (v) => canvas.height - 20 - (v / top) * (canvas.height - 30);
  const line = (index, colour) => {
    context.strokeStyle = colour;
    context.lineWidth = 2;
    context.beginPath();
    points.forEach((p, i) => (i === 0 ? context.moveTo(x(i), y(p[index])) : context.lineTo(x(i), y(p[index]))));
    context.stroke();
  };
  line(1, '#e0a030');
  line(0, '#4f9ee8');
  const lastPoint = points[points.length - 1];
  context.fillText(`focus value ${lastPoint[0]} (blue) · maximum ${lastPoint[1]} (orange)`, 30, 14);
}

// ---- start ----

window.addEventListener('pagehide', () => navigator.sendBeacon(`/api/clients/${pageId}/close`));

(async function start() {
  try {
    await loadChannels();
    await loadFeatures();
  } catch (error) {
    say(error.message, true);
  }
  follow();
  // The feature values change under the page too (assistants, line rates): read them now and then.
  setInterval(() => {
    if (!state.editing && !$('zoom').open && state.connected) loadFeatures();
  }, 5000);
})();
