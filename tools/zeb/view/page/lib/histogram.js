// Grey-value histograms: their bars on a logarithmic scale, and when a direction counts as clipping.
// No DOM: node --test imports this file.

// The share of a direction's pixels at 255 from which it counts as clipping. A few saturated pixels
// (a glint, a hot pixel) leave the normals of the rest alone; a tenth of a percent (307 pixels of
// 640 x 480) is a bright patch whose directions no longer compare, and the surface there is wrong.
export const clippingPercent = 0.1;

// Grey values below this count as dark, as zeb view's statistics count them.
export const darkBelow = 10;

export function isClipping(grey) {
  return Boolean(grey) && Number.isFinite(grey.saturatedPercent) && grey.saturatedPercent >= clippingPercent;
}

// The tooltip of a direction's statistics: what its colour means.
export const clippingHint =
  `Red when ${clippingPercent} % or more of the direction's pixels are saturated (255): the light there ` +
  'is clipped and the surface wrong; lower the exposure or gain. Fewer saturated pixels (a glint, a hot ' +
  `pixel) are counted but not flagged. Dark: below ${darkBelow}.`;

// The height of each bar for `height` pixels: log(1 + count) over log(1 + the largest count). An
// empty or all-zero histogram has no bars; counts that are not finite or negative count as 0.
export function barHeights(counts, height) {
  if (!Array.isArray(counts) || counts.length === 0 || !(height > 0)) return [];
  const clean = counts.map((c) => (Number.isFinite(c) && c > 0 ? c : 0));
  const top = Math.log1p(Math.max(...clean));
  return clean.map((c) => (top > 0 ? (Math.log1p(c) / top) * height : 0));
}

// A bar's colour: saturated red, dark blue, the rest grey; an empty bar keeps the grey.
export function barColour(grey, count) {
  if (count > 0 && grey === 255) return '#e05050';
  if (count > 0 && grey < darkBelow) return '#4f9ee8';
  return '#c8cdd2';
}

// The factor zeb view shrinks an image by for a pane `shownWidth` device pixels wide: whole, 1 to 16,
// never below the pane (a pane narrower than 64 pixels counts as 64).
export function previewScale(imageWidth, shownWidth) {
  if (!(imageWidth > 0)) return 1;
  const shown = Math.max(Number.isFinite(shownWidth) ? shownWidth : 0, 64);
  return Math.max(1, Math.min(16, Math.floor(imageWidth / shown)));
}
