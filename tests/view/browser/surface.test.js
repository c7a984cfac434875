// zeb view's Surface panel in headless Chromium, the dome mounted 90 degrees from the channel's
// orientation and the calibration sphere under a small camera: live pictures, averaged sets, the
// calibration and its fix, the height, saving and recording with surfaces.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { openPage, press, withViewer } from './harness.js';

// The area-scan station with a 160 x 128 camera (0.4 mm pixels) over the sphere, noise on, its
// dome mounted at 90 degrees while the channel starts at "180 deg".
const station = {
  controllers: [{ deviceId: 0, serial: 'MV-1000', light: 'Dome M', domeRotation: 90,
    registers: { 'Info.ScanType': 'Areascan' }, triggerInput: { periodMs: 20, pulseMs: 2 } }],
  cameras: [{ name: 'Cam A', transport: 'Pleora', scanType: 'Areascan',
    features: { DeviceModelName: 'VCXG-25M', DeviceSerialNumber: 'S-Cam A', SensorWidth: '160',
      SensorHeight: '128', Width: '160', Height: '128' },
    scene: { object: 'sphere' }, sensor: {} }],
  cables: [{ controller: 0, port: 'Camera0Output0', camera: 'Cam A', line: 'Line0', inverted: false },
    { controller: 0, port: 'Camera0Input0', camera: 'Cam A', line: 'Line1', inverted: false }],
};

// The mean red, green and blue of the surface canvas over its middle half.
function surfaceColour(page) {
  return page.evaluate(() => {
    const canvas = document.querySelector('#surface-canvas');
    if (canvas.width === 0) return null;
    const x0 = Math.floor(canvas.width / 4), y0 = Math.floor(canvas.height / 4);
    const data = canvas.getContext('2d').getImageData(x0, y0, canvas.width / 2, canvas.height / 2).data;
    const sum = [0, 0, 0];
    for (let i = 0; i < data.length; i += 4) for (let c = 0; c < 3; ++c) sum[c] += data[i + c];
    return sum.map((s) => s / (data.length / 4));
  });
}

// zeb view takes the station file from the environment it inherits from this test.
function useStation(folder) {
  process.env.ZEB_STATION = path.join(folder, 'station.json');
  writeFileSync(process.env.ZEB_STATION, JSON.stringify(station));
}

