// zeb view's Surface panel in headless Chromium over the calibration sphere, the dome turned 90 degrees
// from the channel's orientation: live pictures, averaged sets, calibration, height, save and record.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { feature, openPage, press, text, waitText, withViewer } from './harness.js';

// A 160 x 128 area-scan camera (0.4 mm pixels) over the sphere, noise on; the channel starts at "180 deg".
const station = {
  controllers: [{ deviceId: 0, serial: 'MV-1000', light: 'Dome M', domeRotation: 90, registers: { 'Info.ScanType': 'Areascan' },
    triggerInput: { periodMs: 20, pulseMs: 2 } }],
  cameras: [{ name: 'Cam A', transport: 'Pleora', scanType: 'Areascan', scene: { object: 'sphere' }, sensor: {},
    features: { DeviceModelName: 'VCXG-25M', DeviceSerialNumber: 'S-Cam A', SensorWidth: '160', SensorHeight: '128', Width: '160', Height: '128' } }],
  cables: [{ controller: 0, port: 'Camera0Output0', camera: 'Cam A', line: 'Line0', inverted: false },
    { controller: 0, port: 'Camera0Input0', camera: 'Cam A', line: 'Line1', inverted: false }],
};

// Shows the surface as `form`, then the mean red, green and blue of the canvas over its middle half.
async function surfaceColour(page, form) {
  await page.click(`input[name="surface-form"][value="${form}"]`);
  await page.waitForFunction((f) => document.querySelector('#surface-canvas').dataset.form === f, {}, form);
  return page.evaluate(() => {
    const canvas = document.querySelector('#surface-canvas');
    const x0 = Math.floor(canvas.width / 4), y0 = Math.floor(canvas.height / 4);
    const data = canvas.getContext('2d').getImageData(x0, y0, canvas.width / 2, canvas.height / 2).data;
    const sum = [0, 0, 0];
    for (let i = 0; i < data.length; i += 4) for (let c = 0; c < 3; ++c) sum[c] += data[i + c];
    return sum.map((s) => s / (data.length / 4));
  });
}
const surfaceSet = (page) => page.$eval('#surface-canvas', (c) => Number(c.dataset.set));

// zeb view takes the station file from the environment it inherits from this test.
function useStation(folder) {
  process.env.ZEB_STATION = path.join(folder, 'station.json');
  writeFileSync(process.env.ZEB_STATION, JSON.stringify(station));
}

