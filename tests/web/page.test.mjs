// The page's calls as the host makes them, on a scene drawn in memory.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { load, tobble, creature, evaluate } from './helpers.mjs';

const { Scene } = await load('scene.js');
const { createQx, FrameTimer, FramePacer } = await load('api.js');
const { PixelBuffer } = await load('pixels.js');

const CONFIG = "qx.config({W:640,H:480,layout:'corner',intensity:1,tobble:true,warriors:true,warriorCount:-1,pulse:true,monsters:true,scale:2,scene:'campfire',size:1})";

function page() {
  let now = 0;
  const posted = [];
  const scene = new Scene(0, 5);
  const timer = new FrameTimer();
  let wakes = 0;
  const { qx } = createQx(scene, (b) => posted.push(b), () => now, { wake: () => wakes++, report: () => timer.report(now * 1000) });
  const run = (seconds, ticks = null) => {
    const end = now + seconds;
    while (now < end) {
      now = Math.round((now + 1 / 60) * 1e6) / 1e6;
      if (ticks) { const t = ticks(now); if (t) qx.tick(t); }
      scene.update(now);
      scene.draw();
    }
  };
  return { qx, scene, posted, run, at: () => now, wakes: () => wakes };
}

const loud = (ev) => ({ lv: [0.7, 0.5, 0.4, 0.8], bpm: 120, conf: 0.8, en: 0.8, ev });
const picture = (scene) => Buffer.from(scene.buf.data).toString('base64');

test('malformed calls post an error, never throw, and keep the scene drawing', async (t) => {
  const p = page();
  evaluate(p.qx, CONFIG);
  p.qx.setFamiliars([tobble()]);
  p.run(1, (now) => (Math.abs(now - 0.5) < 1e-6 ? loud('k') : null));
  const b = p.qx.stats();
  const rows = [
    ['config of text', 'qx.config("big")', /qx.config/],
    ['config with a bad field', "qx.config({W:640,H:480,layout:'diagonal'})", /layout/],
    ['tick of a number', 'qx.tick(4)', /qx.tick/],
    ['tick with short levels', "qx.tick({lv:[1],ev:'k'})", /lv/],
    ['familiars not a list', 'qx.setFamiliars({name:"Rex"})', /setFamiliars/],
  ];
  for (const [name, text, re] of rows) {
    await t.test(name, () => {
      const n = p.posted.length;
      assert.doesNotThrow(() => evaluate(p.qx, text));
      assert.equal(p.posted.length, n + 1);
      assert.match(p.posted[n].error, re);
    });
  }
  const after = p.qx.stats();
  assert.equal(after.errors, b.errors + rows.length, 'every error is counted');
  assert.deepEqual([after.scene, after.layout, after.warriors, after.familiars], [b.scene, b.layout, b.warriors, b.familiars]);
  assert.equal(p.scene.cfg.layout, 'corner');
  const pic = picture(p.scene);
  p.run(0.5, () => loud('k'));
  assert.notEqual(picture(p.scene), pic, 'the scene still draws and moves');
});

test('one broken familiar does not keep the others away', () => {
  const p = page();
  p.qx.setFamiliars([tobble(), { name: 'Ghost' }, creature(['aaaa', 'bbbb'], { name: 'Blob' }), tobble()]);
  assert.deepEqual(p.qx.stats().familiars, ['Tobble', 'Blob']);
  assert.equal(p.posted.length, 2, 'one error for the broken creature, one for the fourth');
  assert.match(p.posted[0].error, /Ghost/);
  p.qx.setFamiliars([]);
  assert.deepEqual(p.qx.stats().familiars, []);
});

test('configuration changes the cast and the canvas', () => {
  const p = page();
  evaluate(p.qx, CONFIG);
  p.run(0.1);
  const { px, w, h } = p.scene.buf;
  assert.deepEqual([px[0], px[w * h - 1], px[(h >> 1) * w + (w >> 1)]].map((c) => c >>> 24), [0, 0, 255], 'the card has see-through corners');
  p.qx.config({ layout: 'strip', W: 1510, H: 240, size: 0, scene: 'walk' });
  const s = p.qx.stats();
  assert.deepEqual([s.canvas, s.scene, s.warriors], [{ w: 755, h: 120 }, 'walk', 6]);
  p.qx.config({ warriorCount: 0 });
  assert.deepEqual([p.qx.stats().warriors, p.qx.stats().scene], [0, 'walk'], 'fields left out keep their values');
  p.qx.config({ W: 641, H: 481 });
  assert.deepEqual(p.qx.stats().canvas, { w: 320, h: 240 }, 'odd sizes round down to whole logical pixels');
  p.qx.config({ W: 16384, H: 16384, scale: 1 });
  const big = p.qx.stats().canvas;
  assert.ok(big.w <= 4096 && big.h <= 2048, `a huge panel gets a bounded canvas (${big.w}x${big.h})`);
  assert.deepEqual(p.posted, []);
});

