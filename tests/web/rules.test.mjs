import { test } from 'node:test';
import assert from 'node:assert/strict';
import { load } from './helpers.mjs';

const R = await load('rules.js');

test('malformed configurations are refused with a reason', async (t) => {
  const rows = [
    [null, /expects an object/],
    [{ W: '640' }, /W must be/],
    [{ H: 480.5 }, /H must be/],
    [{ layout: 'left' }, /layout/],
    [{ intensity: 3 }, /intensity/],
    [{ warriorCount: 9 }, /warriorCount/],
    [{ scene: 'beach' }, /scene/],
    [{ scale: 0 }, /scale/],
  ];
  for (const [arg, re] of rows) await t.test(JSON.stringify(arg), () => assert.throws(() => R.parseConfig(arg), re));
});

test('ticks: silent, full, and malformed', async (t) => {
  assert.deepEqual(R.parseTick({ silent: true }), { silent: true });
  const full = R.parseTick(new Function("return ({lv:[0.42,0.10,0.00,0.63],bpm:121.9,conf:0.37,en:0.58,ev:'kh'})")());
  assert.deepEqual(full, { silent: false, lv: [0.42, 0.1, 0, 0.63], bpm: 121.9, conf: 0.37, en: 0.58, ev: 'kh' });
  const odd = R.parseTick({ lv: [1.5, -1, 0, 0], ev: 'kxd!', bpm: 0 });
  assert.deepEqual(odd.lv, [1, 0, 0, 0], 'levels are clamped to 0..1');
  assert.equal(odd.ev, 'kd', 'only the known letters stay');
  const bad = [
    ['text', 'kshd', /expects an object/],
    ['no levels', { ev: 'k' }, /lv must be/],
    ['NaN level', { lv: [0, NaN, 0, 0] }, /lv must be/],
    ['events not text', { lv: [0, 0, 0, 0], ev: ['k'] }, /ev must be text/],
    ['silent not boolean', { silent: 'yes' }, /silent/],
  ];
  for (const [name, arg, re] of bad) await t.test(name, () => assert.throws(() => R.parseTick(arg), re));
});

test('warrior counts per panel size', () => {
  const rows = [
    // [config changes, canvas w, canvas h, expected]
    [{}, 180, 135, 2], [{}, 240, 180, 3], [{}, 320, 240, 4], [{}, 400, 300, 5],
    [{ layout: 'strip' }, 400, 80, 3], [{ layout: 'strip' }, 1280, 120, 8],
    [{ warriorCount: 7 }, 180, 135, 7], [{ warriorCount: 0 }, 400, 300, 0], [{ warriors: false, warriorCount: 5 }, 400, 300, 0],
  ];
  for (const [change, w, h, want] of rows)
    assert.equal(R.warriorCount(Object.assign({}, R.DEFAULT_CONFIG, change), w, h), want, JSON.stringify([change, w, h]));
});

test('more and tougher monsters with energy and intensity, none when switched off', () => {
  const calm = R.monsterPlan(0.1, 1, true), wild = R.monsterPlan(0.9, 2, true);
  assert.ok(wild.max > calm.max && wild.rate > calm.rate && wild.bossChance > 0 && calm.bossChance === 0);
  assert.deepEqual(R.monsterPlan(0.9, 2, false), { max: 0, rate: 0, bossChance: 0 });
});

const party = (kinds, fams = 2, opts = {}) => Object.assign({
  warriors: kinds.map((kind) => ({ kind, busy: false })),
  familiars: Array.from({ length: fams }, () => ({ busy: false, readyAt: 0 })),
  intensity: 1, pulse: true, now: 10, rnd: () => 0,
}, opts);

test('event to action', () => {
  // A drop: a flash, every familiar at its strongest, every warrior strikes.
  const drop = R.planActions('d', party(['knight', 'archer'], 3));
  assert.equal(drop[0].type, 'flash');
  assert.deepEqual(drop.filter((x) => x.type === 'move').map((x) => [x.familiar, x.strongest]), [[0, true], [1, true], [2, true]]);
  assert.equal(drop.filter((x) => x.type === 'heavy').length, 2);
  const busy = party(['knight', 'barbarian'], 1); // busy warriors and resting familiars are left alone
  busy.warriors[0].busy = true;
  busy.familiars[0].readyAt = 11;
  const rows = [
    // A kick: a bounce with the pulse on, a heavy blow by a fighter; a snare: the mage
    // casts, otherwise someone swings; a hat: the archer shoots, otherwise sparks fly.
    ['k', party(['archer', 'barbarian']), [{ type: 'bounce' }, { type: 'heavy', actor: 1 }, { type: 'move', familiar: 0, strongest: false }]],
    ['k', party(['knight'], 0, { pulse: false }), [{ type: 'heavy', actor: 0 }]],
    ['k', busy, [{ type: 'bounce' }, { type: 'heavy', actor: 1 }]],
    ['s', party(['knight', 'mage']), [{ type: 'spell', actor: 1 }]],
    ['s', party(['knight']), [{ type: 'swing', actor: 0 }]],
    ['h', party(['knight', 'archer']), [{ type: 'arrow', actor: 1 }]],
    ['h', party(['knight']), [{ type: 'sparks' }]],
    ['', party(['knight']), []],
  ];
  for (const [ev, ctx, want] of rows) assert.deepEqual(R.planActions(ev, ctx), want, `${ev} for ${ctx.warriors.map((w) => w.kind)}`);
  const four = ['knight', 'archer', 'mage', 'barbarian'];
  const n0 = R.planActions('kshkshksh', party(four, 3, { intensity: 0 })).length;
  const n2 = R.planActions('kshkshksh', party(four, 3, { intensity: 2 })).length;
  assert.ok(n0 < n2, `low intensity answers fewer letters at once: ${n0} < ${n2}`);
});

test('sleep: asleep until sound, on silence, after ticks stop; slow after a few seconds', () => {
  const s = new R.SleepClock(0);
  assert.ok(s.asleep(0), 'the page starts asleep');
  s.onTick({ silent: false }, 1);
  assert.ok(!s.asleep(1));
  s.onTick({ silent: false }, 1.2);
  assert.ok(!s.asleep(1.2 + R.STALE_TICKS_S - 0.1), 'quiet levels-only gaps do not put the party to sleep');
  s.onTick({ silent: true }, 5);
  assert.ok(s.asleep(5));
  assert.ok(!s.slow(5 + R.SLOW_AFTER_S - 0.1));
  assert.ok(s.slow(5 + R.SLOW_AFTER_S));
  s.onTick({ silent: true }, 20);
  assert.equal(s.asleepFor(20), 15, 'a second silent tick does not restart the sleep');
  s.onTick({ silent: false }, 30);
  assert.ok(!s.asleep(30) && !s.slow(30), 'sound wakes everyone at once');
  assert.ok(s.asleep(30 + R.STALE_TICKS_S + 0.1), 'ticks that stop coming count as silence');
});

test('the beat follows the tempo only when it is trusted', () => {
  assert.equal(R.beatBpm(128, 0.8), 128);
  assert.equal(R.beatBpm(128, 0.1), R.STEADY_BPM);
  assert.equal(R.beatBpm(0, 0.9), R.STEADY_BPM);
  assert.ok(R.walkSpeed(140, 0.8, 0) > R.walkSpeed(100, 0.8, 0));
  assert.ok(R.walkSpeed(0, 0, 1) > R.walkSpeed(0, 0, 0), 'without a tempo the energy sets the pace');
});
