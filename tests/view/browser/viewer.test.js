// zeb view in headless Chromium, as a person uses it: the page opens, the acquisition starts and
// images arrive, a higher exposure brightens the view, the brightness assistant runs to its result,
// and a closed tab leaves nothing running that it alone started. Takes the README's screenshot.
//
// ZEB: the zeb program (default build/linux/bin/zeb); ZEB_VIEW_SCREENSHOT: where the screenshot goes
// (default build/linux/zeb-view.png); CHROMIUM: the browser (default /usr/bin/chromium).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { guard, launchBrowser, root, startServer, stopServer } from './harness.js';

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

test('zeb view in Chromium', async () => {
  const folder = mkdtempSync(path.join(os.tmpdir(), 'zeb-view-browser-'));
  mkdirSync(path.join(folder, 'profile'));
  const { server, port, output } = await startServer(folder);
  const base = `http://127.0.0.1:${port}`;
  const browser = await launchBrowser(folder);
  try {
    const page = await browser.newPage();
    page.setDefaultTimeout(guard);
    const errors = [];
    page.on('pageerror', (error) => errors.push(error.message));
    await page.goto(`${base}/`);

    // The feature tree of channel 0, grouped.
    await page.waitForFunction(() => document.querySelectorAll('#feature-groups details').length >= 5);
    const groups = await page.$$eval('#feature-groups summary', (s) => s.map((e) => e.textContent));
    assert.ok(groups.some((g) => g.startsWith('Device and camera')), groups.join());
    assert.ok(groups.some((g) => g.startsWith('Lighting')), groups.join());
    const channels = await page.$$eval('#channels button', (b) => b.map((e) => e.textContent));
    assert.equal(channels.length, 2);

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

    // Stop; then the brightness assistant in its dialog, to its result.
    await page.click('#stop');
    await page.waitForFunction(() => document.querySelector('#statistics').textContent.startsWith('stopped'));
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
    await page.click('#assistant-close');
    assert.deepEqual(errors, []);

    // A second tab starts channel 1 and is closed: the acquisition it alone started stops.
    const tab = await browser.newPage();
    tab.setDefaultTimeout(guard);
    await tab.goto(`${base}/`);
    await tab.waitForFunction(() => document.querySelectorAll('#channels button').length === 2);
    await tab.evaluate(() => document.querySelectorAll('#channels button')[1].click());
    await tab.waitForFunction(() => document.querySelector('#channels button.selected').textContent.startsWith('#1'));
    await tab.waitForFunction(() => !document.querySelector('#start').disabled);
    await tab.click('#start');
    await tab.waitForFunction(() => document.querySelector('#statistics').textContent.startsWith('live'));
    await tab.close({ runBeforeUnload: false });
    const deadline = Date.now() + guard;
    let mode = 'live';
    while (mode !== 'idle' && Date.now() < deadline) {
      mode = (await (await fetch(`${base}/api/channels/1/status`)).json()).mode;
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    assert.equal(mode, 'idle');
  } finally {
    await browser.close();
    const code = await stopServer(server, 'SIGINT');
    assert.equal(code, 0, output());
    assert.match(output(), /channel 0 \(BRELAN: Morvane \(#0\)\): released/);
    rmSync(folder, { recursive: true, force: true });
  }
});