test('15 frames a second while the scene moves, a beat at once, and only the changed part of a picture is handed over', () => {
  {
    // Timers that fire up to 3 ms late keep the cadence.
    const pacer = new FramePacer();
    let drawn = 0;
    for (let at = 0, i = 0; at < 2000; at += pacer.wait(at) + (i++ % 4)) if (pacer.due(at)) drawn++;
    assert.ok(drawn >= 29 && drawn <= 31, `${drawn} frames in 2 s`);
    const last = pacer.next - 1000 / 15;
    assert.equal(pacer.due(last + 20, true), false, 'a beat within 1/30 s of the last frame waits');
    assert.equal(pacer.due(last + 34, true), true, 'a later beat is drawn at once');
    assert.equal(pacer.due(last + 34 + 40), false, 'and the cadence starts again from it');
    assert.equal(pacer.due(last + 34 + 1000 / 15), true);
  }
  const p = page();
  evaluate(p.qx, CONFIG);
  p.run(0.5, () => loud('k'));
  const pacer = new FramePacer();
  const { px, w, h } = p.scene.buf;
  assert.deepEqual(pacer.changed(px, w), { x: 0, y: 0, w, h });
  assert.equal(pacer.changed(px, w), null, 'an unchanged picture is not handed over again');
  px[w * 10 + 20] ^= 1;
  px[w * 12 + 7] ^= 1;
  assert.deepEqual(pacer.changed(px, w), { x: 7, y: 10, w: 14, h: 3 });
  assert.equal(pacer.changed(px, w), null);
});

test('asleep and slowed down, each repaint covers every pixel that changed', () => {
  for (const familiar of [tobble(), creature(Array(30).fill('a'.repeat(12)), { name: 'Tall' })]) {
    const p = page();
    evaluate(p.qx, CONFIG);
    p.qx.setFamiliars([familiar, tobble()]);
    p.qx.tick({ silent: true });
    p.run(5);
    assert.ok(p.scene.slow());
    assert.ok(p.scene.familiarFrame(p.scene.familiars[0], p.at(), true).frame.startsWith('sleep'), 'familiars sleep too');
    // Follow the page: after a repaint of a rectangle, only that rectangle of
    // the screen is replaced; the screen must always equal a full drawing.
    const screen = new Uint32Array(p.scene.buf.px);
    for (let i = 0; i < 40; i++) {
      p.scene.update(p.scene.nextVisualChange() + 0.001);
      const r = p.scene.draw();
      const px = p.scene.buf.px, w = p.scene.buf.w;
      if (!r) screen.set(px);
      else for (let y = r.y; y < r.y + r.h; y++) screen.set(px.subarray(y * w + r.x, y * w + r.x + r.w), y * w + r.x);
      const full = new PixelBuffer(p.scene.buf.w, p.scene.buf.h);
      p.scene.drawnFull = false;
      p.scene.draw(full);
      assert.deepEqual(screen, full.px, `step ${i} of ${familiar.name}`);
    }
  }
});

test('any mix of sizes, layouts and music keeps drawing without a fault', () => {
  let seed = 12345;
  const rnd = () => ((seed = (seed * 1103515245 + 12345) & 0x7fffffff) / 0x7fffffff);
  const pick = (xs) => xs[Math.floor(rnd() * xs.length)];
  for (let round = 0; round < 12; round++) {
    const p = page();
    const cfg = {
      W: pick([40, 360, 641, 800, 1510, 3840]), H: pick([32, 160, 240, 270, 481, 600]),
      layout: pick(['corner', 'strip']), scene: pick(['campfire', 'walk']), intensity: pick([0, 1, 2]),
      warriorCount: pick([-1, 0, 1, 8]), monsters: pick([true, false]), pulse: pick([true, false]),
    };
    p.qx.config(cfg);
    p.qx.setFamiliars([tobble(), creature(['a'.repeat(40)].concat(Array(31).fill('b'.repeat(40))), { name: 'Big' }), creature(['ab'])].slice(0, round % 4));
    p.run(6, () => (rnd() < 0.3 ? (rnd() < 0.05 ? { silent: true } : loud(pick(['', 'k', 's', 'h', 'kshd', 'd', 'kkk']))) : null));
    assert.deepEqual(p.posted, [], JSON.stringify(cfg));
    const s = p.qx.stats();
    assert.equal(s.layout, cfg.layout);
    assert.ok(p.scene.buf.px.some((c) => c !== 0), 'something is drawn');
  }
});

