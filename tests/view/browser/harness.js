// zeb view and headless Chromium for the browser tests. ZEB: the zeb program (default
// build/linux/bin/zeb); CHROMIUM: the browser (default /usr/bin/chromium).
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const root = path.resolve(import.meta.dirname ?? path.dirname(new URL(import.meta.url).pathname), '../../..');
export const zeb = path.resolve(process.env.ZEB ?? path.join(root, 'build/linux/bin/zeb'));
export const chromium = process.env.CHROMIUM ?? '/usr/bin/chromium';
export const guard = 60000; // longest wait for anything; a slow machine is never a failure before it

// Asks `done` (maybe async) every 50 ms until it holds; false after the guard.
export async function until(done) {
  for (const end = Date.now() + guard; Date.now() < end; await new Promise((r) => setTimeout(r, 50))) {
    if (await done()) return true;
  }
  return false;
}

// The text of the element `selector` names, and a wait until it matches `pattern` (a RegExp).
export const text = (page, selector) => page.$eval(selector, (e) => e.textContent);
export function waitText(page, selector, pattern) {
  return page.waitForFunction((s, source, flags) => new RegExp(source, flags).test(document.querySelector(s)?.textContent ?? ''),
    {}, selector, pattern.source, pattern.flags);
}

// A feature's row in the feature tree.
export const feature = (name) => `.feature[data-name="${name}"]`;

// Clicks the button and waits until the statistics line starts with `state` ("live", "stopped").
export async function press(page, button, state) {
  await page.click(button);
  await waitText(page, '#statistics', new RegExp(`^${state}`));
}

// Starts zeb view in a folder of its own on `port` (0: a free one); resolves with the process and port.
export function startServer(folder, port = 0) {
  const server = spawn(zeb, ['view', '--port', String(port), '--out', path.join(folder, 'saved'), '--page-timeout', '2'],
    { env: { ...process.env, ZEB_DRIVE_C: path.join(folder, 'drive_c') }, stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`zeb view did not come up:\n${output}`)), guard);
    server.stdout.on('data', (chunk) => {
      output += chunk;
      const found = output.match(/serving http:\/\/127\.0\.0\.1:(\d+)\//);
      if (found) {
        clearTimeout(timer);
        resolve({ server, port: Number(found[1]), output: () => output });
      }
    });
    server.stderr.on('data', (chunk) => { output += chunk; });
    server.on('exit', (code) => reject(new Error(`zeb view ended with ${code}:\n${output}`)));
  });
}

// Sends the signal and resolves with the exit status.
export function stopServer(server, signal) {
  server.kill(signal);
  return new Promise((resolve) => (server.exitCode !== null ? resolve(server.exitCode) : server.on('exit', resolve)));
}

// A new tab on zeb view, its script errors in `errors`, once channel 0's feature tree stands.
export async function openPage(browser, port) {
  const page = await browser.newPage();
  page.setDefaultTimeout(guard);
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  // A wait that runs out says what the page showed then: the acquisition's state and any message.
  const waitForFunction = page.waitForFunction.bind(page);
  page.waitForFunction = (...args) => waitForFunction(...args).catch(async (error) => {
    error.message += `\nthe page showed:\n${await page.evaluate(() => ['statistics', 'message', 'failure', 'set-facts']
      .map((id) => `#${id}: ${document.getElementById(id)?.textContent ?? '(none)'}`).join('\n')).catch(() => '')}`;
    throw error;
  });
  await page.goto(`http://127.0.0.1:${port}/`);
  await page.waitForFunction(() => document.querySelectorAll('#feature-groups details').length >= 5);
  return { page, errors };
}

// Runs `body` with zeb view and headless Chromium in a fresh folder (`prepare` readies it), then stops
// them; zeb view must end with status 0 on `signal`, having released channel 0.
export async function withViewer(name, body, { prepare = () => {}, signal = 'SIGINT' } = {}) {
  const folder = mkdtempSync(path.join(os.tmpdir(), `zeb-view-${name}-`));
  mkdirSync(path.join(folder, 'profile'));
  prepare(folder);
  const zebView = await startServer(folder);
  // headless: false, as the flags say headless and puppeteer is to add none of its own.
  const browser = await puppeteer.launch({ executablePath: chromium, headless: false, userDataDir: path.join(folder, 'profile'),
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
    defaultViewport: { width: 1500, height: 1000 }, protocolTimeout: guard * 3 });
  try {
    await body({ folder, browser, ...zebView, base: `http://127.0.0.1:${zebView.port}` });
  } finally {
    await browser.close();
    assert.equal(await stopServer(zebView.server, signal), 0, zebView.output());
    assert.match(zebView.output(), /zeb view: stopping\n[^]*channel 0 \(BRELAN: Morvane \(#0\)\): released/);
    rmSync(folder, { recursive: true, force: true });
  }
}
