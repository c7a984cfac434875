// The Surface panel's texts from zeb view's answers. No DOM: node --test imports this file.

const described = {
  albedo: 'albedo: white is 1',
  normals: 'normals as colour: red x, green y, blue z',
  curvature: 'mean curvature: 128 flat, brighter convex',
  height: 'height: brighter higher, black where none is known',
};

export const waitingCaption = 'The surface shows with the next image set.';

// The height picture's scale from zeb view's "X-Zeb-Height-Range" ("LOW HIGH", millimetres above
// the object plane): "from 0.02 mm (darkest) to 19.87 mm (brightest) above the object plane".
export function heightRange(header) {
  const [low, high] = String(header ?? '').trim().split(/\s+/).map(Number);
  if (!Number.isFinite(low) || !Number.isFinite(high)) return '';
  return `from ${low.toFixed(2)} mm (darkest) to ${high.toFixed(2)} mm (brightest) above the object plane`;
}

export function surfaceCaption(number, form, reliablePercent, range = '') {
  const scale = form === 'height' && heightRange(range) ? ` ${heightRange(range)}` : '';
  return `Image set ${number}, ${described[form] ?? form}${scale}; ${reliablePercent} % of the pixels with a reliable normal`;
}

// Why the picture is not of the image set shown: an averaged set ("SetupMode" "On") has no single
// directions to compute a surface from.
export function averagedCaption(number, shownNumber) {
  return `No surface for image set ${number}: with SetupMode "On" the plug-in averages the directions, ` +
    'and the surface needs each of them; set SetupMode "Off" to see it again.' +
    (shownNumber > 0 ? ` The picture is of image set ${shownNumber}, not current.` : '');
}

const fixed = (value, digits) => (Number.isFinite(value) ? value.toFixed(digits) : '?');

// The calibration's figures in one paragraph.
export function calibrationFigures(result) {
  const f = (value) => fixed(value, 2);
  return `Sphere at ${fixed(result.sphere.x, 1)}, ${fixed(result.sphere.y, 1)}, radius ${fixed(result.sphere.radius, 1)} pixels. ` +
    `Normal error over the cap to 60°: calibrated mean ${f(result.meanErrorDegrees)}°, ` +
    `95th percentile ${f(result.p95ErrorDegrees)}°; nominal model mean ${f(result.nominalMeanErrorDegrees)}°. ` +
    `Written to ${result.file}.`;
}

export function lightText(light) {
  return `azimuth ${fixed(light.azimuthDegrees, 1)}°, elevation ${fixed(light.elevationDegrees, 1)}°`;
}
