// The selected channel and its latest status, followed by long polls. Panels subscribe: onSelect
// when another channel is selected (clear what belongs to the previous one), onStatus for each
// status of the selected channel.
import { api, apiJson } from './api.js';

let selected = 0;
let status = null;
let revision = 0;
let poll = null; // the status request under way, aborted when another channel is selected
const selectListeners = [];
const statusListeners = [];

export const selectedChannel = () => selected;
export const currentStatus = () => status;

export function channelPath(rest, index = selected) {
  return `/api/channels/${index}/${rest}`;
}

export function onSelect(listener) {
  selectListeners.push(listener);
}

export function onStatus(listener) {
  statusListeners.push(listener);
}

// A status is shown only under its own channel's tab.
function accept(next) {
  if (next.channel !== selected) return;
  status = next;
  revision = next.revision;
  for (const listener of statusListeners) listener(next);
}

// The page shows the selected channel at once: the previous channel's status request is dropped,
// the panels clear what they showed of it, and the new channel's status is read before anything
// else. Throws with zeb view's text when the status cannot be read.
export async function select(index) {
  selected = index;
  status = null;
  revision = 0;
  if (poll) poll.abort();
  for (const listener of selectListeners) listener(index);
  const first = await apiJson('GET', channelPath('status', index));
  accept(first);
}

// Waits for each change of the selected channel (an image set, a start or stop) and passes it on; a
// change of channel aborts the wait, so the new channel is followed at once. While zeb view does not
// answer it asks again every second.
export async function follow() {
  for (;;) {
    const channel = selected;
    const controller = new AbortController();
    poll = controller;
    try {
      const response = await api('GET', `${channelPath('status', channel)}?since=${revision}&wait=2000`, undefined, controller.signal);
      if (!response.ok) throw new Error(await response.text());
      const next = await response.json();
      if (channel === selected) accept(next);
    } catch (error) {
      if (controller.signal.aborted) continue;
      // A zeb view started again counts its revisions from the start.
      revision = 0;
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}