test('the Surface panel of zeb view in Chromium', () => withViewer('surface', async ({ folder, browser, port }) => {
  const { page, errors } = await openPage(browser, port);

  // Live: the normals follow the image sets, with the nominal model named.
  await page.waitForFunction(() => !document.querySelector('#start').disabled);
  await page.click('#start');
  await page.waitForFunction(() => Number(document.querySelector('#surface-canvas').dataset.set || 0) > 0);
  const first = await page.$eval('#surface-canvas', (c) => Number(c.dataset.set));
  await page.waitForFunction((n) => Number(document.querySelector('#surface-canvas').dataset.set) > n, {}, first);
  assert.match(await page.$eval('#surface-model', (p) => p.textContent), /^Lighting model: nominal: dome radius 100\.0 mm/);
  const normals = await surfaceColour(page);
  // Over the sphere the normals lean every way around z: blue (z) rules, red and green about even.
  assert.ok(normals[2] > 200 && Math.abs(normals[0] - 128) < 40 && Math.abs(normals[1] - 128) < 40, String(normals));

  // The curvature and the albedo are grey pictures.
  await page.click('input[name="surface-form"][value="curvature"]');
  await page.waitForFunction(() => document.querySelector('#surface-canvas').dataset.form === 'curvature');
  const curvature = await surfaceColour(page);
  assert.ok(curvature[0] === curvature[1] && curvature[1] === curvature[2], String(curvature));
  await page.click('input[name="surface-form"][value="albedo"]');
  await page.waitForFunction(() => document.querySelector('#surface-canvas').dataset.form === 'albedo');
  assert.match(await page.$eval('#surface-caption', (c) => c.textContent), /albedo/);

  // Averaged image sets have no surface: the last picture stays, dimmed, and the caption says
  // which set it is of and why no newer one comes; single directions bring it back.
  const before = await page.$eval('#surface-canvas', (c) => Number(c.dataset.set));
  assert.equal(await page.$eval('#surface-canvas', (c) => getComputedStyle(c).opacity), '1');
  await page.select('.feature[data-name="SetupMode"] select', 'On');
  await page.waitForFunction(() => document.querySelector('#surface-canvas').classList.contains('stale') &&
    /^No surface for image set \d+: with SetupMode "On"/.test(document.querySelector('#surface-caption').textContent));
  const averaged = await page.$eval('#surface-caption', (c) => c.textContent);
  const of = Number(averaged.match(/The picture is of image set (\d+), not current/)[1]);
  assert.ok(of >= before, averaged);
  assert.equal(await page.$eval('#surface-canvas', (c) => Number(c.dataset.set)), of);
  assert.ok(Number(await page.$eval('#surface-canvas', (c) => getComputedStyle(c).opacity)) < 0.5);
  await page.select('.feature[data-name="SetupMode"] select', 'Off');
  await page.waitForFunction((n) => Number(document.querySelector('#surface-canvas').dataset.set) > n &&
    !document.querySelector('#surface-canvas').classList.contains('stale'), {}, of);
  assert.match(await page.$eval('#surface-caption', (c) => c.textContent), /^Image set \d+, albedo/);

  // The calibration names the turned dome and offers the orientation that fits.
  await page.click('#calibrate');
  await page.waitForFunction(() => !document.querySelector('#calibrate').disabled &&
    /Sphere at|no sphere/.test(document.querySelector('#calibration-figures').textContent));
  const figures = await page.$eval('#calibration-figures', (p) => p.textContent);
  assert.match(figures, /^Sphere at 79\.\d, 63\.\d, radius (49|50)\.\d pixels/, figures);
  assert.match(await page.$eval('#calibration-advice', (p) => p.textContent),
    /the lights look turned by 90 degrees: set LightingOrientation to "90 deg"/);
  assert.equal(await page.$$eval('#calibration-lights li', (l) => l.length), 4);
  assert.equal(await page.$eval('#apply-orientation', (b) => b.textContent), 'Set LightingOrientation to "90 deg"');
  await page.click('#apply-orientation');
  await page.waitForFunction(() => /is now "90 deg"/.test(document.querySelector('#calibration-advice').textContent));

  // Calibrated again with the orientation applied: the lights agree, and the surface uses the file.
  await page.click('#calibrate');
  await page.waitForFunction(() => /agree/.test(document.querySelector('#calibration-advice').textContent));
  const calibrated = await page.$eval('#calibration-figures', (p) => p.textContent);
  const mean = Number(calibrated.match(/calibrated mean ([\d.]+)°/)[1]);
  assert.ok(mean <= 1.5, calibrated);
  await page.waitForFunction(() => /^Lighting model: calibrated/.test(document.querySelector('#surface-model').textContent));
  assert.match(await page.$eval('#surface-model', (p) => p.textContent), /zeb-calibration-channel0\.json \(made /);
  // With the lights where they are, the sphere is convex: brighter than flat (128) in the curvature.
  await page.click('input[name="surface-form"][value="curvature"]');
  await page.waitForFunction(() => document.querySelector('#surface-canvas').dataset.form === 'curvature');
  const convex = await surfaceColour(page);
  assert.ok(convex[0] > 132, String(convex));

  // The height: the sphere's top brightest, its scale in millimetres in the caption.
  await page.click('input[name="surface-form"][value="height"]');
  await page.waitForFunction(() => document.querySelector('#surface-canvas').dataset.form === 'height');
  const heightCaption = await page.$eval('#surface-caption', (c) => c.textContent);
  const range = heightCaption.match(/^Image set \d+, height: .* from (-?[\d.]+) mm \(darkest\) to ([\d.]+) mm \(brightest\) above the object plane; /);
  assert.ok(range, heightCaption);
  assert.ok(Number(range[2]) > 5 && Number(range[2]) < 40, heightCaption);
  const middle = await surfaceColour(page);
  const rim = await page.evaluate(() => {
    const canvas = document.querySelector('#surface-canvas');
    return canvas.getContext('2d').getImageData(Math.floor(canvas.width / 2), 1, 1, 1).data[0];
  });
  assert.ok(middle[0] > rim + 40, `${middle} over ${rim}`);

  // "Save surface" writes the set with its surface files under one number, and says it.
  await page.click('#save-surface');
  await page.waitForFunction(() => /^saved image set \d+ \(the live view's \d+\) in /.test(document.querySelector('#message').textContent));
  const savedLine = await page.$eval('#message', (m) => m.textContent);
  const number = savedLine.match(/^saved image set (\d+) /)[1].padStart(4, '0');
  for (const kind of ['stack', 'normals', 'albedo', 'curvature']) {
    assert.ok(readdirSync(path.join(folder, 'saved')).includes(`zeb-channel0-${number}-${kind}.png`), `${kind}: ${savedLine}`);
  }

  // Recorded with surfaces on a stopped channel: the recording starts the acquisition, writes
  // each set with its surface, and leaves the channel stopped as it was.
  await press(page, '#stop', 'stopped');
  const normalsBefore = readdirSync(path.join(folder, 'saved')).filter((f) => f.endsWith('-normals.png')).length;
  await page.$eval('#record-amount', (input) => { input.value = '2'; });
  await page.select('#record-unit', 'count');
  await page.click('#record-surface');
  await page.click('#record');
  await page.waitForFunction(() => document.querySelector('#recording').textContent.startsWith('recorded 2 image sets'));
  await page.waitForFunction(() => document.querySelector('#statistics').textContent.startsWith('stopped'));
  const normalsAfter = readdirSync(path.join(folder, 'saved')).filter((f) => f.endsWith('-normals.png')).length;
  assert.equal(normalsAfter, normalsBefore + 2);
  assert.deepEqual(errors, []);
}, { prepare: useStation }));
