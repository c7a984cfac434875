// The assistants dialog: choose an assistant, run it, follow its instruction, result and arguments,
// apply the setting its result implies, and for focus the graph of the focus value.
import { api, apiJson } from './api.js';
import { channelPath } from './channel.js';
import { loadFeatures } from './features.js';
import { focusPoints, graphScale } from './lib/focus.js';
import { $ } from './ui.js';

let timer = null;
let fix = null; // the setting the last result implies: { name, value }

// The dialog leaves the page usable: a fix it offers, or any other setting, can be applied meanwhile.
$('open-assistant').addEventListener('click', async () => {
  if ($('assistant').open) return;
  $('assistant').show();
  await refresh(true);
  timer = setInterval(() => refresh(false), 400);
});
$('assistant-close').addEventListener('click', () => $('assistant').close());
$('assistant').addEventListener('close', () => {
  clearInterval(timer);
  timer = null;
  loadFeatures();
});
$('assistant-start').addEventListener('click', () => control('start', $('assistant-name').value));
$('assistant-next').addEventListener('click', () => control('next'));
$('assistant-stop').addEventListener('click', () => control('stop'));
$('assistant-fix').addEventListener('click', async () => {
  if (!fix) return;
  const { name, value } = fix;
  const response = await api('PUT', channelPath(`features/${encodeURIComponent(name)}`), value);
  const text = await response.text();
  $('assistant-fix-answer').textContent = response.ok ? `${name} holds ${text}` : text;
  await loadFeatures();
  await refresh(false);
});

async function control(what, body) {
  try {
    const response = await api('POST', channelPath(`assistant/${what}`), body);
    $('assistant-error').textContent = response.ok ? '' : await response.text();
  } catch (error) {
    $('assistant-error').textContent = error.message;
  }
  await refresh(false);
}

async function refresh(fillChoices) {
  let view;
  try {
    view = await apiJson('GET', channelPath('assistant'));
  } catch (error) {
    $('assistant-error').textContent = error.message;
    return;
  }
  const select = $('assistant-name');
  if (fillChoices || select.options.length === 0) {
    select.replaceChildren(...view.choices.map((c) => new Option(c, c, false, c === (view.name || view.selector))));
  }
  select.disabled = view.running;
  $('assistant-start').disabled = view.running;
  $('assistant-next').disabled = !view.running || view.result !== 'Success';
  $('assistant-stop').disabled = !view.running;
  $('assistant-instruction').textContent = view.instruction || (view.running ? '' : 'Choose an assistant and press Start.');
  const result = $('assistant-result');
  result.textContent = view.result || '';
  result.className = `result ${view.result || ''}`;
  result.hidden = !view.result;
  $('assistant-message').textContent = view.message;
  $('assistant-arguments').replaceChildren(...view.arguments.map((a) => {
    const item = document.createElement('li');
    item.textContent = a;
    return item;
  }));
  $('assistant-images').textContent = view.active || view.images > 0 ? `${view.images} image sets evaluated` : '';
  if (view.error) $('assistant-error').textContent = view.error;
  // The setting the result implies, offered as one click (the orientation: "Apply 90 deg").
  fix = view.fix;
  $('assistant-fix-line').hidden = !fix;
  if (fix) {
    $('assistant-fix').textContent = `Apply ${fix.value}`;
    $('assistant-fix').title = `Set ${fix.name} to "${fix.value}"`;
  } else {
    $('assistant-fix-answer').textContent = '';
  }
  const graph = $('focus-graph');
  graph.hidden = view.name !== 'Focus detection';
  if (!graph.hidden) drawFocusGraph(graph, view.history);
}

// The focus value of every evaluated image set and the maximum so far: the lens is sharp at the peak.
function drawFocusGraph(canvas, history) {
  const points = focusPoints(history);
  const context = canvas.getContext('2d');
  context.clearRect(0, 0, canvas.width, canvas.height);
  context.fillStyle = '#9aa3ab';
  context.font = '12px system-ui, sans-serif';
  if (points.length === 0) {
    context.fillText('the focus value of each image set appears here', 10, 20);
    return;
  }
  const { x, y } = graphScale(points, canvas);
  const line = (index, colour) => {
    context.strokeStyle = colour;
    context.lineWidth = 2;
    context.beginPath();
    points.forEach((p, i) => (i === 0 ? context.moveTo(x(i), y(p[index])) : context.lineTo(x(i), y(p[index]))));
    context.stroke();
  };
  line(1, '#e0a030');
  line(0, '#4f9ee8');
  const lastPoint = points[points.length - 1];
  context.fillText(`focus value ${lastPoint[0]} (blue) · maximum ${lastPoint[1]} (orange)`, 30, 14);
}
