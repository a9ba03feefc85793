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

test('a panel size out of range is clamped and the rest applied', () => {
  const cfg = R.parseConfig({ W: 0, H: 99999, layout: 'strip' });
  assert.deepEqual([cfg.W, cfg.H, cfg.layout], [1, 16384, 'strip']);
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

test('warrior counts per panel size', async (t) => {
  const base = Object.assign({}, R.DEFAULT_CONFIG);
  const rows = [
    // [label, config changes, canvas w, canvas h, expected]
    ['tiny corner', {}, 180, 135, 2],
    ['small corner', {}, 240, 180, 3],
    ['medium corner', {}, 320, 240, 4],
    ['large corner', {}, 400, 300, 5],
    ['narrow strip', { layout: 'strip' }, 400, 80, 3],
    ['wide strip', { layout: 'strip' }, 1280, 120, 8],
    ['exact count wins', { warriorCount: 7 }, 180, 135, 7],
    ['count 0 means none', { warriorCount: 0 }, 400, 300, 0],
    ['warriors off', { warriors: false, warriorCount: 5 }, 400, 300, 0],
  ];
  for (const [label, change, w, h, want] of rows)
    await t.test(label, () => assert.equal(R.warriorCount(Object.assign({}, base, change), w, h), want));
});

test('more and tougher monsters with energy and intensity, none when switched off', () => {
  const calm = R.monsterPlan(0.1, 1, true), wild = R.monsterPlan(0.9, 2, true);
  assert.ok(wild.max > calm.max);
  assert.ok(wild.rate > calm.rate);
  assert.ok(wild.bossChance > 0 && calm.bossChance === 0);
  assert.deepEqual(R.monsterPlan(0.9, 2, false), { max: 0, rate: 0, bossChance: 0 });
});

const party = (kinds, fams = 2, opts = {}) => Object.assign({
  warriors: kinds.map((kind) => ({ kind, busy: false })),
  familiars: Array.from({ length: fams }, () => ({ busy: false, readyAt: 0 })),
  intensity: 1, pulse: true, now: 10, rnd: () => 0,
}, opts);

test('event to action', async (t) => {
  await t.test('a drop: a flash, every familiar at its strongest, every warrior strikes', () => {
    const a = R.planActions('d', party(['knight', 'archer'], 3));
    assert.equal(a[0].type, 'flash');
    assert.deepEqual(a.filter((x) => x.type === 'move').map((x) => [x.familiar, x.strongest]), [[0, true], [1, true], [2, true]]);
    assert.equal(a.filter((x) => x.type === 'heavy').length, 2);
  });
  await t.test('a kick: a bounce with the pulse on, a heavy blow by a fighter', () => {
    const a = R.planActions('k', party(['archer', 'barbarian']));
    assert.deepEqual(a.slice(0, 2), [{ type: 'bounce' }, { type: 'heavy', actor: 1 }]);
    assert.ok(!R.planActions('k', party(['knight'], 0, { pulse: false })).some((x) => x.type === 'bounce'));
  });
  await t.test('a snare: the mage casts, otherwise someone swings', () => {
    assert.deepEqual(R.planActions('s', party(['knight', 'mage'])), [{ type: 'spell', actor: 1 }]);
    assert.deepEqual(R.planActions('s', party(['knight'])), [{ type: 'swing', actor: 0 }]);
  });
  await t.test('a hat: the archer shoots, otherwise sparks fly', () => {
    assert.deepEqual(R.planActions('h', party(['knight', 'archer'])), [{ type: 'arrow', actor: 1 }]);
    assert.deepEqual(R.planActions('h', party(['knight'])), [{ type: 'sparks' }]);
  });
  await t.test('busy warriors and resting familiars are left alone', () => {
    const ctx = party(['knight', 'barbarian'], 1);
    ctx.warriors[0].busy = true;
    ctx.familiars[0].readyAt = 11;
    assert.deepEqual(R.planActions('k', ctx), [{ type: 'bounce' }, { type: 'heavy', actor: 1 }]);
  });
  await t.test('low intensity answers fewer letters at once', () => {
    const many = 'kshkshksh';
    const n0 = R.planActions(many, party(['knight', 'archer', 'mage', 'barbarian'], 3, { intensity: 0 })).length;
    const n2 = R.planActions(many, party(['knight', 'archer', 'mage', 'barbarian'], 3, { intensity: 2 })).length;
    assert.ok(n0 < n2, `${n0} < ${n2}`);
  });
  await t.test('no events, no actions', () => assert.deepEqual(R.planActions('', party(['knight'])), []));
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
