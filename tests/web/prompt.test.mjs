// The creature prompt template names every move, every frame and the rules the creature check enforces.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { load, web } from './helpers.mjs';

const { MOVE_IDS } = await load('effects.js');
const { REQUIRED_FRAMES, OPTIONAL_FRAMES } = await load('sprites.js');
const text = fs.readFileSync(path.join(web, 'creatures', 'prompt.txt'), 'utf8');

test('the template names every move and every frame, and the limits of the check', () => {
  for (const id of MOVE_IDS) assert.ok(text.includes(`"${id}"`), `move ${id}`);
  for (const f of REQUIRED_FRAMES.concat(OPTIONAL_FRAMES)) assert.ok(text.includes(`"${f}"`), `frame ${f}`);
  for (const rule of [/at least 2 and at most 16/, /between 8 and 40/, /between 8 and 32/, /at least 12 coloured/,
    /at most 4 move ids/, /at most 7 characters/, /"\." is a transparent pixel/, /at most 14 characters/, /#rrggbb|six hexadecimal digits/])
    assert.match(text, rule);
});
