// The feature tree's decisions that need no DOM: groups, tooltips, which editor a feature gets, and
// whether a note under a feature still tells the truth. node --test imports this file.
import { sameValue } from './profile.js';

export const groupOrder = ['Device and camera', 'Image format', 'Acquisition', 'Lighting', 'Assistants', 'Transport', 'Other'];

// The features by group in groupOrder, each group in the channel's order; empty groups left out, a
// group zeb view names that the page does not know goes last.
export function groupFeatures(features) {
  const order = [...groupOrder];
  for (const feature of features) if (!order.includes(feature.group)) order.push(feature.group);
  return order.map((group) => ({ group, members: features.filter((f) => f.group === group) }))
    .filter((g) => g.members.length > 0);
}

// The tooltip of a feature's name: its meaning, the channel's limits and the unit.
export function featureTitle(feature) {
  return (feature.description ?? '') + (feature.limits ? `\nLimits: ${feature.limits}.` : '') +
    (feature.unit ? `\nUnit: ${feature.unit}` : '');
}

export function flagsText(feature) {
  return (feature.readable ? 'R' : '-') + (feature.writable ? 'W' : '-') + (feature.common ? 'C' : '-');
}

// How a feature is shown: "command" (a button), "fixed" (its value; the camera refuses a change
// while it streams), "readonly", "choice" (a list) or "text" (a field).
export function editorKind(feature, acquiring) {
  if (feature.type === 'Command') return 'command';
  if (feature.fixedWhileAcquiring && acquiring) return 'fixed';
  if (!feature.writable) return 'readonly';
  return choicesFor(feature).length > 0 ? 'choice' : 'text';
}

export function choicesFor(feature) {
  if (feature.type === 'Bool') return ['True', 'False'];
  return Array.isArray(feature.choices) ? feature.choices : [];
}

// A note under a feature (the channel's answer to a write, or to a profile's line) says what the
// channel held then; it stays only while the feature still holds that value, so a later change
// from elsewhere (a profile, a script, another page, an assistant) never leaves a stale note.
export function noteShows(note, value) {
  return Boolean(note) && sameValue(note.value, value ?? '');
}
