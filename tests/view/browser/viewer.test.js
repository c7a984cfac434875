// zeb view in headless Chromium as a person uses it, from the feature tree through live images,
// histograms, channel tabs, recording, saving, the zoom, assistants and profiles to a closed tab and
// zeb view going away and coming back. Takes the manual's screenshot (docs/images/zeb-view.png).
// ZEB_VIEW_SCREENSHOT: where the screenshot goes (default build/linux/zeb-view.png).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { openPage, press, root, startServer, stopServer, until, withViewer } from './harness.js';

const screenshot = path.resolve(process.env.ZEB_VIEW_SCREENSHOT ?? path.join(root, 'build/linux/zeb-view.png'));

// Mean grey of a pane's canvas (the red channel: the saturation overlay keeps it at 255), and a
// fingerprint of its pixels.
function pane(page, selector) {
  return page.evaluate((s) => {
    const canvas = document.querySelector(s);
    if (!canvas || canvas.width === 0) return { width: 0, mean: 0, print: '' };
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let sum = 0;
    let print = 0;
    for (let i = 0; i < data.length; i += 4) {
      sum += data[i];
      print = (print * 31 + data[i]) % 1000000007;
    }
    return { width: canvas.width, mean: sum / (data.length / 4), print: String(print) };
  }, selector);
}

// The number of the image set the status names, and of the one a pane shows.
function setNumber(page) {
  return page.$eval('#set-facts', (p) => Number((p.textContent.match(/image set (\d+)/) || [0, 0])[1]));
}
function drawnAfter(page, selector, number) {
  return page.waitForFunction((s, n) => Number(document.querySelector(s).dataset.set || 0) > n, {}, selector, number);
}

