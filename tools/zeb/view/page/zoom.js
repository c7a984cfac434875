// The zoom dialog: one form of the latest image set at full resolution, zoomed with the wheel about
// the pointer and moved by dragging, the grey value under the pointer, and from valuesFrom x on each
// pixel's grey value written on it. The zoom canvas carries its view (data-scale, data-x, data-y)
// for scripts that point at a pixel.
import { api } from './api.js';
import { channelPath, currentStatus } from './channel.js';
import { fit, greyAt, pixelAt, valuesFrom, visiblePixels, wheelFactor, zoomAt } from './lib/zoom.js';
import { markSaturated, onImageSetShown, saturationShown } from './live.js';
import { $ } from './ui.js';

const canvas = $('zoom-canvas');
// The zoom shown: { form, image (a canvas), grey (its RGBA as delivered), view, pointer, fitted }.
let zoom = null;
let drag = null;

export const zoomOpen = () => $('zoom').open;

$('zoom-hint').textContent =
  `Wheel zooms at the pointer, dragging moves the image; from ${valuesFrom} x on every pixel shows its grey value.`;

for (const pane of document.querySelectorAll('figure.pane')) {
  pane.querySelector('canvas').addEventListener('click', () => openZoom(pane.dataset.form));
}

// The next image set shown in the panes replaces the zoomed one, at the same view.
onImageSetShown(() => {
  if (zoom) loadImage();
});

async function openZoom(form) {
  const set = currentStatus() && currentStatus().imageSet;
  if (!set || !set.forms.includes(form)) return;
  zoom = { form, image: null, grey: null, view: null, pointer: null, fitted: false };
  delete canvas.dataset.ready;
  $('zoom-title').textContent = form === 'average' ? 'Average' : `Direction ${form.slice(-1)}`;
  $('zoom').showModal();
  await loadImage();
}

async function loadImage() {
  const shown = zoom;
  if (!shown) return;
  let bitmap;
  try {
    const response = await api('GET', channelPath(`image.png?form=${shown.form}`));
    if (!response.ok) return;
    bitmap = await createImageBitmap(await response.blob());
  } catch {
    return;
  }
  if (shown !== zoom) return;
  const image = document.createElement('canvas');
  image.width = bitmap.width;
  image.height = bitmap.height;
  const context = image.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  // The grey values as delivered, read before the saturation overlay colours the picture.
  shown.grey = context.getImageData(0, 0, image.width, image.height).data;
  if (saturationShown()) markSaturated(context, image.width, image.height);
  shown.image = image;
  if (!shown.fitted) {
    shown.view = fit(canvas, image);
    shown.fitted = true;
  }
  draw();
}

function draw() {
  if (!zoom || !zoom.image) return;
  const { view, image } = zoom;
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.fillStyle = '#000';
  context.fillRect(0, 0, canvas.width, canvas.height);
  context.drawImage(image, view.x, view.y, image.width * view.scale, image.height * view.scale);
  if (view.scale >= valuesFrom) drawPixelValues(context);
  canvas.dataset.scale = String(view.scale);
  canvas.dataset.x = String(view.x);
  canvas.dataset.y = String(view.y);
  canvas.dataset.ready = '1';
  showReadout();
}

// At high zoom each pixel carries its grey value.
function drawPixelValues(context) {
  const { view, image } = zoom;
  const { first, last } = visiblePixels(view, canvas, image);
  context.font = `${Math.min(14, view.scale / 3)}px ui-monospace, monospace`;
  context.textAlign = 'center';
  context.textBaseline = 'middle';
  for (let y = first.y; y <= last.y; ++y) {
    for (let x = first.x; x <= last.x; ++x) {
      const grey = greyAt(zoom.grey, image.width, x, y);
      context.fillStyle = grey > 128 ? '#000' : '#fff';
      context.fillText(String(grey), view.x + (x + 0.5) * view.scale, view.y + (y + 0.5) * view.scale);
    }
  }
}

// The pixel under the pointer with its grey value, and the zoom as it is now.
function showReadout() {
  const { view, image, pointer } = zoom;
  const at = pointer ? pixelAt(view, pointer.x, pointer.y, image) : { inside: false };
  $('zoom-readout').textContent = at.inside
    ? `x ${at.x}, y ${at.y}: grey ${greyAt(zoom.grey, image.width, at.x, at.y)} · ${view.scale.toFixed(2)} x`
    : `${view.scale.toFixed(2)} x`;
}

// A point of the page in the canvas's own pixels (the canvas may be shown smaller).
function canvasPoint(event) {
  const rect = canvas.getBoundingClientRect();
  const ratio = canvas.width / rect.width;
  return { x: (event.clientX - rect.left) * ratio, y: (event.clientY - rect.top) * ratio, ratio };
}

canvas.addEventListener('wheel', (event) => {
  if (!zoom || !zoom.image) return;
  event.preventDefault();
  const point = canvasPoint(event);
  zoom.view = zoomAt(zoom.view, point.x, point.y, wheelFactor(event.deltaY));
  zoom.pointer = point;
  draw();
}, { passive: false });

canvas.addEventListener('mousedown', (event) => { drag = { x: event.clientX, y: event.clientY }; });
window.addEventListener('mouseup', () => { drag = null; });
canvas.addEventListener('mousemove', (event) => {
  if (!zoom || !zoom.image) return;
  const point = canvasPoint(event);
  if (drag) {
    zoom.view = { ...zoom.view, x: zoom.view.x + (event.clientX - drag.x) * point.ratio, y: zoom.view.y + (event.clientY - drag.y) * point.ratio };
    drag = { x: event.clientX, y: event.clientY };
  }
  zoom.pointer = point;
  if (drag) draw();
  else showReadout();
});

$('zoom-fit').addEventListener('click', () => {
  if (!zoom || !zoom.image) return;
  zoom.view = fit(canvas, zoom.image);
  draw();
});
$('zoom-one').addEventListener('click', () => {
  if (!zoom || !zoom.image) return;
  zoom.view = { scale: 1, x: 0, y: 0 };
  draw();
});
$('zoom-close').addEventListener('click', () => $('zoom').close());
$('zoom').addEventListener('close', () => {
  zoom = null;
  delete canvas.dataset.ready;
});
