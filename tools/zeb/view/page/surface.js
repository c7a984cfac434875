// The Surface panel: the latest image set's albedo, normals, mean curvature or height as the lighting
// model in use computes them, "Save surface" (the files of zeb acquire --surface), and the
// calibration on the sphere with its figures and advice. The picture follows the image sets the
// live view shows; one that is not of the set shown is dimmed and the caption says why.
import { api, apiJson } from './api.js';
import { channelPath, currentStatus, onSelect, selectedChannel } from './channel.js';
import { loadFeatures } from './features.js';
import { previewScale } from './lib/histogram.js';
import { saveMessage } from './lib/messages.js';
import { averagedCaption, calibrationFigures, lightText, surfaceCaption, waitingCaption } from './lib/surface.js';
import { onImageSetShown } from './live.js';
import { $, clearCanvas, say } from './ui.js';

let form = 'normals';
let fetching = false;
let shown = 0; // the image set the picture is of
let pending = null; // a set (or another picture) asked for while one was fetched

const panel = $('surface');
panel.innerHTML = `
  <div class="surface-head">
    <h2>Surface</h2>
    <fieldset class="needs-server surface-forms" role="radiogroup" aria-label="Surface picture">
      <label><input type="radio" name="surface-form" value="albedo"> albedo</label>
      <label><input type="radio" name="surface-form" value="normals" checked> normals</label>
      <label><input type="radio" name="surface-form" value="curvature"> curvature</label>
      <label><input type="radio" name="surface-form" value="height"> height</label>
    </fieldset>
  </div>
  <canvas id="surface-canvas"></canvas>
  <figcaption id="surface-caption"></figcaption>
  <p id="surface-model" class="facts"></p>
  <fieldset class="needs-server">
    <button id="save-surface" title="The image set and its normals, albedo and curvature, as zeb acquire --surface writes them, into the --out folder">Save surface</button>
    <button id="calibrate">Calibrate with the sphere</button>
    <div id="calibration" hidden>
      <p id="calibration-figures" class="facts"></p>
      <ol id="calibration-lights" class="arguments" start="0"></ol>
      <p id="calibration-advice"></p>
      <button id="apply-orientation" class="primary" hidden></button>
    </div>
  </fieldset>`;
$('surface-caption').textContent = waitingCaption;

for (const radio of panel.querySelectorAll('input[name="surface-form"]')) {
  radio.addEventListener('change', () => {
    form = radio.value;
    shown = 0;
    const set = currentStatus() && currentStatus().imageSet;
    if (set) showSurface(set);
  });
}
$('calibrate').addEventListener('click', calibrate);
$('save-surface').addEventListener('click', saveSurface);
$('apply-orientation').addEventListener('click', applyOrientation);

// Nothing of the previous channel's surface or calibration stays under the new one's tab.
onSelect(() => {
  shown = 0;
  pending = null;
  const canvas = $('surface-canvas');
  clearCanvas(canvas);
  canvas.classList.remove('stale');
  delete canvas.dataset.set;
  delete canvas.dataset.form;
  $('surface-caption').textContent = waitingCaption;
  $('surface-model').textContent = '';
  $('calibration').hidden = true;
  $('apply-orientation').hidden = true;
});

onImageSetShown((set) => showSurface(set));

// The picture is kept but dimmed: it is not of the image set the live view shows.
function showNotCurrent(text) {
  $('surface-canvas').classList.add('stale');
  $('surface-caption').textContent = text;
}

async function showSurface(set) {
  if (fetching) {
    pending = set;
    return;
  }
  if (set.averaged) {
    showNotCurrent(averagedCaption(set.number, shown));
    return;
  }
  if (set.number === shown) return;
  fetching = true;
  const channel = selectedChannel();
  const asked = form;
  try {
    const canvas = $('surface-canvas');
    const scale = previewScale(set.directionWidth, canvas.clientWidth * devicePixelRatio);
    const response = await api('GET', channelPath(`surface.png?form=${asked}&scale=${scale}`, channel));
    if (!response.ok) throw new Error(await response.text());
    const bitmap = await createImageBitmap(await response.blob());
    if (channel === selectedChannel()) {
      canvas.width = bitmap.width;
      canvas.height = bitmap.height;
      canvas.getContext('2d').drawImage(bitmap, 0, 0);
      canvas.classList.remove('stale');
      const number = response.headers.get('X-Zeb-Image-Set');
      canvas.dataset.set = number;
      canvas.dataset.form = asked;
      $('surface-caption').textContent = surfaceCaption(number, asked, response.headers.get('X-Zeb-Reliable-Percent'),
        response.headers.get('X-Zeb-Height-Range'));
      $('surface-model').textContent = `Lighting model: ${response.headers.get('X-Zeb-Lighting-Model')}. ` +
        `Calibration: ${response.headers.get('X-Zeb-Calibration')}`;
      if (asked === form) shown = Number(number) || set.number;
    }
  } catch (error) {
    if (channel === selectedChannel()) showNotCurrent(error.message);
  } finally {
    fetching = false;
  }
  const next = pending;
  pending = null;
  if (next && next.number !== shown) showSurface(next);
}

// Writes the latest image set with its surface; says which files, under which number.
async function saveSurface() {
  const button = $('save-surface');
  button.disabled = true;
  try {
    const response = await api('POST', channelPath('save?surface=1'));
    if (!response.ok) say(`Save surface: ${await response.text()}`, true);
    else say(saveMessage(await response.json()));
  } finally {
    button.disabled = false;
  }
}

async function calibrate() {
  const button = $('calibrate');
  const channel = selectedChannel();
  button.disabled = true;
  $('calibration').hidden = false;
  $('calibration-figures').textContent = 'calibrating on the sphere…';
  $('calibration-lights').replaceChildren();
  $('calibration-advice').textContent = '';
  $('apply-orientation').hidden = true;
  try {
    const result = await apiJson('POST', channelPath('calibrate', channel));
    if (channel !== selectedChannel()) return;
    $('calibration-figures').textContent = calibrationFigures(result);
    $('calibration-lights').replaceChildren(...result.lights.map((light) => {
      const item = document.createElement('li');
      item.textContent = lightText(light);
      return item;
    }));
    const advice = $('calibration-advice');
    advice.textContent = result.agrees
      ? `The lights agree with LightingOrientation "${result.orientation.set}".`
      : result.advice;
    advice.className = result.agrees ? 'answer good' : 'answer bad';
    if (result.suggestedOrientation) {
      const apply = $('apply-orientation');
      apply.textContent = `Set LightingOrientation to "${result.suggestedOrientation}"`;
      apply.dataset.value = result.suggestedOrientation;
      apply.hidden = false;
    }
    shown = 0;
  } catch (error) {
    if (channel === selectedChannel()) $('calibration-figures').textContent = error.message;
  } finally {
    button.disabled = false;
  }
}

async function applyOrientation() {
  const value = $('apply-orientation').dataset.value;
  const response = await api('PUT', channelPath('features/LightingOrientation'), value);
  const text = await response.text();
  if (!response.ok) {
    say(text, true);
    return;
  }
  $('apply-orientation').hidden = true;
  // The channel programs the light sequence when an acquisition starts: a running one starts again.
  const status = currentStatus();
  if (status && status.mode === 'live') {
    await api('POST', channelPath('acquisition/stop'));
    await api('POST', channelPath('acquisition/start'));
  }
  $('calibration-advice').textContent = `LightingOrientation is now "${text}": calibrate again to check.`;
  $('calibration-advice').className = 'answer good';
  shown = 0;
  await loadFeatures();
}
