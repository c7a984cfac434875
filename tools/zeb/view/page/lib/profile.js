// Profiles (NAME=VALUE lines) and zeb view's answer to one, line by line. No DOM: node --test imports
// this file.

const blanks = /^[ \t\r\n]+|[ \t\r\n]+$/g;
const trim = (text) => text.replace(blanks, '');

// The settings of a profile in order, read as zeb reads them: one a line (LF or CR LF), blank lines
// and lines starting with # skipped, the name up to the first =, the value after it (it may hold more
// =), both trimmed of spaces and tabs. `problems` names each line that is no NAME=VALUE.
export function parseProfile(text) {
  const assignments = [];
  const problems = [];
  text.split('\n').forEach((raw, index) => {
    const line = trim(raw);
    if (line === '' || line.startsWith('#')) return;
    const equals = line.indexOf('=');
    const name = equals < 0 ? '' : trim(line.slice(0, equals));
    if (name === '') problems.push({ line: index + 1, text: `line ${index + 1}: "${line}" is not NAME=VALUE` });
    else assignments.push({ name, value: trim(line.slice(equals + 1)), line: index + 1 });
  });
  return { assignments, problems };
}

const number = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;

// Whether two values are the same: the same text, or the same number written another way ("50" and
// "50.0").
export function sameValue(a, b) {
  if (a === undefined || a === null || b === undefined || b === null) return false;
  const x = trim(String(a));
  const y = trim(String(b));
  if (x === y) return true;
  return number.test(x) && number.test(y) && Number(x) === Number(y);
}

// One answer line after its "NAME: ": `holds "V"`, `wrote "A", the channel holds "B"` or an error.
function classify(name, value, text) {
  const held = /^holds "(.*)"$/s.exec(text);
  if (held) return { name, value, text, kind: 'held', holds: held[1] };
  const changed = /^wrote "(.*)", the channel holds "(.*)"$/s.exec(text);
  if (changed) {
    const kind = sameValue(changed[1], changed[2]) ? 'normalised' : 'adjusted';
    return { name, value, text, kind, holds: changed[2] };
  }
  return { name, value, text, kind: 'refused' };
}

// Pairs zeb view's answer (a line "NAME: ..." for each setting, in order; an error may run over more
// lines) with the profile's settings. A setting the answer does not reach is "unanswered"; text
// before the first setting's line is kept as `preamble`.
export function readAnswers(assignments, answer) {
  const results = [];
  let preamble = '';
  let current = null;
  for (const line of answer.split('\n')) {
    const next = assignments[results.length];
    if (next && line.startsWith(`${next.name}: `)) {
      current = { assignment: next, text: line.slice(next.name.length + 2) };
      results.push(current);
    } else if (current) {
      current.text += `\n${line}`;
    } else {
      preamble += (preamble ? '\n' : '') + line;
    }
  }
  const classified = results.map((r) => classify(r.assignment.name, r.assignment.value, r.text));
  for (const missing of assignments.slice(results.length)) {
    classified.push({ name: missing.name, value: missing.value, text: '', kind: 'unanswered' });
  }
  return { results: classified, preamble };
}

// A refused write is no failure where the channel already holds the value asked for (an image-region
// value while the camera streams): such results become "unchanged". `valueOf(name)` gives the value
// the channel holds now, or undefined.
export function settle(results, valueOf) {
  return results.map((r) => (r.kind === 'refused' && sameValue(r.value, valueOf(r.name))
    ? { ...r, kind: 'unchanged', holds: valueOf(r.name) } : r));
}

// "21 settings: 18 held, 1 adjusted, 2 refused"; `failed` when any was refused or not answered,
// `adjusted` when the channel holds another value than asked for.
export function summarise(results) {
  const count = (...kinds) => results.filter((r) => kinds.includes(r.kind)).length;
  const held = count('held', 'normalised');
  const unchanged = count('unchanged');
  const adjusted = count('adjusted');
  const refused = count('refused');
  const unanswered = count('unanswered');
  const parts = [`${held} held`];
  if (unchanged) parts.push(`${unchanged} already held (the write refused)`);
  if (adjusted) parts.push(`${adjusted} adjusted`);
  if (refused) parts.push(`${refused} refused`);
  if (unanswered) parts.push(`${unanswered} not answered`);
  const noun = results.length === 1 ? 'setting' : 'settings';
  return { text: `${results.length} ${noun}: ${parts.join(', ')}`, failed: refused + unanswered > 0, adjusted: adjusted > 0 };
}
