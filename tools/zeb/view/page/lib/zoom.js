// The zoom's geometry: where an image lies on the view (`scale` view pixels per image pixel, its top
// left corner at `x`, `y`), which image pixel is under a point, and the grey value there. No DOM:
// node --test imports this file.

export const minScale = 0.05;
export const maxScale = 64;
// From this scale on each pixel carries its grey value.
export const valuesFrom = 16;

// The whole image, as large as the view takes it, centred.
export function fit(view, image) {
  if (!(image.width > 0 && image.height > 0)) return { scale: 1, x: 0, y: 0 };
  const scale = Math.min(maxScale, Math.max(minScale, Math.min(view.width / image.width, view.height / image.height)));
  return { scale, x: (view.width - image.width * scale) / 2, y: (view.height - image.height * scale) / 2 };
}

// The wheel's step: towards the user (deltaY < 0) zooms in, away zooms out, sideways not at all.
export function wheelFactor(deltaY) {
  if (deltaY < 0) return 1.25;
  if (deltaY > 0) return 0.8;
  return 1;
}

// Zoomed by `factor` about the view point (px, py), which keeps showing the same image point; the
// scale stays within minScale and maxScale.
export function zoomAt(view, px, py, factor) {
  const scale = Math.min(maxScale, Math.max(minScale, view.scale * factor));
  return { scale, x: px - ((px - view.x) * scale) / view.scale, y: py - ((py - view.y) * scale) / view.scale };
}

// The image pixel under the view point, and whether the image has it.
export function pixelAt(view, px, py, image) {
  const x = Math.floor((px - view.x) / view.scale);
  const y = Math.floor((py - view.y) / view.scale);
  return { x, y, inside: x >= 0 && y >= 0 && x < image.width && y < image.height };
}

// The first and last image pixels a view of `size` shows (even in part); none when last < first.
export function visiblePixels(view, size, image) {
  return {
    first: { x: Math.max(0, Math.floor(-view.x / view.scale)), y: Math.max(0, Math.floor(-view.y / view.scale)) },
    last: {
      x: Math.min(image.width - 1, Math.ceil((size.width - view.x) / view.scale) - 1),
      y: Math.min(image.height - 1, Math.ceil((size.height - view.y) / view.scale) - 1),
    },
  };
}

// The grey value of pixel (x, y) in RGBA bytes of an image `width` pixels wide (a grey PNG decodes
// with equal red, green and blue); null outside the image.
export function greyAt(rgba, width, x, y) {
  if (!Number.isInteger(x) || !Number.isInteger(y) || x < 0 || y < 0 || x >= width) return null;
  const index = (y * width + x) * 4;
  return index < rgba.length ? rgba[index] : null;
}
