// The built-in creature passes the program's own creature check unchanged.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { tobble, web } from './helpers.mjs';

const tool = process.env.BOPLING_CREATURE_TOOL;

test('tobble.json passes the check unchanged in meaning', { skip: tool ? false : 'BOPLING_CREATURE_TOOL is not set' }, () => {
  const file = path.join(web, 'creatures', 'tobble.json');
  const checked = JSON.parse(execFileSync(tool, ['check', file], { encoding: 'utf8' }));
  const original = tobble();
  assert.equal(checked.name, original.name);
  assert.deepEqual(checked.palette, original.palette);
  assert.deepEqual(checked.frames, original.frames, 'the frames need no padding or moving');
  assert.deepEqual(checked.attacks, original.attacks);
  assert.equal(checked.sound, original.sound);
});
