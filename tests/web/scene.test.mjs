// The story the scene tells over time: monsters come and fall, the party walks and stops.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { load, tobble } from './helpers.mjs';

const { Scene } = await load('scene.js');
const { monsterDef, decodeCreature } = await load('sprites.js');
const { FAMILIAR_COOLDOWN } = await load('rules.js');

const loud = (ev = '') => ({ silent: false, lv: [0.6, 0.5, 0.4, 0.7], bpm: 120, conf: 0.9, en: 0.8, ev });

function stage(cfg) {
  const s = new Scene(0, 9);
  s.setConfig(Object.assign({}, s.cfg, cfg));
  s.setFamiliars([]);
  let now = 0;
  return {
    s,
    run(seconds, tick) {
      for (const end = now + seconds; now < end;) {
        now += 1 / 60;
        if (tick) { const t = tick(now); if (t) s.onTick(t, now); }
        s.update(now);
      }
    },
    get now() { return now; },
  };
}

function addMonster(s, kind, x, dir) {
  const def = monsterDef(kind);
  const m = { def, x, y: s.gy, dir, hp: def.hp, hurtUntil: 0, diedAt: 0, born: 0, phase: 0, lunge: 0, nextLunge: 1e9, stop: 0 };
  s.monsters.push(m);
  return m;
}

test('monsters walk up to the party, stop at its front and do not pile onto one spot', () => {
  const st = stage({ monsters: true, warriorCount: 2, scene: 'campfire', layout: 'strip', W: 1200, H: 240 });
  st.s.cfg.monsters = true;
  const a = addMonster(st.s, 'slime', st.s.w - 20, -1);
  const b = addMonster(st.s, 'goblin', st.s.w - 5, -1);
  st.run(20, () => loud(''));
  assert.ok(a.x > st.s.frontRight, `${a.x} stays in front of the party (${st.s.frontRight})`);
  assert.ok(a.x - st.s.frontRight < 24, 'and has come right up to it');
  assert.ok(Math.abs(a.x - b.x) >= 12, 'the second one queues behind the first');
});

test('blows wear a monster down until it is gone', () => {
  const st = stage({ monsters: false, warriorCount: 4, scene: 'campfire', layout: 'strip', W: 1200, H: 240 });
  const m = addMonster(st.s, 'slime', st.s.frontRight + 10, -1);
  st.run(0.1, () => loud(''));
  st.run(6, (now) => (Math.round(now * 60) % 15 === 0 ? loud('ksh') : null));
  assert.ok(m.hp <= 0, 'it fell');
  assert.ok(!st.s.monsters.includes(m), 'and was cleared away after its puff');
});

test('the walking party stops for a monster in its way and walks on after', () => {
  const st = stage({ scene: 'walk', layout: 'corner', W: 640, H: 480, monsters: false, warriorCount: 3 });
  st.run(3, () => loud(''));
  const before = st.s.scroll;
  st.run(1, () => loud(''));
  assert.ok(st.s.scroll - before > 10, 'walking at the beat');
  const m = addMonster(st.s, 'goblin', st.s.frontRight + 12, -1);
  m.hp = 1000;
  st.run(2, () => loud(''));
  const held = st.s.scroll;
  st.run(1, () => loud(''));
  assert.ok(st.s.scroll - held < 0.5, 'held up by the goblin');
  m.hp = 0;
  m.diedAt = st.now;
  st.run(3, () => loud(''));
  assert.ok(st.s.scroll - held > 10, 'on its way again');
});

test('a familiar rests between its own moves, longer at low intensity', () => {
  const starts = {};
  for (const intensity of [0, 2]) {
    const st = stage({ monsters: false, warriorCount: 0, intensity });
    st.s.setFamiliars([decodeCreature(Object.assign(tobble(), { attacks: ['zap'] }))]);
    const f = st.s.familiars[0];
    starts[intensity] = [];
    let last = null;
    st.run(10, (now) => {
      if (f.action && f.action !== last) { last = f.action; starts[intensity].push(f.action.start); }
      return Math.round(now * 60) % 6 === 0 ? loud('s') : null;
    });
    const gaps = starts[intensity].slice(1).map((t, i) => t - starts[intensity][i]);
    for (const g of gaps) assert.ok(g >= FAMILIAR_COOLDOWN[intensity] + 0.3 - 1e-6, `gap ${g.toFixed(2)} s at intensity ${intensity}`);
  }
  assert.ok(starts[0].length >= 2, 'it does act');
  assert.ok(starts[2].length > starts[0].length * 2, `${starts[2].length} moves against ${starts[0].length}`);
});

test('an empty road at night is still: nothing left to redraw', () => {
  const st = stage({ scene: 'walk', warriorCount: 0, monsters: false });
  st.s.onTick({ silent: true }, 0.1);
  st.run(5);
  assert.equal(st.s.still(), true);
  const withParty = stage({ scene: 'walk', warriorCount: 2, monsters: false });
  withParty.s.onTick({ silent: true }, 0.1);
  withParty.run(5);
  assert.equal(withParty.s.still(), false, 'sleepers still breathe and dream');
  withParty.s.onTick(loud(''), withParty.now);
  assert.equal(st.s.still() && !withParty.s.slow(), true, 'a sound wakes the page');
});
