import { test } from 'node:test';
import assert from 'node:assert/strict';
import { load } from './helpers.mjs';

const { PixelBuffer, rgb, mix, dithered } = await load('pixels.js');
const { drawText, textWidth, hasGlyph } = await load('font.js');
const { spriteFromRows } = await load('sprites.js');

const RED = rgb('#ff0000');
const count = (b, c) => b.px.reduce((n, v) => n + (v === c ? 1 : 0), 0);

test('colours pack into the byte order of an RGBA buffer', () => {
  const b = new PixelBuffer(1, 1);
  b.set(0, 0, rgb('#102030'));
  assert.deepEqual([...b.data], [0x10, 0x20, 0x30, 255]);
  assert.equal(mix(rgb('#000000'), rgb('#ffffff'), 0.5), rgb('#808080'));
});

test('drawing outside the buffer is clipped, never wrapped', () => {
  const b = new PixelBuffer(8, 4);
  b.fill(-5, -5, 100, 2, RED);
  assert.equal(count(b, 0), 32, 'a rectangle wholly above the buffer draws nothing');
  b.fill(6, 1, 10, 10, RED);
  assert.equal(count(b, RED), 2 * 3, 'only the part inside: columns 6-7, rows 1-3');
  b.clear();
  b.line(-10, 2, 20, 2, RED);
  assert.equal(count(b, RED), 8);
  b.clear();
  b.set(8, 0, RED);
  b.set(-1, 1, RED);
  assert.equal(count(b, RED), 0, 'x = width does not land on the next row');
});

test('ordered dither: level 0 draws nothing, 16 everything, 8 half, evenly spread', () => {
  let n0 = 0, n8 = 0, n16 = 0;
  for (let y = 0; y < 4; y++) for (let x = 0; x < 4; x++) {
    n0 += dithered(x, y, 0); n8 += dithered(x, y, 8); n16 += dithered(x, y, 16);
  }
  assert.deepEqual([n0, n8, n16], [0, 8, 16]);
  const b = new PixelBuffer(8, 8);
  b.fill(0, 0, 8, 8, RED, 4);
  assert.equal(count(b, RED), 16);
  for (let y = 0; y < 8; y += 4) assert.ok(b.px.slice(y * 8, y * 8 + 32).some((c) => c === RED), 'every band of rows gets some');
});

test('sprites: transparent pixels keep the background, flip mirrors, tint keeps the outline', () => {
  const s = spriteFromRows(['a.'], { a: RED }, 2, 1); // 4x3 with the outline
  const b = new PixelBuffer(4, 3);
  b.clear(rgb('#0000ff'));
  b.sprite(s, 0, 0);
  assert.equal(b.get(1, 1), RED);
  assert.equal(b.get(3, 0), rgb('#0000ff'), 'clear corners show the background');
  b.clear();
  b.sprite(s, 0, 0, true);
  assert.equal(b.get(2, 1), RED, 'mirrored');
  b.clear();
  b.sprite(s, 0, 0, false, rgb('#ffffff'));
  assert.equal(b.get(1, 1), rgb('#ffffff'));
  assert.equal(b.get(0, 1), s.px[4], 'the outline stays dark when the sprite flashes white');
});

test('the pixel font: widths, capitals for small letters, "?" for the unknown', () => {
  assert.equal(textWidth('WOOF!'), 29);
  assert.equal(textWidth(''), 0);
  for (const ch of 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!') assert.ok(hasGlyph(ch), ch);
  const text = (t) => { const b = new PixelBuffer(12, 7); drawText(b, t, 0, 0, RED); return b; };
  assert.deepEqual(text('za').px, text('ZA').px);
  assert.deepEqual(text('é').px, text('?').px);
  assert.ok(count(text('ZA'), RED) > 10);
});
