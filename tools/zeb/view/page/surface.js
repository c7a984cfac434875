// The Surface panel of zeb view: the latest image set's albedo, normals or mean curvature as the
// lighting model in use computes them, and the calibration on the sphere with its figures and
// advice. It uses viewer.js's page state and the surface paths of the JSON API.
'use strict';

const surface = { form: 'normals', fetching: false, shown: 0, pending: null };

(function buildSurfacePanel() {
  const panel = $('surface');
  panel.innerHTML = `
    <div class="surface-head">
      <h2>Surface</h2>
      <span class="surface-forms" role="radiogroup" aria-label="Surface picture">
        <label><input type="radio" name="surface-form" value="albedo"> albedo</label>
        <label><input type="radio" name="surface-form" value="normals" checked> normals</label>
        <label><input type="radio" name="surface-form" value="curvature"> curvature</label>
      </span>
    </div>
    <canvas id="surface-canvas"></canvas>
    <figcaption id="surface-caption">The surface shows with the next image set.</figcaption>
    <p id="surface-model" class="facts"></p>
    <button id="calibrate">Calibrate with the sphere</button>
    <div id="calibration" hidden>
      <p id="calibration-figures" class="facts"></p>
      <ol id="calibration-lights" class="arguments" start="0"></ol>
      <p id="calibration-advice"></p>
      <button id="apply-orientation" class="primary" hidden></button>
    </div>`;
  for (const radio of panel.querySelectorAll('input[name="surface-form"]')) {
    radio.addEventListener('change', () => {
      surface.form = radio.value;
      surface.shown = 0;
      showSurface(state.status && state.status.imageSet);
    });
  }
  $('calibrate').addEventListener('click', calibrate);
  $('apply-orientation').addEventListener('click', applyOrientation);
})();

// viewer.js announces every image set it has drawn: the surface follows at the same rate.
document.addEventListener('zeb-image-set', (event) => showSurface(event.detail));

async function showSurface(set) {
  if (!set) return;
  if (surface.fetching) {
    surface.pending = set;
    return;
  }
  if (set.number === surface.shown) return;
  surface.fetching = true;
  const form = surface.form;
  try {
    const canvas = $('surface-canvas');
    const shownWidth = Math.max(canvas.clientWidth * devicePixelRatio, 64);
    const scale = Math.max(1, Math.min(16, Math.floor(set.directionWidth / shownWidth)));
    const response = await api('GET', channelPath(`surface.png?form=${form}&scale=${scale}`));
    if (!response.ok) throw new Error(await response.text());
    const bitmap = await createImageBitmap(await response.blob());
    canvas.width = bitmap.width;
    canvas.height = bitmap.height;
    canvas.getContext('2d').drawImage(bitmap, 0, 0);
    const number = response.headers.get('X-Zeb-Image-Set');
    canvas.dataset.set = number;
    canvas.dataset.form = form;
    const described = { albedo: 'albedo: white is 1', normals: 'normals as colour: red x, green y, blue z',
      curvature: 'mean curvature: 128 flat, brighter convex' };
    $('surface-caption').textContent = `Image set ${number}, ${described[form]}; ` +
      `${response.headers.get('X-Zeb-Reliable-Percent')} % of the pixels with a reliable normal`;
    $('surface-model').textContent = `Lighting model: ${response.headers.get('X-Zeb-Lighting-Model')}. ` +
      `Calibration: ${response.headers.get('X-Zeb-Calibration')}`;
    if (form === surface.form) surface.shown = set.number;
  } catch (error) {
    $('surface-caption').textContent = error.message;
  } finally {
    surface.fetching = false;
  }
  // A set (or another picture) asked for while this one was fetched comes next.
  const next = surface.pending;
  surface.pending = null;
  if (next && next.number !== surface.shown) showSurface(next);
}

async function calibrate() {
  const button = $('calibrate');
  button.disabled = true;
  $('calibration').hidden = false;
  $('calibration-figures').textContent = 'calibrating on the sphere…';
  $('calibration-lights').replaceChildren();
  $('calibration-advice').textContent = '';
  $('apply-orientation').hidden = true;
  try {
    const result = await apiJson('POST', channelPath('calibrate'));
    const f = (value) => value.toFixed(2);
    $('calibration-figures').textContent =
      `Sphere at ${result.sphere.x.toFixed(1)}, ${result.sphere.y.toFixed(1)}, radius ${result.sphere.radius.toFixed(1)} pixels. ` +
      `Normal error over the cap to 60°: calibrated mean ${f(result.meanErrorDegrees)}°, ` +
      `95th percentile ${f(result.p95ErrorDegrees)}°; nominal model mean ${f(result.nominalMeanErrorDegrees)}°. ` +
      `Written to ${result.file}.`;
    for (const light of result.lights) {
      const item = document.createElement('li');
      item.textContent = `azimuth ${light.azimuthDegrees.toFixed(1)}°, elevation ${light.elevationDegrees.toFixed(1)}°`;
      $('calibration-lights').append(item);
    }
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
    surface.shown = 0;
  } catch (error) {
    $('calibration-figures').textContent = error.message;
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
  if (state.status && state.status.mode === 'live') {
    await api('POST', channelPath('acquisition/stop'));
    await api('POST', channelPath('acquisition/start'));
  }
  $('calibration-advice').textContent = `LightingOrientation is now "${text}": calibrate again to check.`;
  $('calibration-advice').className = 'answer good';
  surface.shown = 0;
  await loadFeatures();
}
