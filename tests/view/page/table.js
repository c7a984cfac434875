// The page tests' tables: each row holds the arguments and what `fn` makes of them.
import assert from 'node:assert/strict';

export function table(fn, rows) {
  for (const [args, expected] of rows) assert.deepEqual(fn(...args), expected, JSON.stringify(args));
}
