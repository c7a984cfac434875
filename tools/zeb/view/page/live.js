// The live view: the four directions and the average of the latest image set, each direction with
// its histogram and statistics, and the histogram of the whole set. Saturated pixels show red.
import { api } from './api.js';
import { currentStatus, onSelect, onStatus, selectedChannel } from './channel.js';
import { greyFacts } from './lib/format.js';
import { barColour, barHeights, clippingHint, isClipping, previewScale } from './lib/histogram.js';
import { $, clearCanvas } from './ui.js';

const histogramCaption = 'Histogram of every delivered pixel';
let shownSet = 0;
let fetching = false;
const shownListeners = [];

// `listener(set)` runs once the panes show image set `set` (the status's description of it).
export function onImageSetShown(listener) {
  shownListeners.push(listener);
}

export const saturationShown = () => $('saturation').checked;

for (const facts of document.querySelectorAll('.direction-facts')) facts.title = clippingHint;

$('saturation').addEventListener('change', () => {
  shownSet = 0;
  const set = currentStatus() && currentStatus().imageSet;
  if (set && !fetching) showImageSet(set);
});

// Nothing of the previous channel stays under the new one's tab.
onSelect(() => {
  shownSet = 0;
  for (const pane of document.querySelectorAll('figure.pane')) {
    clearCanvas(pane.querySelector('canvas'));
    delete pane.dataset.set;
  }
  for (const canvas of document.querySelectorAll('.direction-histogram')) drawCounts(canvas, null);
  drawCounts($('histogram'), null);
  $('histogram-caption').textContent = histogramCaption;
  $('set-facts').textContent = '';
  for (const facts of document.querySelectorAll('.direction-facts')) {
    facts.textContent = '';
    facts.classList.remove('clipping');
  }
});

onStatus((status) => {
  const set = status.imageSet;
  const sides = set ? set.litFrom : [];
  document.querySelectorAll('#directions figure').forEach((figure, k) => {
    const side = sides[k] ? ` · lit from ${sides[k]}` : '';
    const unavailable = Boolean(set && set.averaged);
    figure.classList.toggle('unavailable', unavailable);
    figure.querySelector('figcaption').textContent =
      `Direction ${k}${side}` + (unavailable ? ' · averaged image sets have no single directions' : '');
    const grey = set && set.directions[k];
    const facts = figure.querySelector('.direction-facts');
    drawCounts(figure.querySelector('.direction-histogram'), grey ? grey.histogram : null);
    facts.textContent = grey ? greyFacts(grey) : '';
    facts.classList.toggle('clipping', isClipping(grey));
  });
  if (set) {
    $('set-facts').textContent =
      `image set ${set.number} · ${set.directionWidth} x ${set.directionHeight} per direction · ` +
      `exposure ${set.exposureTime} us · gain ${set.gain} · ${set.lightingSequence}, ${set.lightingOrientation}` +
      (set.averaged ? ' · averaged by the plug-in' : '');
    drawCounts($('histogram'), set.histogram);
    $('histogram-caption').textContent = `${histogramCaption} (logarithmic) · ${greyFacts(set)}`;
    if (set.number !== shownSet && !fetching) showImageSet(set);
  }
});

// Draws the panes from the latest image set: previews shrunk to the panes' size, saturated pixels red.
async function showImageSet(set) {
  const channel = selectedChannel();
  fetching = true;
  try {
    const panes = Array.from(document.querySelectorAll('figure.pane'));
    await Promise.all(panes.map(async (pane) => {
      const form = pane.dataset.form;
      if (!set.forms.includes(form)) return;
      const scale = previewScale(set.directionWidth, pane.clientWidth * devicePixelRatio);
      const response = await api('GET', `/api/channels/${channel}/image.png?form=${form}&scale=${scale}`);
      if (!response.ok) return;
      const bitmap = await createImageBitmap(await response.blob());
      // Another channel selected meanwhile: this one's images are not shown under its tab.
      if (channel !== selectedChannel()) return;
      drawImage(pane.querySelector('canvas'), bitmap);
      pane.dataset.set = response.headers.get('X-Zeb-Image-Set');
    }));
    if (channel === selectedChannel()) {
      shownSet = set.number;
      for (const listener of shownListeners) listener(set);
    }
  } catch {
    // zeb view went away meanwhile: the connection line says so, and the next status draws again.
  } finally {
    fetching = false;
  }
  // A set that arrived while these were drawn is drawn next, even if no other follows it.
  const latest = currentStatus() && currentStatus().imageSet;
  if (latest && latest.number !== shownSet && currentStatus().channel === selectedChannel()) showImageSet(latest);
}

function drawImage(canvas, bitmap) {
  canvas.width = bitmap.width;
  canvas.height = bitmap.height;
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  if (saturationShown()) markSaturated(context, bitmap.width, bitmap.height);
}

// Pixels at 255 red (the red channel keeps the grey value).
export function markSaturated(context, width, height) {
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

// Grey counts on a logarithmic scale; saturated red, dark blue.
function drawCounts(canvas, counts) {
  const context = canvas.getContext('2d');
  context.clearRect(0, 0, canvas.width, canvas.height);
  const heights = barHeights(counts, canvas.height - 4);
  const barWidth = canvas.width / Math.max(heights.length, 1);
  heights.forEach((height, grey) => {
    context.fillStyle = barColour(grey, counts[grey]);
    context.fillRect(grey * barWidth, canvas.height - height, Math.max(barWidth, 1), height);
  });
}