test('the Surface panel of zeb view in Chromium', () => withViewer('surface', async ({ folder, browser, port }) => {
  const { page, errors } = await openPage(browser, port);
  const saved = (ending) => readdirSync(path.join(folder, 'saved')).filter((f) => f.endsWith(ending));

  // Live: the normals follow the image sets, with the nominal model named.
  await page.waitForFunction(() => !document.querySelector('#start').disabled);
  await page.click('#start');
  await page.waitForFunction(() => Number(document.querySelector('#surface-canvas').dataset.set || 0) > 0);
  await page.waitForFunction((n) => Number(document.querySelector('#surface-canvas').dataset.set) > n, {}, await surfaceSet(page));
  assert.match(await text(page, '#surface-model'), /^Lighting model: nominal: dome radius 100\.0 mm/);
  const normals = await surfaceColour(page, 'normals');
  // Over the sphere the normals lean every way around z: blue (z) rules, red and green about even.
  assert.ok(normals[2] > 200 && Math.abs(normals[0] - 128) < 40 && Math.abs(normals[1] - 128) < 40, String(normals));
  // The curvature and the albedo are grey pictures.
  const curvature = await surfaceColour(page, 'curvature');
  assert.ok(curvature[0] === curvature[1] && curvature[1] === curvature[2], String(curvature));
  const albedo = await surfaceColour(page, 'albedo');
  assert.ok(albedo[0] === albedo[1] && albedo[1] === albedo[2], String(albedo));
  assert.match(await text(page, '#surface-caption'), /albedo/);

  // Averaged sets have no surface: the last stays, dimmed, its caption says why; single ones bring it back.
  const before = await surfaceSet(page);
  const opacity = () => page.$eval('#surface-canvas', (c) => Number(getComputedStyle(c).opacity));
  assert.equal(await opacity(), 1);
  await page.select(`${feature('SetupMode')} select`, 'On');
  await page.waitForFunction(() => document.querySelector('#surface-canvas').classList.contains('stale') &&
    /^No surface for image set \d+: with SetupMode "On"/.test(document.querySelector('#surface-caption').textContent));
  const averaged = await text(page, '#surface-caption');
  const of = Number(averaged.match(/The picture is of image set (\d+), not current/)[1]);
  assert.ok(of >= before && (await surfaceSet(page)) === of, averaged);
  assert.ok((await opacity()) < 0.5);
  await page.select(`${feature('SetupMode')} select`, 'Off');
  await page.waitForFunction((n) => Number(document.querySelector('#surface-canvas').dataset.set) > n &&
    !document.querySelector('#surface-canvas').classList.contains('stale'), {}, of);
  assert.match(await text(page, '#surface-caption'), /^Image set \d+, albedo/);

  // The calibration names the turned dome and offers the orientation that fits.
  await page.$eval('#calibrate', (button) => button.click());
  await page.waitForFunction(() => !document.querySelector('#calibrate').disabled &&
    /Sphere at|no sphere/.test(document.querySelector('#calibration-figures').textContent));
  assert.match(await text(page, '#calibration-figures'), /^Sphere at 79\.\d, 63\.\d, radius (49|50)\.\d pixels/);
  assert.match(await text(page, '#calibration-advice'), /the lights look turned by 90 degrees: set LightingOrientation to "90 deg"/);
  assert.equal((await page.$$('#calibration-lights li')).length, 4);
  assert.equal(await text(page, '#apply-orientation'), 'Set LightingOrientation to "90 deg"');
  // Clicked in the page, not at a spot on the screen: the live panels above it change height.
  await page.$eval('#apply-orientation', (button) => button.click());
  await waitText(page, '#calibration-advice', /is now "90 deg"/);

  // Calibrated again with the orientation applied: the lights agree, and the surface uses the file.
  await page.$eval('#calibrate', (button) => button.click());
  await waitText(page, '#calibration-advice', /agree/);
  const calibrated = await text(page, '#calibration-figures');
  assert.ok(Number(calibrated.match(/calibrated mean ([\d.]+)°/)[1]) <= 1.5, calibrated);
  await waitText(page, '#surface-model', /^Lighting model: calibrated[^]*zeb-calibration-channel0\.json \(made /);
  // With the lights where they are, the sphere is convex: brighter than flat (128) in the curvature.
  const convex = await surfaceColour(page, 'curvature');
  assert.ok(convex[0] > 132, String(convex));

  // The height: the sphere's top brightest, its scale in millimetres in the caption.
  const middle = await surfaceColour(page, 'height');
  const caption = await text(page, '#surface-caption');
  const range = caption.match(/^Image set \d+, height: .* from -?[\d.]+ mm \(darkest\) to ([\d.]+) mm \(brightest\) above the object plane; /);
  assert.ok(range && Number(range[1]) > 5 && Number(range[1]) < 40, caption);
  const rim = await page.$eval('#surface-canvas', (c) => c.getContext('2d').getImageData(Math.floor(c.width / 2), 1, 1, 1).data[0]);
  assert.ok(middle[0] > rim + 40, `${middle} over ${rim}`);

  // "Save surface" writes the set with its surface files under one number, and says it.
  await page.click('#save-surface');
  await waitText(page, '#message', /^saved image set \d+ \(the live view's \d+\) in /);
  const number = (await text(page, '#message')).match(/^saved image set (\d+) /)[1].padStart(4, '0');
  for (const kind of ['stack', 'normals', 'albedo', 'curvature']) assert.equal(saved(`zeb-channel0-${number}-${kind}.png`).length, 1, kind);

  // Recorded with surfaces while stopped: each set with its surface, and the channel stopped again.
  await press(page, '#stop', 'stopped');
  const normalsBefore = saved('-normals.png').length;
  await page.$eval('#record-amount', (input) => { input.value = '2'; });
  await page.select('#record-unit', 'count');
  await page.click('#record-surface');
  await page.click('#record');
  await waitText(page, '#recording', /^recorded 2 image sets/);
  await waitText(page, '#statistics', /^stopped/);
  assert.equal(saved('-normals.png').length, normalsBefore + 2);
  assert.deepEqual(errors, []);
}, { prepare: useStation }));