test('a drop sends every familiar into its strongest move, landing beyond the party when there is nothing to fight', async (t) => {
  const fam = (name, attacks) => Object.assign(tobble(), { name, attacks });
  for (const [scene, layout] of [['campfire', 'corner'], ['walk', 'corner'], ['campfire', 'strip']]) {
    await t.test(`${scene} ${layout}`, () => {
      const p = page();
      p.qx.config({ W: layout === 'strip' ? 1600 : 640, H: layout === 'strip' ? 240 : 480, scene, layout, monsters: false });
      p.qx.setFamiliars([fam('A', ['pounce', 'holypillar']), fam('B', ['zap', 'quake', 'fire']), fam('C', ['blast'])]);
      p.qx.tick(loud(''));
      p.run(0.2);
      p.qx.tick(loud('d'));
      assert.deepEqual(p.scene.familiars.map((f) => f.action && f.action.move.id), ['holypillar', 'quake', 'blast']);
      assert.equal(p.scene.bubbles.length, 3, 'every familiar shouts its battle cry');
      assert.equal(p.qx.stats().events.d, 1);
      const xs = p.scene.chars.map((c) => c.x);
      const lo = Math.min(...xs) - 8, hi = Math.max(...xs) + 8;
      assert.equal(p.scene.effects.length, 3);
      for (const e of p.scene.effects) {
        assert.ok(e.fx.tx < lo || e.fx.tx > hi, `target ${e.fx.tx} lies outside ${lo}..${hi}`);
        assert.ok(e.fx.tx >= 0 && e.fx.tx < p.scene.w, 'and inside the picture');
        assert.equal(Math.sign(e.fx.tx - e.owner.x), e.fx.dir, 'the move goes the way the familiar faces');
      }
    });
  }
});

test('the pictures the host is given add up to the scene, also across a change of size, and a kick shows at once', async () => {
  const { startPage } = await load('page.js');
  let now = 0;
  const timers = new Map();
  let id = 0;
  let shown = null; // the host's copy, as the light host and the canvas keep it
  const { qx, scene } = startPage({
    now: () => now,
    setTimeout: (fn, ms) => { timers.set(++id, { at: now + ms, fn }); return id; },
    clearTimeout: (t) => timers.delete(t),
    present: (buf, r) => {
      if (!shown || shown.w !== buf.w || shown.h !== buf.h) shown = { w: buf.w, h: buf.h, px: new Uint32Array(buf.px.length) };
      for (let y = r.y; y < r.y + r.h; y++) shown.px.set(buf.px.subarray(y * buf.w + r.x, y * buf.w + r.x + r.w), y * buf.w + r.x);
    },
    post: () => {},
    size: () => ({ W: 640, H: 480 }),
  });
  const advance = (ms) => {
    for (const end = now + ms; now < end; now += 5) {
      for (const [t, { at, fn }] of [...timers]) if (at <= now) { timers.delete(t); fn(); }
    }
  };
  const same = () => shown && shown.w === scene.buf.w && shown.px.every((v, i) => v === scene.buf.px[i]);
  evaluate(qx, CONFIG);
  for (let i = 0; i < 20; i++) { qx.tick(loud(i % 3 ? '' : 'k')); advance(33); }
  advance(200);
  assert.ok(same(), 'corner');
  // As many pixels as before, in rows of another width.
  evaluate(qx, CONFIG.replace('W:640,H:480', 'W:1280,H:240').replace("'corner'", "'strip'"));
  for (let i = 0; i < 20; i++) { qx.tick(loud(i % 3 ? '' : 'k')); advance(33); }
  advance(200);
  assert.equal(shown.w, 640);
  assert.ok(same(), 'strip');

  // A kick is shown within the call that brings it, not at the next frame.
  let atOnce = 0;
  for (let i = 0; i < 10; i++) {
    advance(40);
    const old = shown.px.slice();
    qx.tick(loud('k'));
    if (shown.px.some((v, j) => v !== old[j])) atOnce++;
  }
  assert.ok(atOnce >= 8, `${atOnce} of 10 kicks drawn at once`);

  // So is a new configuration, however soon after the last frame.
  advance(5);
  const before = shown.px.slice();
  evaluate(qx, CONFIG.replace('W:640,H:480', 'W:1280,H:240').replace("'corner'", "'strip'").replace("'campfire'", "'walk'"));
  assert.ok(shown.px.some((v, j) => v !== before[j]), 'the walk drawn at once');
});

test('a song banner shows for a few seconds, over a sleeping party too, and goes with null', () => {
  const p = page();
  evaluate(p.qx, CONFIG);
  p.run(20); // asleep and slowed down
  const asleep = picture(p.scene);
  evaluate(p.qx, 'qx.nowPlaying({title:"Song \\"2\\"\\u2028",artist:"Blur"})');
  assert.equal(p.qx.stats().nowPlaying, 'Song "2"\u2028');
  assert.equal(p.scene.slow(), false, 'the banner moves, so frames keep coming');
  p.run(1);
  assert.notEqual(picture(p.scene), asleep);
  p.run(6);
  assert.equal(p.qx.stats().nowPlaying, null);
  evaluate(p.qx, 'qx.nowPlaying({title:"Next",artist:""})');
  p.run(0.5);
  evaluate(p.qx, 'qx.nowPlaying(null)');
  assert.equal(p.qx.stats().nowPlaying, null);
  const n = p.posted.length;
  evaluate(p.qx, 'qx.nowPlaying("title")');
  assert.match(p.posted[n].error, /nowPlaying/);
});
