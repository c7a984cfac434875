// The JSON API of zeb view, the only thing the page talks to, and whether it answers.

// This page's id: every request carries it, so that what the page started stops when it is gone.
export const pageId = Array.from(crypto.getRandomValues(new Uint8Array(12)), (b) => b.toString(16).padStart(2, '0')).join('');

let connected = null; // unknown until the first answer
const connectionListeners = [];

export function isConnected() {
  return connected !== false;
}

// `listener(connected)` runs whenever zeb view stops or starts answering.
export function onConnection(listener) {
  connectionListeners.push(listener);
}

function setConnected(now) {
  if (now === connected) return;
  connected = now;
  for (const listener of connectionListeners) listener(now);
}

// Every request of the page goes through here: its page id, and whether zeb view still answers.
export async function api(method, path, body, signal) {
  const options = { method, headers: { 'X-Zeb-Client': pageId }, signal };
  if (body !== undefined) {
    options.body = body;
    options.headers['Content-Type'] = 'text/plain; charset=utf-8';
  }
  let response;
  try {
    response = await fetch(path, options);
  } catch (error) {
    if (error.name !== 'AbortError') setConnected(false);
    throw error;
  }
  setConnected(true);
  return response;
}

// The answer as JSON; any status but 2xx throws with zeb view's text.
export async function apiJson(method, path, body) {
  const response = await api(method, path, body);
  if (!response.ok) throw new Error(await response.text());
  return response.json();
}

// The tab closes: zeb view stops what this page alone started.
export function sayGoodbye() {
  navigator.sendBeacon(`/api/clients/${pageId}/close`);
}
