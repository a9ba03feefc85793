import { test } from 'node:test';
import assert from 'node:assert/strict';
import { load, tobble, creature } from './helpers.mjs';

const { decodeCreature, spriteFromRows, REQUIRED_FRAMES, OPTIONAL_FRAMES } = await load('sprites.js');
const { rgb, OUTLINE } = await load('pixels.js');

const at = (s, x, y) => s.px[y * s.w + x];

test('the built-in creature decodes into twelve distinct, equally sized frames', () => {
  const c = decodeCreature(tobble());
  const names = REQUIRED_FRAMES.concat(OPTIONAL_FRAMES);
  for (const f of names) {
    assert.ok(c.has[f], `Tobble draws "${f}" itself`);
    assert.equal(c.frames[f].w, c.w);
    assert.equal(c.frames[f].h, c.h);
  }
  const pictures = new Set(names.map((f) => Buffer.from(c.frames[f].px.buffer).toString('base64')));
  assert.equal(pictures.size, names.length, 'no two poses are the same picture');
  assert.equal(c.name, 'Tobble');
  assert.ok(c.attacks.length >= 1 && c.attacks.length <= 4);
});

test('a lone pixel gets an outline in a plus shape, corners stay clear', () => {
  const s = spriteFromRows(['...', '.a.', '...'], { a: rgb('#ff0000') }, 3, 3);
  assert.equal(s.w, 5);
  assert.equal(at(s, 2, 2), rgb('#ff0000'));
  for (const [x, y] of [[1, 2], [3, 2], [2, 1], [2, 3]]) assert.equal(at(s, x, y), OUTLINE);
  for (const [x, y] of [[1, 1], [3, 3], [1, 3], [3, 1]]) assert.equal(at(s, x, y), 0);
});

test('frames are padded to one size and stand on their lowest row, except the leap', () => {
  const high = ['aaaa', 'aaaa', 'aaaa', 'aaaa', '....', '....'];
  const c = decodeCreature(creature(high, { frames: Object.assign(creature(high).frames, { leap: high, crouch: ['bb'] }) }));
  // Rows grow by the outline: drawn rows 0-3 of idle move to 2-5, then +1.
  const idle = c.frames.idle;
  assert.equal(at(idle, 1, 1), 0, 'idle: the top is now empty');
  assert.equal(at(idle, 1, 6), rgb('#ff0000'), 'idle: the drawing sits on the bottom row');
  const leap = c.frames.leap;
  assert.equal(at(leap, 1, 1), rgb('#ff0000'), 'leap keeps its height');
  assert.equal(at(leap, 1, 6), 0);
  const crouch = c.frames.crouch;
  assert.equal(crouch.w, idle.w);
  assert.equal(at(crouch, 1, 6), rgb('#00ff00'), 'a short frame is padded above and stands on the ground');
});

test('missing optional poses fall back to required ones; missing idle is refused', () => {
  const c = decodeCreature(creature(['aaaa', 'aaaa']));
  assert.equal(c.has.walk1, false);
  assert.equal(c.frames.walk1, c.frames.run1);
  assert.equal(c.frames.sleep2, c.frames.sleep);
  assert.equal(c.frames.leap, c.frames.run1);
  const noIdle = creature(['aa']);
  delete noIdle.frames.idle;
  assert.throws(() => decodeCreature(noIdle), /idle/);
});

test('unknown letters and bad colours draw as transparent; the sound is cleaned', () => {
  const c = decodeCreature(creature(['axz'], { palette: { a: '#f00', x: 'red' }, sound: 'grr grr!', attacks: ['ZAP', 7] }));
  const idle = c.frames.idle;
  assert.equal(at(idle, 1, 1), rgb('#ff0000'), 'a three-digit colour is widened');
  assert.equal(at(idle, 3, 1), 0, 'a letter without a colour stays clear');
  assert.equal(c.sound, 'GRRGRR!');
  assert.deepEqual(c.attacks, ['zap']);
  assert.equal(decodeCreature(creature(['aa'], { sound: '123' })).sound, 'ROAR!');
});
