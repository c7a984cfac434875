// Numbers and file lists as the page writes them. No DOM: node --test imports this file.

// A percentage of pixels: a handful of pixels in a large image is "< 0.001", never "0.000", so that
// "0" always means none.
export function formatPercent(percent) {
  if (!Number.isFinite(percent) || percent < 0) return '?';
  if (percent === 0) return '0';
  if (percent < 0.001) return '< 0.001';
  if (percent < 1) return percent.toFixed(3);
  if (percent < 10) return percent.toFixed(2);
  return percent.toFixed(1);
}

// A count with thousands grouped by thin spaces: 1 234 567.
export function formatCount(count) {
  if (!Number.isFinite(count)) return '?';
  const digits = String(Math.round(Math.abs(count)));
  const grouped = digits.replace(/\B(?=(\d{3})+(?!\d))/g, '\u2009');
  return count < 0 ? `-${grouped}` : grouped;
}

// "mean 41.3 · saturated 0.002 % (12 px) · dark 0 %" for a direction or a whole image set. Below a
// tenth of a percent the pixels are counted too, from the histogram (grey 255 saturated, grey 0 to
// 9 dark): there a percentage alone says little.
export function greyFacts(grey) {
  const histogram = Array.isArray(grey.histogram) ? grey.histogram : [];
  const pixels = (percent, count) =>
    `${formatPercent(percent)} %` + (percent > 0 && percent < 0.1 && count > 0 ? ` (${formatCount(count)} px)` : '');
  const saturated = Number(histogram[255]) || 0;
  let dark = 0;
  for (let grey = 0; grey < Math.min(10, histogram.length); ++grey) dark += Number(histogram[grey]) || 0;
  const mean = Number.isFinite(grey.mean) ? grey.mean.toFixed(1) : '?';
  return `mean ${mean} · saturated ${pixels(grey.saturatedPercent, saturated)} · dark ${pixels(grey.darkPercent, dark)}`;
}

// Where files went: "in FOLDER: a.png, b.png" when they share a folder, else their whole paths. Both
// separators count, as zeb.exe answers Windows paths.
export function filesText(paths) {
  if (!Array.isArray(paths) || paths.length === 0) return 'no files';
  const split = paths.map((p) => {
    const cut = Math.max(p.lastIndexOf('/'), p.lastIndexOf('\\'));
    return { folder: cut >= 0 ? p.slice(0, cut) : '', name: p.slice(cut + 1) };
  });
  const folder = split[0].folder;
  if (!split.every((s) => s.folder === folder)) return paths.join(', ');
  const names = split.map((s) => s.name).join(', ');
  return folder === '' ? names : `in ${folder}: ${names}`;
}
