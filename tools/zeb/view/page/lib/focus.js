// The focus assistant's graph: its points and where they lie. No DOM: node --test imports this file.

// [value, maximum] of each judged image set from the assistant's history (its arguments as texts);
// entries with fewer than two numbers are left out.
export function focusPoints(history) {
  if (!Array.isArray(history)) return [];
  return history.filter((a) => Array.isArray(a) && a.length >= 2)
    .map((a) => [Number(a[0]), Number(a[1])])
    .filter(([value, maximum]) => Number.isFinite(value) && Number.isFinite(maximum));
}

// Where the points lie on a graph of `size`: x(i) for the i-th, from the left margin to the right
// one; y(v) for a value, 0 on the bottom margin and the largest maximum a tenth below the top.
export function graphScale(points, size) {
  const top = Math.max(1, ...points.map((p) => p[1])) * 1.1;
  return {
    x: (i) => 30 + (i / Math.max(1, points.length - 1)) * (size.width - 40),
    y: (v) => size.height - 20 - (v / top) * (size.height - 30),
  };
}
