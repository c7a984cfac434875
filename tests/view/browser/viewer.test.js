// zeb view in headless Chromium as a person uses it, from the feature tree to zeb view going away and
// back. Takes the manual's screenshot (docs/images/zeb-view.png) at ZEB_VIEW_SCREENSHOT.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { feature, openPage, press, root, startServer, stopServer, text, until, waitText, withViewer } from './harness.js';

const screenshot = path.resolve(process.env.ZEB_VIEW_SCREENSHOT ?? path.join(root, 'build/linux/zeb-view.png'));
const direction0 = '#directions figure[data-form="direction0"]';

// Mean grey of a pane's canvas (red: the saturation overlay keeps it at 255), a fingerprint of its pixels.
function pane(page, selector) {
  return page.$eval(selector, (canvas) => {
    const red = canvas.width ? canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data.filter((v, i) => i % 4 === 0) : [];
    return { width: canvas.width, mean: red.reduce((sum, v) => sum + v, 0) / Math.max(1, red.length),
      print: red.reduce((print, v) => (print * 31 + v) % 1000000007, 0) };
  });
}

// Waits until the pane shows a later image set than the status names.
async function drawnAfter(page, selector, back = 0) {
  const number = Number((await text(page, '#set-facts')).match(/image set (\d+)/)?.[1] ?? 0) - back;
  await page.waitForFunction((s, n) => Number(document.querySelector(s).dataset.set || 0) > n, {}, selector, number);
}

// Sets a feature from its list or typed with Enter; waits for the value held (a typed one maybe adjusted).
async function setFeature(page, name, value) {
  const list = await page.$(`${feature(name)} select`);
  if (list) await list.select(value);
  else {
    await page.$eval(`${feature(name)} input`, (input) => { input.value = ''; });
    await page.type(`${feature(name)} input`, value);
    await page.keyboard.press('Enter');
  }
  await waitText(page, `${feature(name)} .answer`, new RegExp(`^holds ${value}${list ? '$' : ''}`));
}

