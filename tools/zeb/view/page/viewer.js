// zeb view's page: it uses the JSON API of zeb view and nothing else. This module starts it; each
// panel is a module of its own (see docs/page.md).
import { isConnected, onConnection, sayGoodbye } from './api.js';
import { follow } from './channel.js';
import { loadChannels } from './channels.js';
import { isEditing, loadFeatures } from './features.js';
import { $, say } from './ui.js';
import { zoomOpen } from './zoom.js';
import './acquisition.js';
import './assistant.js';
import './live.js';
import './profiles.js';
import './surface.js';

// Every control that needs zeb view sits in a fieldset marked needs-server: while zeb view does not
// answer they are all disabled, and once it answers again each is as its panel last set it.
function showConnection(connected) {
  const connection = $('connection');
  connection.textContent = connected ? 'connected' : 'disconnected: zeb view does not answer';
  connection.classList.toggle('lost', !connected);
  for (const fieldset of document.querySelectorAll('fieldset.needs-server')) fieldset.disabled = !connected;
}

// zeb view may have been started again meanwhile: its channels and features are read anew.
async function reload() {
  try {
    await loadChannels();
    await loadFeatures();
  } catch (error) {
    say(error.message, true);
  }
}

let lost = false;
onConnection((connected) => {
  showConnection(connected);
  if (!connected) lost = true;
  else if (lost) {
    lost = false;
    reload();
  }
});

window.addEventListener('pagehide', sayGoodbye);

await reload();
follow();
// The feature values change under the page too (assistants, line rates): read them now and then.
setInterval(() => {
  if (!isEditing() && !zoomOpen() && isConnected()) loadFeatures();
}, 5000);
