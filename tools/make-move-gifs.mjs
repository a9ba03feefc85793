#!/usr/bin/env node
// Draws one looping animated picture per move into resources/moves/<id>.gif,
// using the renderer page's own effect code: the built-in creature performs
// the move on a monster, frame by frame, on a small night backdrop. The output
// depends on nothing but the code, so running it again gives the same files.
//
//   node tools/make-move-gifs.mjs [output folder]
//
// Needs ImageMagick's `convert` to put the frames together.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const web = path.join(root, 'resources', 'web');
const load = (p) => import(pathToFileURL(path.join(web, 'js', p)).href);
const { PixelBuffer, OUTLINE, dithered, hash } = await load('pixels.js');
const { C } = await load('palette.js');
const { decodeCreature, monsterDef } = await load('sprites.js');
const { MOVES, drawMove } = await load('effects.js');

const W = 72, H = 48, SCALE = 3, GY = 40, STEP_MS = 40, REST_MS = 360;
const outDir = path.resolve(process.argv[2] || path.join(root, 'resources', 'moves'));
const creature = decodeCreature(JSON.parse(fs.readFileSync(path.join(web, 'creatures', 'tobble.json'), 'utf8')));

function backdrop() {
  const b = new PixelBuffer(W, H);
  const bands = [C.night0, C.night1, C.night2, C.night3, C.dusk];
  for (let y = 0; y < GY; y++) {
    const f = (y / GY) * (bands.length - 1), i = Math.floor(f);
    for (let x = 0; x < W; x++) b.px[y * W + x] = i + 1 < bands.length && dithered(x, y, Math.round((f - i) * 16)) ? bands[i + 1] : bands[i];
  }
  for (let i = 0; i < 24; i++) b.set(Math.floor(hash(i, 1) * W), Math.floor(hash(i, 2) * (GY - 14)), hash(i, 3) < 0.3 ? C.star : C.starDim);
  for (let x = 0; x < W; x++) {
    const hh = Math.round(7 + 3 * Math.sin(x * 0.09) + 2 * Math.sin(x * 0.23 + 1));
    for (let y = GY - hh; y < GY; y++) b.px[y * W + x] = C.hillFar;
    b.px[(GY - hh) * W + x] = C.night3;
  }
  for (let y = GY; y < H; y++)
    for (let x = 0; x < W; x++) b.px[y * W + x] = y === GY ? C.grass1 : dithered(x, y, Math.max(0, 5 - (y - GY))) ? C.grass1 : C.grass0;
  return b;
}

function render(move) {
  const base = backdrop();
  const frames = [];
  const total = move.dur + REST_MS;
  const caster = { x: 15 };
  const foes = [{ def: monsterDef('slime'), x: 56, y: GY }];
  if (move.id === 'chainlightning') foes.push({ def: monsterDef('bat'), x: 64, y: GY - 20 }, { def: monsterDef('bat'), x: 44, y: GY - 26 });
  const target = foes[0];
  const th = target.def.frames[0];
  const fh = creature.frames.idle.bottom - creature.frames.idle.top + 1;
  const fx = {
    t: 0, x: caster.x + Math.floor(creature.w / 2) - 3, y: GY - Math.round(fh * 0.6), tx: target.x,
    ty: target.y - Math.round(th.h / 2) + 2, gy: GY, dir: 1, seed: 1234, w: W, h: H,
    targets: foes.slice(1).map((f) => ({ x: f.x, y: f.y - Math.round(f.def.frames[0].h / 2) + 2 })),
  };
  for (let t = 0; t < total; t += STEP_MS) {
    const b = new PixelBuffer(W, H);
    b.copyFrom(base);
    const p = t / move.dur;
    const hit = p >= move.hit && p < move.hit + 0.2;
    let shake = 0;
    if (move.shake && p >= move.hit && p < move.hit + 0.3) shake = (Math.floor(t / STEP_MS) % 2 ? 1 : -1);
    b.ox = shake;
    for (const f of foes) {
      const s = f.def.frames[Math.floor(t / 200) % 2];
      const knock = p >= move.hit && p < 1 ? 3 : 0;
      b.sprite(s, f.x - Math.floor(s.w / 2) + (f === target ? knock : 0), f.y - s.bottom, false, hit ? C.white : 0);
    }
    const pose = p < 1 ? move.pose(p, fx) : { frame: Math.floor(t / 250) % 2 ? 'idle2' : 'idle', dx: 0, dy: 0 };
    const s = creature.frames[pose.frame] || creature.frames.idle;
    const sy = GY - (pose.frame === 'leap' ? creature.frames.idle.bottom : s.bottom) + Math.round(pose.dy || 0);
    b.sprite(s, caster.x - Math.floor(s.w / 2) + Math.round(pose.dx || 0), sy, Boolean(pose.flip));
    fx.t = t;
    drawMove(b, move, fx);
    if (move.flash && p >= move.hit && p < move.hit + 0.08) b.fill(0, 0, W, H, C.paleYellow, 2);
    b.ox = 0;
    // A dark rim around the picture.
    for (let x = 0; x < W; x++) { b.px[x] = OUTLINE; b.px[(H - 1) * W + x] = OUTLINE; }
    for (let y = 0; y < H; y++) { b.px[y * W] = OUTLINE; b.px[y * W + W - 1] = OUTLINE; }
    frames.push(b);
  }
  return frames;
}

fs.mkdirSync(outDir, { recursive: true });
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'bopling-moves-'));
try {
  for (const move of MOVES) {
    const frames = render(move);
    const files = frames.map((b, i) => {
      const f = path.join(tmp, `${move.id}-${String(i).padStart(3, '0')}.rgba`);
      fs.writeFileSync(f, Buffer.from(b.data.buffer));
      return f;
    });
    const args = ['-size', `${W}x${H}`, '-depth', '8', '-delay', String(STEP_MS / 10), '-loop', '0'];
    for (const f of files) args.push(`rgba:${f}`);
    args.push('-scale', `${SCALE * 100}%`, '-alpha', 'off', '+dither', '-layers', 'Optimize', path.join(outDir, `${move.id}.gif`));
    execFileSync('convert', args);
    process.stdout.write(`${move.id}.gif: ${frames.length} frames\n`);
  }
} finally {
  fs.rmSync(tmp, { recursive: true, force: true });
}
