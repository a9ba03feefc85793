import { test } from 'node:test';
import assert from 'node:assert/strict';
import { load } from './helpers.mjs';

const { MOVES, moveById, strongestMove, drawMove } = await load('effects.js');
const { PixelBuffer } = await load('pixels.js');

const fx = (t) => ({ t, x: 30, y: 50, tx: 90, ty: 52, gy: 60, dir: 1, seed: 99, w: 120, h: 80, targets: [{ x: 100, y: 30 }] });

function film(m) {
  // Three moments of the move, drawn on an empty buffer.
  return [0.3, 0.5, 0.7].map((p) => {
    const b = new PixelBuffer(120, 80);
    drawMove(b, m, fx(p * m.dur));
    return b;
  });
}

const pictures = (frames) => frames.map((b) => Buffer.from(b.data).toString('base64')).join('|');

test('every move of the catalog has an effect of its own, drawn the same each time', () => {
  const seen = new Map();
  for (const m of MOVES) {
    const frames = film(m);
    for (const b of frames) assert.ok(b.px.some((c) => c !== 0), `${m.id} draws something`);
    const key = pictures(frames);
    assert.ok(!seen.has(key), `${m.id} looks different from ${seen.get(key)}`);
    assert.equal(pictures(film(m)), key, `${m.id} is drawn from the time alone: the same moment, the same pixels`);
    seen.set(key, m.id);
    assert.ok(m.hit > 0 && m.hit < 1, `${m.id} lands its hit while it plays`);
  }
});

test('effects stay inside the buffer and end on time', () => {
  for (const m of MOVES) {
    const b = new PixelBuffer(40, 30);
    const far = Object.assign(fx(m.dur / 2), { x: -50, tx: 500, ty: -40, gy: 90 });
    assert.doesNotThrow(() => drawMove(b, m, far), m.id);
    assert.equal(drawMove(b, m, fx(m.dur)), false, `${m.id} is over after its duration`);
  }
});

test('the strongest move of a list', () => {
  assert.equal(strongestMove(['pounce', 'thunderclap', 'zap']).id, 'thunderclap');
  assert.equal(strongestMove(['zap', 'pounce']).id, 'pounce');
  assert.equal(strongestMove(['bark']).id, 'blast', 'unknown ids fall back to the big sound');
  assert.equal(moveById('Fire'), null);
});
