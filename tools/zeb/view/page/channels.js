// The channel tabs in the header: one button per channel with its scan type and camera.
import { apiJson } from './api.js';
import { select, selectedChannel } from './channel.js';
import { loadFeatures, onWritten } from './features.js';
import { $, say } from './ui.js';

export async function loadChannels() {
  const channels = await apiJson('GET', '/api/channels');
  const nav = $('channels');
  nav.replaceChildren();
  for (const channel of channels) {
    const button = document.createElement('button');
    button.textContent = `#${channel.index} ${channel.scanType} · ${channel.camera}`;
    button.title = `${channel.name}, serial number ${channel.serial}`;
    button.classList.toggle('selected', channel.index === selectedChannel());
    button.addEventListener('click', () => selectChannel(channel.index));
    nav.append(button);
  }
}

// The tab shows the channel's status first, then its tabs and features anew.
async function selectChannel(index) {
  try {
    await select(index);
  } catch (error) {
    say(error.message, true);
  }
  await loadChannels();
  await loadFeatures();
}

// A camera chosen or detected shows in its tab.
onWritten((name) => {
  if (name.startsWith('DeviceImageSource')) loadChannels().catch((error) => say(error.message, true));
});
