// Small DOM helpers every panel uses.

export const $ = (id) => document.getElementById(id);

// The message line under the toolbar; `bad` shows it as an error.
export function say(text, bad) {
  const message = $('message');
  message.textContent = text;
  message.classList.toggle('bad', Boolean(bad));
}

// A canvas with nothing on it.
export function clearCanvas(canvas) {
  canvas.width = 0;
  canvas.height = 0;
}
