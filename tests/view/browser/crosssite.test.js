// Pages of another site (localhost:N) and origin (127.0.0.1:N) try all they can send to zeb view: all
// is refused, it stays responsive, its own page works. SIGTERM then stops zeb view as Ctrl-C does.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createServer } from 'node:http';
import { guard, openPage, withViewer } from './harness.js';

// The page of the other site: it attacks zeb view at `target` as soon as it loads.
function attackPage(target) {
  return `<!DOCTYPE html><html><head><title>elsewhere</title></head><body>
<a id="link" href="${target}/api/channels">a link</a>
<iframe id="framed" src="${target}/"></iframe>
<iframe name="sink"></iframe>
<form id="form" method="POST" action="${target}/api/channels/0/acquisition/start" target="sink" enctype="text/plain">
  <input name="x" value="1">
</form>
<script>
  const target = ${JSON.stringify(target)};
  window.attack = async () => {
    const tries = [['features/ExposureTime', { method: 'PUT', body: '77' }],
      ['features/ExposureTime', { method: 'PUT', body: '77', headers: { 'X-Zeb-Client': 'x' } }],
      ['acquisition/start', { method: 'POST', mode: 'no-cors', body: 'x' }],
      ['commands/DeviceImageSourceDetect', { method: 'POST', mode: 'no-cors' }], ['features', { mode: 'no-cors' }],
      ...new Array(12).fill(['status?since=999999&wait=5000', { mode: 'no-cors' }])]
      .map(([route, init]) => fetch(target + '/api/channels/0/' + route, init).then(() => 'sent', String));
    navigator.sendBeacon(target + '/api/channels/0/acquisition/start', 'x');
    document.getElementById('form').submit();
    return Promise.all(tries);
  };
</script></body></html>`;
}

test('pages of other sites and origins change nothing and read nothing', () => withViewer('crosssite', async ({ browser, port, base: target }) => {
  const elsewhere = createServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    response.end(attackPage(target));
  });
  await new Promise((resolve) => elsewhere.listen(0, '127.0.0.1', resolve));
  const other = elsewhere.address().port;
  try {
    const exposureNow = async () => (await fetch(`${target}/api/channels/0/features/ExposureTime`)).text();
    const exposure = await exposureNow();
    // zeb view's answers to them as the browser saw them (also unreadable ones), and the requests it let fail.
    const answered = [];
    const failed = [];
    for (const origin of [`http://localhost:${other}`, `http://127.0.0.1:${other}`]) {
      const page = await browser.newPage();
      page.setDefaultTimeout(guard);
      const attack = (url) => url.startsWith(target) && !url.endsWith('/favicon.ico');
      page.on('response', (r) => { if (attack(r.url())) answered.push(`${r.status()} ${r.request().method()} ${r.url()} from ${origin}`); });
      page.on('requestfailed', (r) => { if (attack(r.url())) failed.push(`${r.failure()?.errorText} ${r.method()} ${r.url()} from ${origin}`); });
      await page.goto(`${origin}/`);
      await page.evaluate(() => window.attack());
      // A click on the link: zeb view refuses the navigation.
      const [navigation] = await Promise.all([page.waitForNavigation(), page.click('#link')]);
      assert.equal(navigation.status(), 403, origin);
      await page.goBack();
      // zeb view's page shows in no frame of theirs.
      const titles = await Promise.all(page.frames().map((frame) => frame.evaluate(() => document.title).catch(() => '(no document)')));
      assert.ok(!titles.includes('zeb view'), `${origin} framed zeb view's page`);
      await page.close();
    }
    // Whatever reached zeb view was refused; the browser itself blocked the rest.
    const seen = `${answered.join('\n')}\n${failed.join('\n')}`;
    assert.ok(answered.length + failed.length >= 2 * 19, seen);
    for (const line of answered) assert.match(line, /^403 /, seen);

    // Nothing changed, and zeb view answers at once (the refused long polls hold nothing).
    assert.equal(await exposureNow(), exposure);
    assert.equal((await (await fetch(`${target}/api/channels/0/status`)).json()).mode, 'idle');

    // zeb view's own page: it reads and writes, with its id and without.
    const { page: own } = await openPage(browser, port);
    const written = await own.evaluate(async () => {
      const put = (value, headers) => fetch('/api/channels/0/features/ExposureTime', { method: 'PUT', body: value, headers })
        .then(async (r) => `${r.status} ${await r.text()}`);
      return [await put('64', { 'X-Zeb-Client': 'own' }), await put('65', {})];
    });
    assert.deepEqual(written, ['200 64', '200 65']);
  } finally {
    elsewhere.close();
  }
}, { signal: 'SIGTERM' }));
