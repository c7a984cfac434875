// The toolbar's statistics line against zeb view going away, with a stand-in document and fetch: a
// status whose headers came while zeb view answered but whose body came after it stopped must not
// show the channel as live again.
import { test } from 'node:test';
import assert from 'node:assert/strict';

// Elements by id that keep what the panels set on them; nothing else of the DOM is needed here.
const elements = new Map();
const element = () => ({
  textContent: '', disabled: false, dataset: {}, addEventListener() {}, replaceChildren() {},
  classList: { toggle() {}, add() {}, remove() {} },
});
globalThis.document = {
  getElementById: (id) => elements.get(id) ?? elements.set(id, element()).get(id),
  querySelectorAll: () => [],
};

// zeb view as fetch sees it: the first status at once; each long poll's headers at once and its
// body when the test gives it; anything else as a connection refused.
const polls = [];
let pollArrived = () => {};
globalThis.fetch = async (path) => {
  const json = { headers: { 'Content-Type': 'application/json' } };
  if (path.endsWith('/status')) return new Response(JSON.stringify(statusOf('idle', 1)), json);
  if (!path.includes('/status?since=')) throw new TypeError('Failed to fetch');
  let send;
  const body = new ReadableStream({ start: (controller) => { send = controller; } });
  polls.push((text) => { send.enqueue(new TextEncoder().encode(text)); send.close(); });
  pollArrived();
  return new Response(body, json);
};
const nextPoll = (count) => new Promise((resolve) => {
  pollArrived = () => { if (polls.length >= count) resolve(); };
  pollArrived();
});

function statusOf(mode, revision) {
  return { channel: 0, revision, mode, acquiring: mode === 'live', imageSet: null, error: '',
    statistics: { perSecond: 50, imageSets: 10, lost: 0, failed: 0, lastFailure: '' },
    recording: { active: false, count: 0, seconds: 0, written: 0, ended: '', files: [] } };
}

test('a status whose body arrives after zeb view stopped answering leaves the line at "disconnected"', async () => {
  const { api } = await import('../../../tools/zeb/view/page/api.js');
  const { select, follow } = await import('../../../tools/zeb/view/page/channel.js');
  await import('../../../tools/zeb/view/page/acquisition.js');
  const line = () => document.getElementById('statistics').textContent;

  await select(0);
  assert.match(line(), /^stopped · /);
  follow();
  await nextPoll(1); // its headers are in: zeb view answered
  // Another request finds zeb view gone.
  await assert.rejects(api('GET', '/api/channels/0/features'), TypeError);
  assert.equal(line(), 'disconnected');

  // The long poll's body comes late, saying live: the status is taken, the line stays.
  polls[0](JSON.stringify(statusOf('live', 2)));
  await nextPoll(2); // the next poll is asked for once that status was handled
  assert.equal(document.getElementById('stop').disabled, false, 'the late status was applied');
  assert.equal(line(), 'disconnected');

  // zeb view answers again: the next status shows live.
  polls[1](JSON.stringify(statusOf('live', 3)));
  await nextPoll(3);
  assert.match(line(), /^live · 50\.0 image sets\/s/);
});