test('zeb view in Chromium', () => withViewer('browser', async ({ folder, browser, server, port, output, base }) => {
  const { page, errors } = await openPage(browser, port);

  // The feature tree of channel 0, grouped.
  const groups = await page.$$eval('#feature-groups summary', (s) => s.map((e) => e.textContent));
  assert.ok(groups.some((g) => g.startsWith('Device and camera')), groups.join());
  assert.ok(groups.some((g) => g.startsWith('Lighting')), groups.join());
  const channels = await page.$$eval('#channels button', (b) => b.map((e) => e.textContent));
  assert.equal(channels.length, 2);

  // Units beside the values, the meaning and the channel's limits as the name's tooltip.
  const guide = (name) => page.$eval(`.feature[data-name="${name}"]`, (row) => ({
    unit: row.querySelector('.unit') ? row.querySelector('.unit').textContent : '',
    title: row.querySelector('.feature-name').title,
  }));
  const exposureGuide = await guide('ExposureTime');
  assert.equal(exposureGuide.unit, 'us');
  assert.match(exposureGuide.title, /microseconds[^]*65000/);
  assert.deepEqual([(await guide('Gain')).unit, (await guide('LightingOrientation')).unit], ['dB', '']);

  // A modest exposure to start from, through the feature tree; the answer is the value held.
  const exposure = '.feature[data-name="ExposureTime"]';
  await page.$eval(`${exposure} input`, (input) => { input.value = ''; });
  await page.type(`${exposure} input`, '20');
  await page.keyboard.press('Enter');
  await page.waitForFunction((s) => document.querySelector(`${s} .answer`).textContent.startsWith('holds 20'), {}, exposure);
  // A value the channel refuses shows its error verbatim.
  await page.select('.feature[data-name="SetupMode"] select', 'On');
  await page.waitForFunction(() => document.querySelector('.feature[data-name="SetupMode"] .answer').textContent === 'holds On');
  await page.select('.feature[data-name="SetupMode"] select', 'Off');
  await page.waitForFunction(() => document.querySelector('.feature[data-name="SetupMode"] .answer').textContent === 'holds Off');

  // Start: image sets arrive and the panes change.
  const blank = await pane(page, '#directions figure[data-form="direction0"] canvas');
  assert.equal(blank.mean, 0); // nothing drawn yet
  await page.waitForFunction(() => !document.querySelector('#start').disabled);
  await page.click('#start');
  await page.waitForFunction(() => /image set \d+/.test(document.querySelector('#set-facts').textContent));
  const first = await setNumber(page);
  await drawnAfter(page, '#directions figure[data-form="direction0"]', first);
  const shown = await pane(page, '#directions figure[data-form="direction0"] canvas');
  assert.ok(shown.width > 0 && shown.mean > 0, JSON.stringify(shown));
  assert.notEqual(shown.print, blank.print);
  const caption = await page.$eval('#directions figure[data-form="direction0"] figcaption', (c) => c.textContent);
  assert.match(caption, /lit from/);
  assert.match(await page.$eval('#statistics', (s) => s.textContent), /live · [\d.]+ image sets\/s/);

  // Each direction has its own histogram and statistics, so one clipping direction shows.
  await page.waitForFunction(() => Array.from(document.querySelectorAll('.direction-facts')).every((p) => /mean [\d.]+ · saturated/.test(p.textContent)));
  const drawnBars = await page.$$eval('.direction-histogram', (canvases) => canvases.map((c) => {
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let lit = 0;
    for (let i = 3; i < data.length; i += 4) lit += data[i] > 0;
    return lit;
  }));
  assert.equal(drawnBars.length, 4);
  assert.ok(drawnBars.every((lit) => lit > 0), drawnBars.join());
  // A direction is red from a tenth of a percent of saturated pixels on, as its tooltip says; a
  // handful of them is counted, not flagged.
  const facts = await page.$$eval('.direction-facts', (ps) => ps.map((p) => ({ text: p.textContent, title: p.title, red: p.classList.contains('clipping') })));
  for (const fact of facts) {
    assert.match(fact.title, /Red when 0\.1 % or more/);
    const shown = fact.text.match(/saturated (< )?([\d.]+) %/);
    assert.ok(shown, fact.text);
    if (shown[1] || Number(shown[2]) < 0.05) assert.equal(fact.red, false, fact.text);
    if (Number(shown[2]) >= 0.2) assert.equal(fact.red, true, fact.text);
    assert.doesNotMatch(fact.text, /saturated 0\.000 %/);
  }

  // Every feature zeb view marks as fixed while the camera streams (the image region) is shown,
  // not editable.
  const fixedNames = (await (await fetch(`${base}/api/channels/0/features`)).json())
    .filter((f) => f.fixedWhileAcquiring).map((f) => f.name);
  assert.ok(fixedNames.includes('Width'), fixedNames.join());
  await page.waitForFunction((names) => names.every((n) => document.querySelector(`.feature[data-name="${n}"] .fixed`)), {}, fixedNames);
  for (const name of fixedNames) {
    assert.equal(await page.$(`.feature[data-name="${name}"] input, .feature[data-name="${name}"] select`), null, name);
  }
  assert.ok(await page.$('.feature[data-name="ExposureTime"] input'));

  // Channel 1's tab shows channel 1 alone from the click on: never channel 0's live status, images,
  // histogram or surface.
  await page.waitForFunction(() => Number(document.querySelector('#surface-canvas').dataset.set || 0) > 0);
  assert.match(await page.$eval('#histogram-caption', (c) => c.textContent), /· mean/);
  await page.evaluate(() => {
    window.seen = [];
    const observer = new MutationObserver(() => {
      window.seen.push(document.querySelector('#statistics').textContent);
    });
    observer.observe(document.querySelector('#statistics'), { childList: true, characterData: true, subtree: true });
    for (const figure of document.querySelectorAll('figure.pane')) {
      new MutationObserver(() => { if (figure.dataset.set) window.seen.push(`drawn ${figure.dataset.form}`); }).observe(figure, { attributes: true, attributeFilter: ['data-set'] });
    }
    const surface = document.querySelector('#surface-canvas');
    new MutationObserver(() => { if (surface.dataset.set) window.seen.push('drawn surface'); }).observe(surface, { attributes: true, attributeFilter: ['data-set'] });
    document.querySelectorAll('#channels button')[1].click();
    // What the page shows the moment the tab is clicked, before any answer arrives.
    window.atClick = {
      statistics: document.querySelector('#statistics').textContent,
      histogram: document.querySelector('#histogram-caption').textContent,
      surface: { width: surface.width, set: surface.dataset.set ?? '', caption: document.querySelector('#surface-caption').textContent },
    };
  });
  await page.waitForFunction(() => document.querySelector('#statistics').textContent.startsWith('stopped'));
  await page.waitForFunction(() => !document.querySelector('#start').disabled);
  const seen = await page.evaluate(() => window.seen);
  const atClick = await page.evaluate(() => window.atClick);
  assert.ok(!atClick.statistics.startsWith('live'));
  assert.equal(atClick.histogram, 'Histogram of every delivered pixel');
  assert.deepEqual(atClick.surface, { width: 0, set: '', caption: 'The surface shows with the next image set.' });
  assert.ok(!seen.some((text) => text.startsWith('live') || text.startsWith('drawn')), seen.join(' | '));
  assert.equal(await page.$eval('#histogram-caption', (c) => c.textContent), 'Histogram of every delivered pixel');
  assert.equal(await page.$eval('#set-facts', (p) => p.textContent), '');
  await press(page, '#start', 'live');
  await page.waitForFunction(() => /image set \d+/.test(document.querySelector('#set-facts').textContent));
  await press(page, '#stop', 'stopped');
  const channel1 = await (await fetch(`${base}/api/channels/1/status`)).json();
  assert.equal(channel1.mode, 'idle');
  assert.ok(channel1.statistics.imageSets >= 1);
  assert.equal((await (await fetch(`${base}/api/channels/0/status`)).json()).mode, 'live');
  await page.evaluate(() => document.querySelectorAll('#channels button')[0].click());
  await page.waitForFunction(() => document.querySelector('#statistics').textContent.startsWith('live'));
  await page.waitForFunction(() => /image set \d+/.test(document.querySelector('#set-facts').textContent));

  // A higher exposure brightens the view: the page shows image sets taken with it.
  await page.waitForFunction(() => document.querySelector('#set-facts').textContent.includes('exposure 20 us'));
  await drawnAfter(page, '#average', await setNumber(page));
  const dim = await pane(page, '#average canvas');
  await page.$eval(`${exposure} input`, (input) => { input.value = ''; });
  await page.type(`${exposure} input`, '60');
  await page.keyboard.press('Enter');
  await page.waitForFunction((s) => document.querySelector(`${s} .answer`).textContent.startsWith('holds 60'), {}, exposure);
  await page.waitForFunction(() => document.querySelector('#set-facts').textContent.includes('exposure 60 us'));
  await drawnAfter(page, '#average', await setNumber(page));
  const bright = await pane(page, '#average canvas');
  assert.ok(bright.mean > 1.5 * dim.mean, `the view did not brighten: ${dim.mean} then ${bright.mean}`);
  await page.$eval('#features', (aside) => { aside.scrollTop = 0; });
  await page.screenshot({ path: screenshot });

  // Record two image sets of the running acquisition into --out.
  await page.$eval('#record-amount', (input) => { input.value = '2'; });
  await page.select('#record-unit', 'count');
  await page.click('#record');
  await page.waitForFunction(() => document.querySelector('#recording').textContent.startsWith('recorded 2 image sets'));
  const recorded = readdirSync(path.join(folder, 'saved')).filter((f) => f.endsWith('-stack.png'));
  assert.equal(recorded.length, 2, recorded.join());

  // "Save this image set" names the files it wrote and the number they carry, beside the live one.
  await page.evaluate(() => { document.querySelector('#message').textContent = ''; });
  await page.click('#save');
  await page.waitForFunction(() => document.querySelector('#message').textContent.startsWith('saved'));
  const savedLine = await page.$eval('#message', (m) => m.textContent);
  const named = savedLine.match(/ in (.*): (.*)$/);
  assert.ok(named, savedLine);
  assert.equal(named[1], path.join(folder, 'saved'));
  const savedFiles = named[2].split(', ');
  assert.ok(savedFiles.some((f) => f.endsWith('-stack.png')), savedLine);
  for (const file of savedFiles) assert.ok(existsSync(path.join(folder, 'saved', file)), file);
  const claimed = savedLine.match(/^saved image set (\d+) \(the live view's \d+\) /);
  assert.ok(claimed, savedLine);
  assert.ok(savedFiles.every((f) => f.includes(`-${claimed[1].padStart(4, '0')}-`)), savedLine);

  // Stop during a recording says that it cut the recording short; the region is editable again.
  await page.$eval('#record-amount', (input) => { input.value = '1000'; });
  await page.click('#record');
  await page.waitForFunction(() => /^recording 1000 image sets: [1-9]/.test(document.querySelector('#recording').textContent));
  await press(page, '#stop', 'stopped');
  await page.waitForFunction(() => /^Stopped; the recording of 1000 image sets was cut short with \d+ written/.test(document.querySelector('#message').textContent));
  await page.waitForFunction(() => /^recorded \d+ image sets of 1000 image sets, cut short: /.test(document.querySelector('#recording').textContent));
  await page.waitForFunction(() => document.querySelector('.feature[data-name="Width"] input') !== null);

  // The zoom reads a saturated pixel as 255 with the saturation overlay on, says the zoom after the
  // wheel, and shows the grey values from the zoom its hint names on.
  await drawnAfter(page, '#directions figure[data-form="direction0"]', (await setNumber(page)) - 1);
  const hot = await page.evaluate(async () => {
    const response = await fetch(`/api/channels/0/image.png?form=direction0`);
    const bitmap = await createImageBitmap(await response.blob());
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const context = canvas.getContext('2d');
    context.drawImage(bitmap, 0, 0);
    const data = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i] === 255) return { x: (i / 4) % bitmap.width, y: Math.floor(i / 4 / bitmap.width) };
    }
    return null;
  });
  assert.ok(hot, 'no saturated pixel at this exposure');
  assert.ok(await page.$eval('#saturation', (box) => box.checked));
  await page.click('#directions figure[data-form="direction0"] canvas');
  await page.waitForFunction(() => document.querySelector('#zoom-canvas').dataset.ready === '1');
  const valuesFrom = Number((await page.$eval('#zoom-hint', (p) => p.textContent)).match(/from (\d+) x/)[1]);
  // The pointer over the saturated pixel; the wheel zooms about it, so it stays under the pointer.
  const pointAt = () => page.evaluate((p) => {
    const canvas = document.querySelector('#zoom-canvas');
    const rect = canvas.getBoundingClientRect();
    const ratio = rect.width / canvas.width;
    const z = canvas.dataset;
    return { x: rect.left + (Number(z.x) + (p.x + 0.5) * Number(z.scale)) * ratio, y: rect.top + (Number(z.y) + (p.y + 0.5) * Number(z.scale)) * ratio };
  }, hot);
  let at = await pointAt();
  await page.mouse.move(at.x, at.y);
  // Whether the pixel's cell carries text: pixels other than the overlay's red.
  const cellHasText = () => page.evaluate((p) => {
    const canvas = document.querySelector('#zoom-canvas');
    const z = { x: Number(canvas.dataset.x), y: Number(canvas.dataset.y), scale: Number(canvas.dataset.scale) };
    const left = Math.round(z.x + p.x * z.scale), top = Math.round(z.y + p.y * z.scale), size = Math.floor(z.scale);
    const data = canvas.getContext('2d').getImageData(left + 1, top + 1, Math.max(1, size - 2), Math.max(1, size - 2)).data;
    for (let i = 0; i < data.length; i += 4) if (data[i] < 128) return true;
    return false;
  }, hot);
  let below = null;
  let above = null;
  for (let step = 0; step < 40 && above === null; ++step) {
    await page.mouse.wheel({ deltaY: -100 });
    const readout = await page.$eval('#zoom-readout', (r) => r.textContent);
    const scale = await page.$eval('#zoom-canvas', (c) => Number(c.dataset.scale));
    assert.ok(readout.endsWith(`${scale.toFixed(2)} x`), `${readout} at ${scale}`);
    if (scale < valuesFrom) below = await cellHasText();
    else above = { text: await cellHasText(), readout };
  }
  assert.equal(below, false);
  assert.equal(above.text, true);
  assert.match(above.readout, new RegExp(`^x ${hot.x}, y ${hot.y}: grey 255 · `));
  await page.click('#zoom-close');
  await page.click('#open-assistant');
  await page.waitForFunction(() => document.querySelector('#assistant-name').options.length >= 4);
  await page.select('#assistant-name', 'Brightness detection');
  await page.click('#assistant-start');
  await page.waitForFunction(() => ['Success', 'Warning'].includes(document.querySelector('#assistant-result').textContent));
  const message = await page.$eval('#assistant-message', (m) => m.textContent);
  assert.ok(message.length > 0 && !message.includes('{'), message);
  assert.match(await page.$eval('#assistant-instruction', (p) => p.textContent), /representative part/);
  await page.click('#assistant-stop');
  await page.waitForFunction(() => document.querySelector('#assistant-stop').disabled);
  assert.equal(await page.$eval('#focus-graph', (c) => getComputedStyle(c).display), 'none');

  // The orientation assistant warns about a wrong setting and offers the fix; the dialog leaves
  // the page usable, and the fix applied, it judges the station right.
  await page.select('.feature[data-name="LightingOrientation"] select', '90 deg');
  await page.waitForFunction(() => document.querySelector('.feature[data-name="LightingOrientation"] .answer').textContent === 'holds 90 deg');
  await page.select('#assistant-name', 'Orientation detection');
  await page.click('#assistant-start');
  await page.waitForFunction(() => document.querySelector('#assistant-result').textContent === 'Warning');
  await page.waitForFunction(() => !document.querySelector('#assistant-fix-line').hidden);
  assert.equal(await page.$eval('#assistant-fix', (b) => b.textContent), 'Apply 180 deg');
  assert.equal(await page.$eval('#focus-graph', (c) => getComputedStyle(c).display), 'none');
  await page.click('#assistant-fix');
  await page.waitForFunction(() => document.querySelector('#assistant-result').textContent === 'Success');
  assert.equal(await (await fetch(`${base}/api/channels/0/features/LightingOrientation`)).text(), '180 deg');
  await page.click('#assistant-stop');
  await page.waitForFunction(() => document.querySelector('#assistant-stop').disabled);
  await page.click('#assistant-close');

  // Save the profile (a download), change a setting, load an edited profile: each line says what
  // the channel holds, and so do the notes under the features, not what they said before.
  const downloads = path.join(folder, 'downloads');
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.click('#save-profile');
  const profile = path.join(downloads, 'zeb-channel0.profile');
  await until(() => existsSync(profile));
  const saved = readFileSync(profile, 'utf8');
  const exposureHeld = await (await fetch(`${base}/api/channels/0/features/ExposureTime`)).text();
  assert.match(saved, new RegExp(`^ExposureTime=${exposureHeld}$`, 'm'));
  await fetch(`${base}/api/channels/0/features/ExposureTime`, { method: 'PUT', body: '33', headers: { 'X-Zeb-Script': '1' } });
  const edited = path.join(folder, 'edited.profile');
  const loaded = String(Number(exposureHeld) - 15);
  writeFileSync(edited, `${saved.replace(/^ExposureTime=.*$/m, `ExposureTime=${loaded}`)}Gain=70000\n`);
  const input = await page.$('#profile-file');
  await input.uploadFile(edited);
  await page.waitForFunction(() => document.querySelector('#profile-answer p')?.textContent.startsWith('edited.profile: '));
  const lines = await page.$$eval('#profile-answer li', (items) => items.map((li) => ({ text: li.textContent, kind: li.dataset.kind })));
  assert.deepEqual(lines.find((l) => l.text.startsWith('ExposureTime: ')), { text: `ExposureTime: holds "${loaded}"`, kind: 'held' });
  // The camera's answer to a gain beyond its range: adjusted or refused, and said so.
  const gain = lines.findLast((l) => l.text.startsWith('Gain: '));
  assert.ok(['adjusted', 'refused'].includes(gain.kind), JSON.stringify(gain));
  assert.match(await page.$eval('#profile-answer p', (p) => p.textContent), new RegExp(`^edited.profile: ${lines.length} settings: \\d+ held, .*1 ${gain.kind}`));
  assert.ok(await page.$eval('#profile-answer p', (p) => p.classList.contains('bad') || p.classList.contains('adjusted')));
  await page.waitForFunction((v) => document.querySelector('.feature[data-name="ExposureTime"] input').value === v, {}, loaded);
  assert.equal(await page.$eval('.feature[data-name="ExposureTime"] .answer', (a) => a.textContent), `holds ${loaded}`);
  const gainNote = await page.$eval('.feature[data-name="Gain"] .answer', (a) => a.textContent);
  if (gain.kind === 'adjusted') assert.match(gainNote, /^holds .* \(adjusted\)$/);
  else assert.equal(`Gain: ${gainNote}`, gain.text);

  // The page's own profile, saved while live, loads while live without a failure: values the
  // channel holds already are no failure, even where it refuses to write them while streaming.
  await press(page, '#start', 'live');
  const ownProfile = path.join(folder, 'live.profile');
  writeFileSync(ownProfile, await (await fetch(`${base}/api/channels/0/profile`)).text());
  await input.uploadFile(ownProfile);
  await page.waitForFunction(() => document.querySelector('#profile-answer p')?.textContent.startsWith('live.profile: '));
  const ownLines = await page.$$eval('#profile-answer li', (items) => items.map((li) => `${li.dataset.kind} ${li.textContent}`));
  assert.ok(ownLines.length > 10, ownLines.join('\n'));
  assert.ok(ownLines.every((l) => /^(held|normalised) /.test(l)), ownLines.join('\n'));
  // The image region and its mirroring are held as they are, and their notes say so.
  for (const name of ['Width', 'Height', 'OffsetX', 'OffsetY', 'ReverseXY']) {
    const value = await page.$eval(`.feature[data-name="${name}"] output`, (o) => o.textContent);
    assert.equal(await page.$eval(`.feature[data-name="${name}"] .answer`, (a) => a.textContent), `holds ${value}`, name);
  }
  assert.ok(!(await page.$eval('#profile-answer p', (p) => p.classList.contains('bad'))));
  await press(page, '#stop', 'stopped');
  assert.deepEqual(errors, []);

  // A second tab starts channel 1 and is closed: the acquisition it alone started stops.
  const { page: tab } = await openPage(browser, port);
  await tab.waitForFunction(() => document.querySelectorAll('#channels button').length === 2);
  await tab.evaluate(() => document.querySelectorAll('#channels button')[1].click());
  await tab.waitForFunction(() => document.querySelector('#channels button.selected').textContent.startsWith('#1'));
  await tab.waitForFunction(() => !document.querySelector('#start').disabled);
  await press(tab, '#start', 'live');
  await tab.close({ runBeforeUnload: false });
  assert.ok(await until(async () => (await (await fetch(`${base}/api/channels/1/status`)).json()).mode === 'idle'));

  // zeb view stops: the page says it is disconnected, shows nothing as live, and every control
  // that needs zeb view is disabled, the zoom's aside.
  await press(page, '#start', 'live');
  assert.equal(await stopServer(server, 'SIGINT'), 0, output());
  await page.waitForFunction(() => document.querySelector('#connection').textContent.startsWith('disconnected'));
  await page.waitForFunction(() => document.querySelector('#statistics').textContent === 'disconnected');
  const needServer = '#channels button, #start, #stop, #save, #record, #open-assistant, #refresh-features, ' +
    '#save-profile, #load-profile, #calibrate, input[name="surface-form"], #feature-groups input, #feature-groups select, ' +
    '#feature-groups button';
  const enabled = await page.$$eval(needServer, (controls) => controls.filter((c) => !c.matches(':disabled')).map((c) => c.id || c.outerHTML));
  assert.deepEqual(enabled, []);
  assert.ok(await page.$$eval(needServer, (controls) => controls.length) > 20);
  assert.ok(!(await page.$eval('#saturation', (box) => box.matches(':disabled'))));

  // zeb view answers again on the same port: the page follows it without a reload.
  const second = await startServer(folder, port);
  try {
    await page.waitForFunction(() => document.querySelector('#connection').textContent === 'connected');
    await page.waitForFunction(() => document.querySelector('#statistics').textContent.startsWith('stopped'));
    await page.waitForFunction(() => !document.querySelector('#start').matches(':disabled') &&
      !document.querySelector('#refresh-features').matches(':disabled') &&
      !document.querySelector('.feature[data-name="ExposureTime"] input').matches(':disabled'));
    assert.deepEqual(errors, []);
  } finally {
    assert.equal(await stopServer(second.server, 'SIGINT'), 0, second.output());
  }
}));