test('zeb view in Chromium', () => withViewer('browser', async ({ folder, browser, server, port, output, base }) => {
  const { page, errors } = await openPage(browser, port);
  const get = async (route) => (await fetch(`${base}/api/channels/${route}`)).text();
  const mode = async (channel) => JSON.parse(await get(`${channel}/status`)).mode;

  // Channel 0's feature tree, grouped; units beside values; meaning and limits as the name's tooltip.
  const groups = await page.$$eval('#feature-groups summary', (s) => s.map((e) => e.textContent));
  assert.ok(['Device and camera', 'Lighting'].every((g) => groups.some((s) => s.startsWith(g))), groups.join());
  assert.equal((await page.$$('#channels button')).length, 2);
  const guides = await Promise.all(['ExposureTime', 'Gain', 'LightingOrientation'].map((name) => page.$eval(feature(name),
    (row) => [row.querySelector('.unit')?.textContent ?? '', row.querySelector('.feature-name').title])));
  assert.deepEqual(guides.map(([unit]) => unit), ['us', 'dB', '']);
  assert.match(guides[0][1], /microseconds[^]*65000/);
  // A modest exposure to start from; a list's choice; each answer is the value held.
  await setFeature(page, 'ExposureTime', '20');
  await setFeature(page, 'SetupMode', 'On');
  await setFeature(page, 'SetupMode', 'Off');

  // Start: image sets arrive and the panes change.
  const blank = await pane(page, `${direction0} canvas`);
  assert.equal(blank.mean, 0); // nothing drawn yet
  await page.waitForFunction(() => !document.querySelector('#start').disabled);
  await page.click('#start');
  await waitText(page, '#set-facts', /image set \d+/);
  await drawnAfter(page, direction0);
  const shown = await pane(page, `${direction0} canvas`);
  assert.ok(shown.width > 0 && shown.mean > 0 && shown.print !== blank.print, JSON.stringify(shown));
  assert.match(await text(page, `${direction0} figcaption`), /lit from/);
  assert.match(await text(page, '#statistics'), /live · [\d.]+ image sets\/s/);

  // Each direction has its own histogram and statistics, so one clipping direction shows.
  await page.waitForFunction(() => Array.from(document.querySelectorAll('.direction-facts')).every((p) => /mean [\d.]+ · saturated/.test(p.textContent)));
  const drawnBars = await page.$$eval('.direction-histogram', (canvases) => canvases.map((c) => {
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    return data.filter((value, i) => i % 4 === 3 && value > 0).length;
  }));
  assert.ok(drawnBars.length === 4 && drawnBars.every((lit) => lit > 0), drawnBars.join());
  // Red from 0.1 % saturated pixels on, as the tooltip says; a handful is counted, not flagged.
  const facts = await page.$$eval('.direction-facts', (ps) => ps.map((p) => [p.textContent, p.title, p.classList.contains('clipping')]));
  for (const [line, hint, red] of facts) {
    assert.match(hint, /Red when 0\.1 % or more/);
    const [, few, percent] = line.match(/saturated (< )?([\d.]+) %/) ?? assert.fail(line);
    if (few || Number(percent) < 0.05) assert.equal(red, false, line);
    if (Number(percent) >= 0.2) assert.equal(red, true, line);
  }

  // Every feature fixed while the camera streams (the image region) is shown, not editable.
  const fixed = JSON.parse(await get('0/features')).filter((f) => f.fixedWhileAcquiring).map((f) => f.name);
  assert.ok(fixed.includes('Width'), fixed.join());
  await page.waitForFunction((names) => names.every((n) => document.querySelector(`.feature[data-name="${n}"] .fixed`)), {}, fixed);
  const editable = await page.$$eval('.feature :is(input, select)', (all) => all.map((e) => e.closest('.feature').dataset.name));
  assert.ok(editable.includes('ExposureTime') && !editable.some((name) => fixed.includes(name)), editable.join());

  // Channel 1's tab shows channel 1 alone from the click on, never channel 0's status or pictures.
  await page.waitForFunction(() => Number(document.querySelector('#surface-canvas').dataset.set || 0) > 0);
  assert.match(await text(page, '#histogram-caption'), /· mean/);
  const atClick = await page.evaluate(() => {
    window.seen = [];
    const watch = (element, what, options = { attributeFilter: ['data-set'] }) =>
      new MutationObserver(() => window.seen.push(what())).observe(element, options);
    const statistics = document.querySelector('#statistics');
    watch(statistics, () => statistics.textContent, { childList: true, characterData: true, subtree: true });
    for (const figure of document.querySelectorAll('figure.pane')) watch(figure, () => (figure.dataset.set ? `drawn ${figure.dataset.form}` : ''));
    const surface = document.querySelector('#surface-canvas');
    watch(surface, () => (surface.dataset.set ? 'drawn surface' : ''));
    document.querySelectorAll('#channels button')[1].click();
    // What the page shows the moment the tab is clicked, before any answer arrives.
    return { statistics: statistics.textContent, histogram: document.querySelector('#histogram-caption').textContent,
      surface: { width: surface.width, set: surface.dataset.set ?? '', caption: document.querySelector('#surface-caption').textContent } };
  });
  await waitText(page, '#statistics', /^stopped/);
  await page.waitForFunction(() => !document.querySelector('#start').disabled);
  const seen = await page.evaluate(() => window.seen);
  assert.ok(!seen.some((line) => line.startsWith('live') || line.startsWith('drawn')), seen.join(' | '));
  assert.ok(!atClick.statistics.startsWith('live'));
  assert.deepEqual([atClick.histogram, atClick.surface], ['Histogram of every delivered pixel',
    { width: 0, set: '', caption: 'The surface shows with the next image set.' }]);
  assert.deepEqual([await text(page, '#histogram-caption'), await text(page, '#set-facts')], ['Histogram of every delivered pixel', '']);
  await press(page, '#start', 'live');
  await waitText(page, '#set-facts', /image set \d+/);
  await press(page, '#stop', 'stopped');
  const channel1 = JSON.parse(await get('1/status'));
  assert.ok(channel1.mode === 'idle' && channel1.statistics.imageSets >= 1, JSON.stringify(channel1));
  assert.equal(await mode(0), 'live');
  await page.evaluate(() => document.querySelectorAll('#channels button')[0].click());
  await waitText(page, '#statistics', /^live/);

  // A higher exposure brightens the view: the page shows image sets taken with it.
  await waitText(page, '#set-facts', /exposure 20 us/);
  await drawnAfter(page, '#average');
  const dim = await pane(page, '#average canvas');
  await setFeature(page, 'ExposureTime', '60');
  await waitText(page, '#set-facts', /exposure 60 us/);
  await drawnAfter(page, '#average');
  const bright = await pane(page, '#average canvas');
  assert.ok(bright.mean > 1.5 * dim.mean, `the view did not brighten: ${dim.mean} then ${bright.mean}`);
  await page.$eval('#features', (aside) => { aside.scrollTop = 0; });
  await page.screenshot({ path: screenshot });

  // Record two image sets of the running acquisition.
  await page.$eval('#record-amount', (input) => { input.value = '2'; });
  await page.select('#record-unit', 'count');
  await page.click('#record');
  await waitText(page, '#recording', /^recorded 2 image sets/);

  // "Save this image set" names the files it wrote and the number they carry, beside the live one.
  await page.evaluate(() => { document.querySelector('#message').textContent = ''; });
  await page.click('#save');
  await waitText(page, '#message', /^saved/);
  const savedLine = await text(page, '#message');
  const [, folderNamed, named] = savedLine.match(/^saved image set \d+ \(the live view's \d+\) in (.*): (.*)$/) ?? assert.fail(savedLine);
  assert.ok(folderNamed === path.join(folder, 'saved') && named.split(', ').some((f) => f.endsWith('-stack.png')), savedLine);

  // Stop during a recording says that it cut the recording short; the region is editable again.
  await page.$eval('#record-amount', (input) => { input.value = '1000'; });
  await page.click('#record');
  await waitText(page, '#recording', /^recording 1000 image sets: [1-9]/);
  await press(page, '#stop', 'stopped');
  await waitText(page, '#message', /^Stopped; the recording of 1000 image sets was cut short with \d+ written/);
  await waitText(page, '#recording', /^recorded \d+ image sets of 1000 image sets, cut short: /);
  await page.waitForFunction(() => document.querySelector('.feature[data-name="Width"] input') !== null);

  // The zoom reads a saturated pixel as 255 under the overlay, says the scale, shows greys from its hint's on.
  await drawnAfter(page, direction0, 1);
  const hot = await page.evaluate(async () => {
    const bitmap = await createImageBitmap(await (await fetch(`/api/channels/0/image.png?form=direction0`)).blob());
    const context = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
    context.drawImage(bitmap, 0, 0);
    const at = context.getImageData(0, 0, bitmap.width, bitmap.height).data.findIndex((value, i) => i % 4 === 0 && value === 255) / 4;
    return at < 0 ? null : { x: at % bitmap.width, y: Math.floor(at / bitmap.width) };
  });
  assert.ok(hot, 'no saturated pixel at this exposure');
  assert.ok(await page.$eval('#saturation', (box) => box.checked));
  await page.click(`${direction0} canvas`);
  await page.waitForFunction(() => document.querySelector('#zoom-canvas').dataset.ready === '1');
  const valuesFrom = Number((await text(page, '#zoom-hint')).match(/from (\d+) x/)[1]);
  // The wheel zooms about the pointer over that pixel; at each scale the readout, and whether the
  // pixel's cell carries text (pixels other than the overlay's red).
  const zoomed = () => page.evaluate((p) => {
    const canvas = document.querySelector('#zoom-canvas');
    const rect = canvas.getBoundingClientRect();
    const [x, y, scale] = [canvas.dataset.x, canvas.dataset.y, canvas.dataset.scale].map(Number);
    const left = Math.round(x + p.x * scale), top = Math.round(y + p.y * scale), size = Math.max(1, Math.floor(scale) - 2);
    const cell = canvas.getContext('2d').getImageData(left + 1, top + 1, size, size).data;
    return { scale, readout: document.querySelector('#zoom-readout').textContent, text: cell.some((v, i) => i % 4 === 0 && v < 128),
      x: rect.left + (x + (p.x + 0.5) * scale) * (rect.width / canvas.width), y: rect.top + (y + (p.y + 0.5) * scale) * (rect.width / canvas.width) };
  }, hot);
  const at = await zoomed();
  await page.mouse.move(at.x, at.y);
  let below = null;
  let above = null;
  for (let step = 0; step < 40 && above === null; ++step) {
    await page.mouse.wheel({ deltaY: -100 });
    const now = await zoomed();
    assert.ok(now.readout.endsWith(`${now.scale.toFixed(2)} x`), `${now.readout} at ${now.scale}`);
    if (now.scale < valuesFrom) below = now.text;
    else above = now;
  }
  assert.equal(below, false);
  assert.equal(above.text, true);
  // The pointer lands on a whole screen pixel, which at the first scale may lie on the hot pixel's
  // neighbour: now that each pixel is many screen pixels wide, it is put on the hot pixel itself.
  await page.mouse.move(above.x, above.y);
  await waitText(page, '#zoom-readout', new RegExp(`^x ${hot.x}, y ${hot.y}: grey 255 · `));
  await page.click('#zoom-close');

  // The brightness assistant asks for a representative part; no focus graph outside the focus one.
  await page.click('#open-assistant');
  await page.waitForFunction(() => document.querySelector('#assistant-name').options.length >= 4);
  const assist = async (name, result) => {
    await page.select('#assistant-name', name);
    await page.click('#assistant-start');
    // Running, so the result shown is this run's, not the last one's.
    await page.waitForFunction(() => !document.querySelector('#assistant-stop').disabled);
    await waitText(page, '#assistant-result', result);
    assert.equal(await page.$eval('#focus-graph', (c) => getComputedStyle(c).display), 'none');
  };
  const stopAssistant = async () => {
    await page.click('#assistant-stop');
    await page.waitForFunction(() => document.querySelector('#assistant-stop').disabled);
    assert.equal(await page.$eval('#focus-graph', (c) => getComputedStyle(c).display), 'none');
  };
  await assist('Brightness detection', /^(Success|Warning)$/);
  const message = await text(page, '#assistant-message');
  assert.ok(message.length > 0 && !message.includes('{'), message);
  assert.match(await text(page, '#assistant-instruction'), /representative part/);
  await stopAssistant();
  // The orientation assistant warns about a wrong setting, offers the fix, and with it judges right.
  await setFeature(page, 'LightingOrientation', '90 deg');
  await assist('Orientation detection', /^Warning$/);
  await page.waitForFunction(() => !document.querySelector('#assistant-fix-line').hidden);
  assert.equal(await text(page, '#assistant-fix'), 'Apply 180 deg');
  await page.click('#assistant-fix');
  await waitText(page, '#assistant-result', /^Success$/);
  assert.equal(await get('0/features/LightingOrientation'), '180 deg');
  await stopAssistant();
  await page.click('#assistant-close');

  // Save the profile, change a setting, load it edited: lines and notes say what the channel now holds.
  const downloads = path.join(folder, 'downloads');
  await (await page.createCDPSession()).send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.click('#save-profile');
  const profile = path.join(downloads, 'zeb-channel0.profile');
  await until(() => existsSync(profile));
  const saved = readFileSync(profile, 'utf8');
  const exposureHeld = await get('0/features/ExposureTime');
  assert.match(saved, new RegExp(`^ExposureTime=${exposureHeld}$`, 'm'));
  await fetch(`${base}/api/channels/0/features/ExposureTime`, { method: 'PUT', body: '33', headers: { 'X-Zeb-Script': '1' } });
  const loaded = String(Number(exposureHeld) - 15);
  const load = async (name, content) => {
    writeFileSync(path.join(folder, name), content);
    await (await page.$('#profile-file')).uploadFile(path.join(folder, name));
    await waitText(page, '#profile-answer p', new RegExp(`^${name}: `));
    return page.$$eval('#profile-answer li', (items) => items.map((li) => ({ text: li.textContent, kind: li.dataset.kind })));
  };
  const lines = await load('edited.profile', `${saved.replace(/^ExposureTime=.*$/m, `ExposureTime=${loaded}`)}Gain=70000\nDeviceScanType=Areascan\n`);
  assert.deepEqual(lines.find((l) => l.text.startsWith('ExposureTime: ')), { text: `ExposureTime: holds "${loaded}"`, kind: 'held' });
  // A read-only value written as the channel holds it: refused, but nothing is wrong.
  assert.equal(lines.find((l) => l.text.startsWith('DeviceScanType: '))?.kind, 'unchanged');
  // The camera's answer to a gain beyond its range: adjusted or refused, and said so.
  const gain = lines.findLast((l) => l.text.startsWith('Gain: '));
  assert.ok(['adjusted', 'refused'].includes(gain.kind), JSON.stringify(gain));
  assert.match(await text(page, '#profile-answer p'), new RegExp(`^edited.profile: ${lines.length} settings: \\d+ held, .*1 ${gain.kind}`));
  assert.ok(await page.$eval('#profile-answer p', (p) => p.classList.contains('bad') || p.classList.contains('adjusted')));
  await page.waitForFunction((v) => document.querySelector('.feature[data-name="ExposureTime"] input').value === v, {}, loaded);
  assert.equal(await text(page, `${feature('ExposureTime')} .answer`), `holds ${loaded}`);
  const gainNote = await text(page, `${feature('Gain')} .answer`);
  if (gain.kind === 'adjusted') assert.match(gainNote, /^holds .* \(adjusted\)$/);
  else assert.equal(`Gain: ${gainNote}`, gain.text);

  // The page's own profile loads while live without a failure: values held already are none.
  await press(page, '#start', 'live');
  const ownLines = (await load('live.profile', await get('0/profile'))).map((l) => `${l.kind} ${l.text}`);
  assert.ok(ownLines.length > 10 && ownLines.every((l) => /^(held|normalised) /.test(l)), ownLines.join('\n'));
  // The image region and its mirroring are held as they are, and their notes say so.
  for (const name of ['Width', 'Height', 'OffsetX', 'OffsetY', 'ReverseXY']) {
    assert.equal(await text(page, `${feature(name)} .answer`), `holds ${await text(page, `${feature(name)} output`)}`, name);
  }
  assert.ok(!(await page.$eval('#profile-answer p', (p) => p.classList.contains('bad'))));
  await press(page, '#stop', 'stopped');
  assert.deepEqual(errors, []);

  // A second tab starts channel 1 and is closed: the acquisition it alone started stops.
  const { page: tab } = await openPage(browser, port);
  await tab.waitForFunction(() => document.querySelectorAll('#channels button').length === 2);
  await tab.evaluate(() => document.querySelectorAll('#channels button')[1].click());
  await waitText(tab, '#channels button.selected', /^#1/);
  await tab.waitForFunction(() => !document.querySelector('#start').disabled);
  await press(tab, '#start', 'live');
  await tab.close({ runBeforeUnload: false });
  assert.ok(await until(async () => (await mode(1)) === 'idle'));

  // zeb view stops: the page says so, shows nothing live, disables each control needing zeb view.
  await press(page, '#start', 'live');
  assert.equal(await stopServer(server, 'SIGINT'), 0, output());
  await waitText(page, '#connection', /^disconnected/);
  await waitText(page, '#statistics', /^disconnected$/);
  const enabled = await page.$$eval('#channels button, #start, #stop, #save, #record, #open-assistant, #refresh-features, #save-profile, ' +
    '#load-profile, #calibrate, input[name="surface-form"], #feature-groups :is(input, select, button)',
    (controls) => [controls.length, controls.filter((c) => !c.matches(':disabled')).map((c) => c.id || c.outerHTML)]);
  assert.ok(enabled[0] > 20 && enabled[1].length === 0, JSON.stringify(enabled));
  assert.ok(!(await page.$eval('#saturation', (box) => box.matches(':disabled'))));

  // zeb view answers again on the same port: the page follows it without a reload.
  const second = await startServer(folder, port);
  try {
    await waitText(page, '#connection', /^connected$/);
    await waitText(page, '#statistics', /^stopped/);
    await page.waitForFunction(() => ['#start', '#refresh-features', '.feature[data-name="ExposureTime"] input']
      .every((s) => !document.querySelector(s).matches(':disabled')));
    assert.deepEqual(errors, []);
  } finally {
    assert.equal(await stopServer(second.server, 'SIGINT'), 0, second.output());
  }
}));
