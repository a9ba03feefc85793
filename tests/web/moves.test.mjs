// The shipped move pictures: one per move, animated, about 216 x 144.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { load, root } from './helpers.mjs';

const { MOVE_IDS } = await load('effects.js');

let identify = null;
try {
  execFileSync('identify', ['-version'], { stdio: 'ignore' });
  identify = 'identify';
} catch (e) {
  identify = null;
}

test('every move has an animated picture', { skip: identify ? false : 'ImageMagick identify is not installed' }, () => {
  for (const id of MOVE_IDS) {
    const file = path.join(root, 'resources', 'moves', `${id}.gif`);
    assert.ok(fs.existsSync(file), `${id}.gif exists`);
    const out = execFileSync(identify, ['-format', '%m %w %h\n', file], { encoding: 'utf8' }).trim().split('\n');
    assert.ok(out.length > 1, `${id}.gif has more than one frame`);
    const [format, w, h] = out[0].split(' ');
    assert.equal(format, 'GIF');
    assert.ok(Math.abs(Number(w) - 216) <= 24 && Math.abs(Number(h) - 144) <= 24, `${id}.gif is ${w}x${h}`);
  }
});
