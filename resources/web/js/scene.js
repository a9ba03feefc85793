// The scene: a party of warriors and familiars camping by a fire or walking a
// road at night, fighting the monsters the music sends. It keeps its own state,
// advances it with `update(now)` and draws it into a PixelBuffer with `draw`.
import { PixelBuffer, hash, rng, mix, dithered, OUTLINE } from './pixels.js';
import { C } from './palette.js';
import { drawText, textWidth } from './font.js';
import { warriorSprites, WARRIOR_ORDER, WARRIOR_KINDS, HANDS, monsterDef, tent } from './sprites.js';
import { moveById, strongestMove, drawMove } from './effects.js';
import {
  DEFAULT_CONFIG, warriorCount, monsterPlan, planActions, SleepClock, beatBpm, walkSpeed, FAMILIAR_COOLDOWN,
} from './rules.js';

const GROUND_TILE = 540; // a multiple of the dither (4) and of the tuft spacing (9)
const ACTION_DUR = { heavy: 0.38, swing: 0.3, spell: 0.42, arrow: 0.32 };
const BUBBLE_S = 1.1;
const BREATH_S = 2; // one breath in, one out, while asleep
// How often the sleeping scene changes once the page has slowed down: every
// second at first, every two seconds in deep sleep.
const SLOW_STEP_S = 1;
const DEEP_STEP_S = 2;
const DEEP_AFTER_S = 15;
const Z_PERIOD = 1.3;
const Z_LIFE = 2.6;

function copyRect(dst, src, r) {
  for (let y = r.y; y < r.y + r.h; y++) {
    const o = y * dst.w;
    dst.px.set(src.px.subarray(o + r.x, o + r.x + r.w), o + r.x);
  }
}

// The canvas in logical pixels; kept within MAX_CANVAS so that an absurd
// panel size cannot ask for gigabytes of pixels.
export const MAX_CANVAS = { w: 4096, h: 2048 };
export function canvasSize(cfg) {
  const s = cfg.scale || 2;
  return {
    w: Math.min(MAX_CANVAS.w, Math.max(16, Math.floor(cfg.W / s))),
    h: Math.min(MAX_CANVAS.h, Math.max(16, Math.floor(cfg.H / s))),
  };
}

export class Scene {
  constructor(now = 0, seed = 7) {
    this.cfg = Object.assign({}, DEFAULT_CONFIG);
    this.sleep = new SleepClock(now);
    this.rand = rng(seed);
    this.now = now;
    this.last = now;
    this.level = { lv: [0, 0, 0, 0], bpm: 0, conf: 0, en: 0 };
    this.beat = 0; // beats since start, fractional
    this.scroll = 0; // walk scene: distance walked, logical pixels
    this.pace = 0;
    this.familiarDefs = [];
    this.familiars = [];
    this.warriors = [];
    this.monsters = [];
    this.effects = [];
    this.particles = [];
    this.bubbles = [];
    this.spawnAcc = 0;
    this.bounceUntil = 0;
    this.shakeUntil = 0;
    this.shakeAmp = 0;
    this.flashFrames = 0;
    this.counts = { k: 0, s: 0, h: 0, d: 0 };
    this.ticks = 0;
    this.sleepCache = null;
    this.resize();
  }

  // ---------------------------------------------------------------- setup

  setConfig(cfg) {
    const prev = this.cfg;
    this.cfg = cfg;
    const sizeChanged = !this.buf || canvasSize(prev).w !== canvasSize(cfg).w || canvasSize(prev).h !== canvasSize(cfg).h;
    if (sizeChanged || prev.scene !== cfg.scene || prev.layout !== cfg.layout) {
      this.monsters = [];
      this.effects = [];
      this.particles = [];
      this.bubbles = [];
    }
    if (!cfg.monsters) this.monsters = [];
    this.resize();
  }

  setFamiliars(list) {
    this.familiarDefs = list.slice(0, 3);
    this.resize();
  }

  resize() {
    const { w, h } = canvasSize(this.cfg);
    if (!this.buf || this.buf.w !== w || this.buf.h !== h) this.buf = new PixelBuffer(w, h);
    this.w = w;
    this.h = h;
    this.strip = this.cfg.layout === 'strip';
    this.walk = this.cfg.scene === 'walk';
    this.gy = this.strip ? h - Math.max(8, Math.round(h * 0.2)) : Math.round(h * 0.76);
    // Where the meadow meets the forest, behind the party, and how high the
    // mountains rise above it (in the strip they leave only a band of sky).
    this.back = this.gy - (this.strip ? Math.max(3, Math.round(h * 0.1)) : Math.round(h * 0.09));
    this.horizon = this.strip ? Math.round(this.back - Math.max(10, h * 0.42)) : Math.round(this.back - h * 0.24);
    const nW = warriorCount(this.cfg, w, h);
    const kinds = [];
    for (let i = 0; i < nW; i++) kinds.push(WARRIOR_ORDER[i % WARRIOR_ORDER.length]);
    this.warriors = kinds.map((kind, i) => this.warriors[i] && this.warriors[i].kind === kind
      ? this.warriors[i] : { kind, sprites: warriorSprites(kind), action: null, flinch: 0 });
    const oldF = this.familiars;
    this.familiars = this.familiarDefs.map((def, i) => {
      const o = oldF.find((f) => f.def === def);
      return o || { def, action: null, readyAt: 0, next: i, flinch: 0 };
    });
    this.placeParty();
    this.background = null;
    this.bgCache = new Map();
    this.sleepCache = null;
    this.groundTile = null;
  }

  // Positions of everyone, by scene and layout.
  placeParty() {
    const chars = [];
    const melee = this.warriors.filter((w) => w.kind === 'knight' || w.kind === 'barbarian');
    const ranged = this.warriors.filter((w) => !melee.includes(w));
    const fams = this.familiars;
    const w = this.w;
    const gap = (c) => (c.def ? Math.max(16, c.def.w - 2) : 16) + 3;
    if (this.walk || this.strip) {
      // A line facing right: melee in front, familiars in the middle, ranged at the back.
      const order = melee.concat(fams, ranged);
      let total = 0;
      order.forEach((c) => (total += gap(c)));
      this.fireX = this.walk ? -100 : Math.max(28, Math.round(w * (this.strip ? 0.18 : 0.25)));
      let front;
      if (this.walk) front = Math.round(this.strip ? w * 0.42 + total / 2 : w / 2 + total / 2);
      else front = this.fireX + 18 + total;
      let x = front;
      for (const c of order) {
        c.x = Math.round(x - gap(c) / 2);
        c.facing = 1;
        x -= gap(c);
        chars.push(c);
      }
      this.frontRight = front + 6;
      this.frontLeft = null;
    } else {
      // Around the fire: familiars nearest, warriors further out, both sides.
      this.fireX = Math.round(w / 2);
      const order = fams.concat(melee, ranged);
      let left = this.fireX - 12, right = this.fireX + 12;
      order.forEach((c, i) => {
        const g = gap(c);
        if (i % 2 === 0) { c.x = Math.round(left - g / 2); left -= g; c.facing = 1; }
        else { c.x = Math.round(right + g / 2); right += g; c.facing = -1; }
        chars.push(c);
      });
      this.frontRight = right + 4;
      this.frontLeft = left - 4;
    }
    this.chars = chars;
  }

  // ---------------------------------------------------------------- input

  onTick(t, now) {
    this.ticks++;
    this.sleep.onTick(t, now);
    if (t.silent) return;
    this.level = t;
    for (const ch of t.ev) this.counts[ch]++;
    this.act(t.ev, now);
  }

  act(ev, now) {
    if (!ev || this.sleep.asleep(now)) return;
    const ctx = {
      warriors: this.warriors.map((w) => ({ kind: w.kind, busy: Boolean(w.action && now < w.action.end) })),
      familiars: this.familiars.map((f) => ({ busy: Boolean(f.action && now < f.action.end), readyAt: f.readyAt })),
      intensity: this.cfg.intensity,
      pulse: this.cfg.pulse,
      now,
      rnd: this.rand,
    };
    for (const a of planActions(ev, ctx)) this.start(a, now);
  }

  start(a, now) {
    switch (a.type) {
      case 'bounce': this.bounceUntil = now + 0.07; break;
      case 'flash':
        this.flashFrames = 2;
        this.shakeUntil = now + 0.35;
        this.shakeAmp = 2;
        break;
      case 'sparks': this.sparks(now); break;
      case 'move': this.familiarMove(a.familiar, a.strongest, now); break;
      default: {
        const w = this.warriors[a.actor];
        const target = this.nearestMonster(w.x, w.facing, 90);
        w.action = { type: a.type, start: now, end: now + ACTION_DUR[a.type], target, done: false };
        if (target && a.type !== 'spell' && a.type !== 'arrow') w.facing = target.x < w.x ? -1 : 1;
      }
    }
  }

  familiarMove(i, strongest, now) {
    const f = this.familiars[i];
    if (!f) return;
    const ids = f.def.attacks.length ? f.def.attacks : ['pounce', 'zoomies', 'blast'];
    let m;
    if (strongest) m = strongestMove(ids);
    else { m = moveById(ids[f.next % ids.length]) || moveById('blast'); f.next++; }
    const target = this.nearestMonster(f.x, f.facing, 160);
    let tx, ty;
    if (target) {
      tx = target.x;
      ty = target.y - target.def.frames[0].h / 2 + 2;
    } else {
      // Nothing to fight: aim at open ground beyond the party, never at a friend.
      const left = this.frontLeft !== null && f.x < this.fireX;
      tx = left ? Math.max(10, Math.min(f.x - 40, this.frontLeft - 20)) : Math.min(this.w - 10, Math.max(f.x + 40, this.frontRight + 20));
      ty = this.gy - 6;
    }
    const dir = tx >= f.x ? 1 : -1;
    const fw = f.def.w, fh = f.def.frames.idle.bottom - f.def.frames.idle.top + 1;
    const fx = {
      t: 0, x: f.x + dir * Math.floor(fw / 2 - 3), y: this.gy - Math.round(fh * 0.6), tx, ty, gy: this.gy,
      dir, seed: Math.floor(this.rand() * 1e6), w: this.w, h: this.h,
      targets: this.monsters.filter((mm) => mm !== target && mm.hp > 0).slice(0, 3)
        .map((mm) => ({ x: mm.x, y: mm.y - mm.def.frames[0].h / 2 + 2 })),
    };
    f.action = { move: m, start: now, end: now + m.dur / 1000, fx, target, done: false };
    f.readyAt = now + m.dur / 1000 + FAMILIAR_COOLDOWN[this.cfg.intensity];
    this.effects.push({ move: m, fx, start: now, owner: f });
    if (strongest || this.rand() < 0.3) this.bubble(f, now);
  }

  bubble(f, now) {
    this.bubbles = this.bubbles.filter((b) => b.owner !== f);
    this.bubbles.push({ owner: f, text: f.def.sound || 'ROAR!', until: now + BUBBLE_S });
  }

  sparks(now) {
    const n = [3, 5, 8][this.cfg.intensity];
    const ox = this.walk ? this.chars.length ? this.chars[0].x + 6 : this.w / 2 : this.fireX;
    for (let i = 0; i < n; i++) {
      this.particles.push({
        kind: 'spark', x: ox + (this.rand() - 0.5) * 6, y: this.gy - 6 - this.rand() * 6,
        vx: (this.rand() - 0.5) * 60, vy: -30 - this.rand() * 50, born: now, life: 0.35 + this.rand() * 0.3,
      });
    }
  }

  nearestMonster(x, facing, range) {
    let best = null, bd = Infinity;
    for (const m of this.monsters) {
      if (m.hp <= 0) continue;
      const d = Math.abs(m.x - x) + ((m.x - x) * facing < 0 ? 20 : 0);
      if (d < bd && d < range + 20) { bd = d; best = m; }
    }
    return best;
  }

  // ---------------------------------------------------------------- update

  update(now) {
    const dt = Math.min(0.1, Math.max(0, now - this.last));
    this.last = now;
    this.now = now;
    const asleep = this.sleep.asleep(now);
    const lvl = this.level;
    this.beat += dt * beatBpm(lvl.bpm, lvl.conf) / 60;
    if (asleep) {
      for (const c of this.chars) c.action = null;
      this.effects = [];
      this.bubbles = [];
      // Deep asleep nothing but the clock moves: skip the rest.
      if (this.particles.length === 0 && this.pace === 0 && this.sleep.slow(now)) return;
    }

    // Walking pace: the party stops to fight what stands in front of it.
    if (this.walk) {
      const blocked = this.monsters.some((m) => m.hp > 0 && m.x - this.frontRight < 30);
      const want = asleep || blocked ? 0 : walkSpeed(lvl.bpm, lvl.conf, lvl.en);
      this.pace += (want - this.pace) * Math.min(1, dt * 4);
      if (this.pace < 0.05 && want === 0) this.pace = 0;
      this.scroll += this.pace * dt;
    }

    // Monsters arrive, walk up and fight.
    const plan = monsterPlan(lvl.en, this.cfg.intensity, this.cfg.monsters);
    if (!asleep && plan.max > 0) {
      this.spawnAcc += plan.rate * dt;
      if (this.spawnAcc >= 1) {
        this.spawnAcc = 0;
        if (this.monsters.filter((m) => m.hp > 0).length < plan.max) this.spawn(plan, now);
      }
    }
    for (const m of this.monsters) this.moveMonster(m, dt, now, asleep);
    this.monsters = this.monsters.filter((m) => !(m.hp <= 0 && now - m.diedAt > 0.45) && m.x > -60 && m.x < this.w + 60);

    // Actions land.
    for (const w of this.warriors) this.updateWarrior(w, now);
    for (const f of this.familiars) {
      const a = f.action;
      if (!a) continue;
      const p = (now - a.start) / (a.end - a.start);
      if (!a.done && p >= a.move.hit) {
        a.done = true;
        this.landMove(a, now);
      }
      if (now >= a.end) f.action = null;
    }
    for (const e of this.effects) e.fx.t = (now - e.start) * 1000;
    this.effects = this.effects.filter((e) => e.fx.t < e.move.dur);

    // Particles.
    const lv = lvl.lv;
    if (!this.walk && !asleep) {
      const rate = (0.8 + lv[2] * 6 + lv[0] * 2) * [0.5, 1, 1.6][this.cfg.intensity];
      if (this.rand() < rate * dt) {
        this.particles.push({ kind: 'ember', x: this.fireX + (this.rand() - 0.5) * 6, y: this.gy - 6,
          vx: (this.rand() - 0.5) * 8, vy: -14 - this.rand() * 14, born: now, life: 1 + this.rand() });
      }
    }
    for (const p of this.particles) {
      const pdt = dt;
      p.x += p.vx * pdt;
      p.y += p.vy * pdt;
      if (p.kind === 'spark') p.vy += 140 * pdt;
      if (p.kind === 'arrow' || p.kind === 'bolt') this.flyMissile(p, now, pdt);
    }
    this.particles = this.particles.filter((p) => now - p.born < p.life && !p.gone);
    this.bubbles = this.bubbles.filter((b) => now < b.until);
  }

  spawn(plan, now) {
    let kind;
    const hasBoss = this.monsters.some((m) => m.def.boss && m.hp > 0);
    if (!hasBoss && this.rand() < plan.bossChance) kind = 'knightmare';
    else kind = ['slime', 'goblin', 'bat', 'slime'][Math.floor(this.rand() * 4)];
    const def = monsterDef(kind);
    const fromLeft = this.frontLeft !== null && this.rand() < 0.5;
    const sw = def.frames[0].w;
    const x = fromLeft ? -sw : this.w + sw;
    const extra = this.cfg.intensity === 2 ? Math.floor(this.level.en * 2) : 0;
    this.monsters.push({
      def, x, y: this.gy - (def.fly ? 18 + Math.floor(this.rand() * 8) : 0), dir: fromLeft ? 1 : -1,
      hp: def.hp + extra, hurtUntil: 0, diedAt: 0, born: now, phase: this.rand() * 10, lunge: 0,
      nextLunge: now + 1 + this.rand(), stop: 0,
    });
  }

  moveMonster(m, dt, now, asleep) {
    if (m.hp <= 0) return;
    const front = m.dir < 0 ? this.frontRight : this.frontLeft;
    const half = m.def.frames[0].w / 2;
    const stopAt = m.dir < 0 ? front + half + 2 : front - half - 2;
    const crowd = this.monsters.filter((o) => o !== m && o.hp > 0 && o.dir === m.dir && (o.x - m.x) * m.dir > 0 && Math.abs(o.x - m.x) < 14).length;
    const limit = stopAt - m.dir * crowd * 14;
    const ahead = (limit - m.x) * m.dir;
    if (this.walk) m.x -= this.pace * dt; // the ground carries them toward the party
    if (!asleep && ahead > 0) {
      // Far away they hurry, so that a wide strip does not keep them walking for ages.
      const hurry = ahead > 70 ? 3.5 : 1;
      m.x += m.dir * Math.min(ahead, m.def.speed * hurry * dt);
      m.phase += dt * 4;
    } else if (!asleep && ahead <= 0) {
      if (ahead < -2) m.x = limit;
      // At the front: lunge now and then.
      if (now >= m.nextLunge) {
        m.lunge = now;
        m.nextLunge = now + 1.2 + this.rand() * 1.5;
        const victim = this.closestChar(m.x);
        if (victim) victim.flinch = now + 0.15;
      }
      m.phase += dt * 2;
    }
  }

  closestChar(x) {
    let best = null, bd = Infinity;
    for (const c of this.chars) {
      const d = Math.abs(c.x - x);
      if (d < bd) { bd = d; best = c; }
    }
    return best;
  }

  hurt(m, dmg, now, push = 3) {
    if (!m || m.hp <= 0) return;
    m.hp -= dmg;
    m.hurtUntil = now + 0.09;
    m.x -= m.dir * push;
    if (m.hp <= 0) m.diedAt = now;
  }

  updateWarrior(w, now) {
    const a = w.action;
    if (!a) return;
    const p = (now - a.start) / (a.end - a.start);
    if (!a.done && p >= 0.45) {
      a.done = true;
      const m = a.target && a.target.hp > 0 ? a.target : null;
      const hand = this.handPos(w, 'strike');
      if (a.type === 'arrow') {
        const tgt = m || { x: w.x + w.facing * 80, y: this.gy - 8 };
        this.particles.push({ kind: 'arrow', x: hand.x, y: hand.y, tx: tgt.x, ty: m ? m.y - 6 : tgt.y, target: m,
          vx: 0, vy: 0, born: now, life: 1.2, sx: hand.x, sy: hand.y });
      } else if (a.type === 'spell') {
        const tip = this.handPos(w, 'windup');
        const tgt = m || { x: w.x + w.facing * 70, y: this.gy - 10 };
        this.particles.push({ kind: 'bolt', x: tip.x, y: tip.y - 10, tx: tgt.x, ty: m ? m.y - 6 : tgt.y, target: m,
          vx: 0, vy: 0, born: now, life: 1.2, sx: tip.x, sy: tip.y - 10 });
      } else if (m && Math.abs(m.x - (w.x + this.dash(w, now))) < 26) {
        this.hurt(m, a.type === 'heavy' ? 2 : 1, now, a.type === 'heavy' ? 4 : 2);
        this.impact(m.x - m.dir * 4, m.y - 6, now, a.type === 'heavy');
      } else {
        this.particles.push({ kind: 'swoosh', x: hand.x + w.facing * 4, y: hand.y, vx: 0, vy: 0, born: now, life: 0.15, dir: w.facing });
      }
    }
    if (now >= a.end) w.action = null;
  }

  impact(x, y, now, big) {
    this.particles.push({ kind: 'impact', x, y, vx: 0, vy: 0, born: now, life: big ? 0.25 : 0.18, big });
  }

  // Hits when the next frame's step would carry it past the target.
  flyMissile(p, now, dt) {
    const speed = p.kind === 'arrow' ? 220 : 150;
    const dx = p.tx - p.x, dy = p.ty - p.y;
    const d = Math.hypot(dx, dy);
    const step = speed * Math.max(dt, 1 / 60);
    if (d <= step + 1) {
      p.gone = true;
      if (p.target && p.target.hp > 0) this.hurt(p.target, 1, now, 2);
      this.impact(p.tx, p.ty, now, false);
      return;
    }
    p.vx = (dx / d) * speed;
    p.vy = (dy / d) * speed;
  }

  landMove(a, now) {
    const m = a.target;
    const dmg = 1 + Math.floor(a.move.power / 2);
    if (m && m.hp > 0) this.hurt(m, dmg, now, 5);
    if (a.move.id === 'chainlightning' || a.move.id === 'quake' || a.move.id === 'blizzardvortex' || a.move.id === 'starfall') {
      for (const o of this.monsters) if (o !== m && Math.abs(o.x - a.fx.tx) < 60) this.hurt(o, 1, now, 3);
    }
    if (a.move.shake) { this.shakeUntil = now + 0.25; this.shakeAmp = a.move.shake; }
    if (a.move.flash && this.flashFrames === 0) this.flashFrames = 1;
  }

  // ---------------------------------------------------------------- queries

  asleep() {
    return this.sleep.asleep(this.now);
  }

  slow() {
    return this.sleep.slow(this.now);
  }

  // While asleep and slowed down the picture changes only in steps; this key
  // changes when a redraw would show something new.
  visualKey() {
    return Math.floor(this.now / this.slowStep());
  }

  // True while the slowed-down picture cannot change at all: nobody on stage
  // to breathe or dream and no fire to glow. The page then stops redrawing
  // until the next call wakes it.
  still() {
    return this.slow() && this.walk && this.chars.length === 0 && !this.monsters.some((m) => m.def.boss && m.hp > 0);
  }

  // When the slowed-down picture changes next (seconds, page clock).
  nextVisualChange() {
    const step = this.slowStep();
    return (Math.floor(this.now / step) + 1) * step;
  }

  slowStep() {
    return this.sleep.asleepFor(this.now) >= DEEP_AFTER_S ? DEEP_STEP_S : SLOW_STEP_S;
  }

  beatPhase() {
    return this.beat - Math.floor(this.beat);
  }

  dash(w, now) {
    const a = w.action;
    if (!a || !a.target || a.type === 'arrow' || a.type === 'spell' || a.target.hp <= 0 && a.done) return 0;
    const dist = Math.max(0, Math.abs(a.target.x - w.x) - 14);
    if (dist > 70) return 0;
    const p = (now - a.start) / (a.end - a.start);
    const out = p < 0.45 ? p / 0.45 : p < 0.7 ? 1 : 1 - (p - 0.7) / 0.3;
    return Math.round(Math.sign(a.target.x - w.x) * dist * Math.max(0, out));
  }

  warriorPose(w, now, asleep) {
    if (asleep) return 'sleep';
    const a = w.action;
    if (a) {
      const p = (now - a.start) / (a.end - a.start);
      if (a.type === 'arrow') return p < 0.45 ? 'windup' : 'strike';
      return p < 0.35 ? 'windup' : 'strike';
    }
    if (this.walk && this.pace > 1) return (this.beat * 2) % 2 < 1 ? 'stand' : 'step';
    return 'stand';
  }

  handPos(w, pose) {
    const s = w.sprites[pose];
    const h = HANDS[pose];
    const x0 = w.x - Math.floor(s.w / 2), y0 = this.gy - s.bottom;
    const hx = w.facing > 0 ? h.x + 1 : s.w - 2 - h.x;
    return { x: x0 + hx, y: y0 + h.y + 1 };
  }

  // ---------------------------------------------------------------- drawing

  // Draws the scene; returns the rectangle that changed since the last
  // drawing, or null when the whole picture may have changed.
  draw(buf = this.buf) {
    const now = this.now;
    const asleep = this.sleep.asleep(now);
    if (asleep && this.slow()) {
      // Asleep: the world only changes with the breathing, so keep it drawn
      // and put only the drifting Z's on it.
      const key = Math.floor(now / BREATH_S) % 2;
      if (!this.sleepCache || this.sleepCache.w !== buf.w || this.sleepCache.h !== buf.h) this.sleepCache = { w: buf.w, h: buf.h, bufs: [] };
      let cached = this.sleepCache.bufs[key];
      if (!cached) {
        cached = new PixelBuffer(buf.w, buf.h);
        this.drawWorld(cached, (key + 0.5) * BREATH_S, true);
        this.sleepCache.bufs[key] = cached;
      }
      // The two breaths differ only around the sleepers, where the Z's are too.
      const r = this.sleepRect();
      const full = this.drawnFull !== true;
      if (full) buf.copyFrom(cached);
      else copyRect(buf, cached, r);
      this.drawSleepers(buf, now);
      this.drawnFull = true;
      return full ? null : r;
    }
    this.drawnFull = false;
    this.sleepCache = null;
    this.drawWorld(buf, now, asleep);
    if (asleep) this.drawSleepers(buf, now);
    this.drawBubbles(buf, now);
    if (this.flashFrames > 0) {
      this.flashFrames--;
      this.cardFill(buf, C.paleYellow, 5);
    }
    return null;
  }

  // Where the Z's of the sleepers drift.
  sleepRect() {
    let x0 = this.w, x1 = 0;
    const sleepers = this.chars.concat(this.monsters.filter((m) => m.def.boss && m.hp > 0));
    for (const c of sleepers) { x0 = Math.min(x0, c.x - 22); x1 = Math.max(x1, c.x + 22); }
    if (!this.walk) { x0 = Math.min(x0, this.fireX - 8); x1 = Math.max(x1, this.fireX + 8); }
    // The Z's rise up to 26 pixels above the tallest sleeper.
    let tall = 10;
    for (const c of this.chars) if (c.def) tall = Math.max(tall, c.def.frames.sleep.bottom - c.def.frames.sleep.top + 1, c.def.frames.sleep2.bottom - c.def.frames.sleep2.top + 1);
    const x = Math.max(0, Math.floor(x0)), y = Math.max(0, this.gy - tall - 28);
    return { x, y, w: Math.max(0, Math.min(this.w, Math.ceil(x1)) - x), h: Math.max(0, Math.min(this.h, this.gy + 3) - y) };
  }

  drawWorld(buf, now, asleep) {
    this.drawBackground(buf, asleep);
    const lv = this.level.lv;
    let ox = 0, oy = 0;
    if (!asleep && now < this.shakeUntil) {
      const k = Math.floor(now * 40);
      ox = Math.round((hash(k, 1) - 0.5) * 2 * this.shakeAmp);
      oy = Math.round((hash(k, 2) - 0.5) * 2 * this.shakeAmp);
    } else if (!asleep && now < this.bounceUntil) oy = 1;
    buf.ox = ox; buf.oy = oy;
    if (!this.walk) this.drawFire(buf, now, asleep);
    for (const m of this.monsters) this.drawMonster(buf, m, now, asleep);
    for (const c of this.chars) {
      if (c.def) this.drawFamiliar(buf, c, now, asleep);
      else this.drawWarrior(buf, c, now, asleep);
    }
    for (const e of this.effects) drawMove(buf, e.move, e.fx);
    this.drawParticles(buf, now);
    buf.ox = 0; buf.oy = 0;
  }

  // The scene sits on a card with stepped round corners and a dark rim.
  cardInset(y) {
    const h = this.h;
    const r = y < 4 ? y : h - 1 - y < 4 ? h - 1 - y : 4;
    return [3, 2, 1, 1, 0][r] ?? 0;
  }

  cardFill(buf, c, level) {
    for (let y = 1; y < this.h - 1; y++) {
      const i = this.cardInset(y);
      for (let x = i + 1; x < this.w - i - 1; x++) if (dithered(x, y, level)) buf.px[y * buf.w + x] = c;
    }
  }

  // The still part of the picture: sky, hills, ground and props, with the
  // horizon's glow and the fire's light for the current loudness. Both are
  // stepped, so a few finished backgrounds are kept and reused.
  drawBackground(buf, asleep) {
    const lv = this.level.lv;
    const glowQ = asleep || lv[3] < 0.15 ? 0 : Math.round(lv[3] * 8);
    const lightQ = this.walk ? 0 : asleep ? -1 : Math.round((0.35 + lv[3] * 0.5 + lv[0] * 0.3) * 8);
    const key = this.walk ? `${glowQ}:${this.layerOffsets(this.scroll).slice(0, 2).join(':')}` : glowQ * 100 + lightQ;
    let b = this.bgCache.get(key);
    if (b) {
      this.bgCache.delete(key); // most recently used last
      this.bgCache.set(key, b);
    } else {
      if (!this.background) {
        const base = this.makeSky(0);
        if (!this.walk) {
          this.drawHills(base, 0);
          this.drawGround(base, 0);
          this.drawCampProps(base);
          this.drawForeground(base, 0);
          this.cutCard(base);
        }
        this.background = base;
      }
      // Reuse the buffer of the background least recently used.
      if (this.bgCache.size >= 8) {
        const oldest = this.bgCache.keys().next().value;
        b = this.bgCache.get(oldest);
        this.bgCache.delete(oldest);
      } else {
        b = new PixelBuffer(this.w, this.h);
      }
      b.copyFrom(this.background);
      this.drawSkyGlow(b, glowQ / 8);
      if (this.walk) this.drawHills(b, this.scroll, false);
      else this.drawFireLight(b, lightQ / 8, asleep);
      this.bgCache.set(key, b);
    }
    buf.copyFrom(b);
    if (this.walk) this.drawLayers(buf);
  }

  makeSky() {
    const b = new PixelBuffer(this.w, this.h);
    const bottom = this.back;
    const bands = [C.night0, C.night1, C.night2, C.night3, C.dusk];
    for (let y = 0; y < bottom; y++) {
      const f = (y / bottom) * (bands.length - 1);
      const i = Math.floor(f), frac = f - i;
      const row = y * this.w;
      for (let x = 0; x < this.w; x++) {
        b.px[row + x] = i + 1 < bands.length && dithered(x, y, Math.round(frac * 16)) ? bands[i + 1] : bands[i];
      }
    }
    // The moon with a stepped halo.
    const mx = Math.round(this.w * (this.strip ? 0.86 : 0.78)), my = Math.round(Math.max(9, this.horizon * (this.strip ? 0.35 : 0.28)));
    const mr = this.strip ? Math.max(3, Math.min(6, Math.round(this.h * 0.06))) : Math.max(5, Math.round(this.h * 0.04));
    this.moon = { x: mx, y: my, r: mr };
    b.disc(mx, my, mr * 2.2, C.night2, 6);
    b.disc(mx, my, mr * 1.5, C.night3, 8);
    // Stars, fewer near the horizon and none on the moon.
    const n = Math.round((this.w * this.horizon) / 140);
    for (let i = 0; i < n; i++) {
      const x = Math.floor(hash(i, 11) * this.w), y = Math.floor(Math.pow(hash(i, 12), 1.5) * (this.horizon - 4)) + 2;
      if (Math.hypot(x - mx, y - my) < mr * 2.2) continue;
      const bright = hash(i, 13) < 0.22;
      b.set(x, y, bright ? C.star : C.starDim);
      if (bright && hash(i, 14) < 0.35) {
        b.set(x - 1, y, C.starDim); b.set(x + 1, y, C.starDim); b.set(x, y - 1, C.starDim); b.set(x, y + 1, C.starDim);
      }
    }
    b.disc(mx, my, mr, C.moon);
    b.disc(mx + Math.round(mr * 0.3), my - Math.round(mr * 0.2), Math.max(1, mr * 0.3), C.moonShade);
    b.set(mx - Math.round(mr * 0.45), my + Math.round(mr * 0.35), C.moonShade);
    b.set(mx - Math.round(mr * 0.1), my + Math.round(mr * 0.55), C.moonShade);
    // A few long, flat clouds lit from above by the moon.
    const clouds = this.strip ? Math.round(this.w / 160) : 3;
    for (let k = 0; k < clouds; k++) {
      const cw = 30 + Math.floor(hash(k, 41) * 40), cy = Math.round(this.horizon * (0.2 + hash(k, 42) * 0.45));
      const cx = Math.round(((k + 0.3 + hash(k, 43) * 0.5) / clouds) * this.w);
      this.cloud(b, cx, cy, cw);
    }
    return b;
  }

  cloud(b, cx, cy, cw) {
    for (let j = 0; j < 4; j++) {
      const half = Math.round(cw / 2 - Math.abs(j - 1.2) * 6 - (j === 0 ? 6 : 0));
      const off = j === 0 ? -4 : j === 3 ? 5 : 0;
      b.line(cx - half + off, cy + j, cx + half + off, cy + j, j === 0 ? C.night3 : C.night2, j === 3 ? 8 : 16);
    }
  }

  // Far mountains: overlapping peaks, seen through the night air.
  mountain(u) {
    const top = this.back - this.horizon;
    let best = 0;
    const k0 = Math.floor(u / 46);
    for (let k = k0 - 2; k <= k0 + 2; k++) {
      const c = k * 46 + hash(k, 21) * 30;
      const ph = top * (0.45 + hash(k, 22) * 0.6);
      const v = ph - Math.abs(u - c) * (0.55 + hash(k, 23) * 0.4);
      if (v > best) best = v;
    }
    return best + Math.sin(u * 0.31) * 0.8;
  }

  hill(u) {
    const top = this.back - this.horizon;
    return top * (0.22 + 0.1 * Math.sin(u * 0.031 + 2) + 0.06 * Math.sin(u * 0.083 + 0.4));
  }

  // The parallax layers' offsets for a distance walked.
  layerOffsets(scroll) {
    const s = Math.round(scroll);
    return [Math.round(s * 0.12), Math.round(s * 0.3), Math.round(s * 0.55)];
  }

  drawHills(b, scroll, trees = true) {
    const W = this.w;
    const [sf, sn, st] = this.layerOffsets(scroll);
    for (let x = 0; x < W; x++) {
      const far = Math.round(this.back - this.mountain(x + sf));
      const near = Math.round(this.back - this.hill(x + sn + 400));
      const y0 = Math.max(1, far);
      for (let y = y0; y < this.back; y++) b.px[y * W + x] = y < near ? C.hillFar : C.hillNear;
      // Moonlit ridges and snow on the high peaks.
      if (far < this.back) b.px[y0 * W + x] = C.night3;
      if (this.back - far > (this.back - this.horizon) * 0.75) {
        b.px[y0 * W + x] = C.starDim;
        if (y0 + 1 < near) b.dot(x, y0 + 1, C.night3, 8);
      }
    }
    if (trees) this.drawTrees(b, st);
  }

  // A forest line of pines along the near hills.
  drawTrees(b, scroll) {
    const step = 7;
    const first = Math.floor((scroll - 16) / step);
    const last = Math.ceil((scroll + this.w + 16) / step);
    const tall = this.strip ? Math.max(8, Math.round((this.back - this.horizon) * 0.55)) : Math.round((this.back - this.horizon) * 0.5);
    for (let k = first; k <= last; k++) {
      const r = hash(k, 77);
      if (r < 0.3) continue;
      const u = k * step + Math.floor(hash(k, 78) * 5);
      const x = Math.round(u - scroll);
      const base = this.back - Math.round(this.hill(u * 0.55 + 400) * 0.35) + 2;
      const th = Math.round(tall * (0.45 + hash(k, 79) * 0.55));
      this.pine(b, x, base, th, r > 0.85 ? C.hillNear : C.tree);
    }
  }

  pine(b, x, base, th, c) {
    // Three tiers of branches on a short trunk.
    for (let j = 0; j < th; j++) {
      const t = j / th;
      const tier = (j % Math.max(3, Math.round(th / 3))) / Math.max(3, Math.round(th / 3));
      const hw = Math.max(0, Math.round((1 - t) * th * 0.32 + (1 - tier) * 1.2 - 0.6));
      b.line(x - hw, base - j, x + hw, base - j, c);
    }
    b.set(x, base - th, c);
  }

  drawGround(b, scroll, tile = false) {
    const W = this.w, back = this.back, G = this.gy - back, below = this.h - this.gy;
    for (let y = back; y < this.h; y++) {
      // Each row mixes two colours by an ordered dither: a meadow that is
      // darkest far away and in front, brightest where the party stands.
      let c1, c2, level;
      if (y < this.gy) { c1 = C.grass0; c2 = C.grass1; level = Math.round(10 * (y - back) / Math.max(1, G)); }
      else if (y === this.gy) { c1 = C.grass1; c2 = C.grass1; level = 16; }
      else {
        const d = (y - this.gy) / Math.max(1, below);
        if (d < 0.3) { c1 = C.grass0; c2 = C.grass1; level = Math.round(12 * (1 - d / 0.3)); }
        else { c1 = C.grass0; c2 = C.shadow; level = Math.round(Math.min(16, (d - 0.3) * 24)); }
      }
      if (y === back) { c1 = C.hillNear; c2 = C.grass0; level = 8; }
      const row = y * W;
      for (let x = 0; x < W; x++) {
        const u = x + Math.round(scroll);
        let c = dithered(u, y, level) ? c2 : c1;
        if (this.walk) {
          const depth = y - this.gy;
          if (depth >= 2 && depth <= 6) c = depth === 2 ? C.dirt0 : depth === 6 ? (dithered(u, y, 8) ? C.dirt0 : c) : C.dirt1;
        }
        b.px[row + x] = c;
      }
    }
    // Tufts, flowers and pebbles, moving with the ground.
    const first = tile ? 0 : Math.floor(scroll / 9) - 1, last = tile ? W / 9 - 1 : Math.ceil((scroll + W) / 9) + 1;
    const put = (x, y, c) => {
      b.set(x, y, c);
      if (tile && x >= W) b.set(x - W, y, c);
      if (tile && x < 0) b.set(x + W, y, c);
    };
    for (let k = first; k <= last; k++) {
      const r = hash(k, 5);
      const x = Math.round(k * 9 + hash(k, 6) * 8 - (tile ? 0 : scroll));
      const span = this.h - 4 - (this.back + 3);
      let y = this.back + 3 + Math.floor(hash(k, 7) * span);
      if (this.walk && y >= this.gy && y <= this.gy + 7) y = this.gy + 1;
      if (r < 0.4) {
        put(x, y - 1, C.grassTip); put(x - 1, y - 2, C.grassTip); put(x + 1, y - 3, C.grassTip); put(x + 1, y - 2, C.grassTip);
      } else if (r < 0.47) {
        put(x, y - 1, C.grassTip); put(x, y - 2, hash(k, 10) < 0.5 ? C.violet : C.paleYellow);
      } else if (r < 0.55) {
        put(x, y, C.stone); put(x + 1, y, C.stone); put(x, y - 1, C.stoneLit);
      }
    }
  }

  drawLayers(buf) {
    const s = Math.round(this.scroll);
    this.drawTrees(buf, this.layerOffsets(s)[2]);
    // The ground repeats every GROUND_TILE pixels: draw it once, then copy
    // each row from where the walk has got to.
    if (!this.groundTile) {
      const t = new PixelBuffer(GROUND_TILE, this.h);
      const save = this.w;
      this.w = GROUND_TILE;
      this.drawGround(t, 0, true);
      this.w = save;
      this.groundTile = t;
    }
    const t = this.groundTile;
    const off = ((s % GROUND_TILE) + GROUND_TILE) % GROUND_TILE;
    for (let y = this.back; y < this.h; y++) {
      const row = y * GROUND_TILE, dst = y * this.w;
      let x = 0, from = off;
      while (x < this.w) {
        const n = Math.min(this.w - x, GROUND_TILE - from);
        buf.px.set(t.px.subarray(row + from, row + from + n), dst + x);
        x += n;
        from = 0;
      }
    }
    this.drawForeground(buf, s);
    this.cutCard(buf);
  }

  // Dark bushes along the bottom edge, in front of everything.
  drawForeground(b, scroll) {
    const room = this.h - this.gy;
    if (room < 16) return;
    const s = Math.round(scroll * 1.4);
    const step = 26;
    for (let k = Math.floor((s - 20) / step); k <= Math.ceil((s + this.w + 20) / step); k++) {
      if (hash(k, 61) < 0.55) continue;
      const x = Math.round(k * step + hash(k, 62) * 12 - s);
      if (!this.walk && Math.abs(x - this.w / 2) < this.w * 0.3) continue;
      const r = 4 + Math.floor(hash(k, 63) * 4);
      b.oval(x, this.h - 1, r + 2, r, C.shadow);
      b.oval(x - 2, this.h - 2, r, r - 1, C.hillNear);
      b.dot(x - 3, this.h - r - 1, C.grass0, 16);
    }
  }

  // Transparent corners and a dark rim around the card.
  cutCard(b) {
    const W = this.w, H = this.h;
    for (let y = 0; y < H; y++) {
      const i = this.cardInset(y);
      for (let x = 0; x < i; x++) { b.px[y * W + x] = 0; b.px[y * W + W - 1 - x] = 0; }
      b.px[y * W + i] = OUTLINE;
      b.px[y * W + W - 1 - i] = OUTLINE;
      if (y === 0 || y === H - 1) for (let x = i; x < W - i; x++) b.px[y * W + x] = OUTLINE;
      else if (y < 4 || H - 1 - y < 4) {
        // The steps of the corner.
        const j = this.cardInset(y < 4 ? y - 1 : y + 1);
        for (let x = i; x <= j; x++) { b.px[y * W + x] = OUTLINE; b.px[y * W + W - 1 - x] = OUTLINE; }
      }
    }
  }

  drawCampProps(b) {
    // A trodden clearing around the fire.
    const cx = this.fireX, cy = this.gy + 2;
    const rx = this.strip ? 40 : Math.min(70, this.w * 0.25), ry = Math.max(3, Math.min(10, (this.h - this.gy) * 0.2));
    for (let y = this.gy + 1; y < this.h - 1; y++)
      for (let x = Math.max(1, Math.floor(cx - rx)); x < Math.min(this.w - 1, cx + rx); x++) {
        const d = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2;
        if (d < 1 && dithered(x, y, d < 0.6 ? 16 : 8)) b.px[y * this.w + x] = C.dirt1;
      }
    // Tents behind the party.
    const t = tent();
    const xs = this.strip ? [this.fireX - 30] : [this.fireX - 52, this.fireX + 40];
    for (const x of xs) b.sprite(t, x - t.w / 2 + (this.strip ? -8 : 0), this.gy - t.h + 1 - (this.strip ? 0 : 5));
    // Stones around the fire pit.
    for (let i = -2; i <= 2; i++) {
      const x = this.fireX + i * 4;
      b.oval(x, this.gy + 1, 2, 1, C.stone);
      b.set(x, this.gy, C.stoneLit);
    }
    // Wood stacked for the night.
    const wx = this.strip ? this.fireX - 52 : this.fireX + 62;
    if (wx > 8 && wx < this.w - 12) {
      for (let j = 0; j < 3; j++) {
        const y = this.gy - j * 2, x0 = wx - 5 + j;
        b.fill(x0 - 1, y - 2, 10 - j * 2 + 2, 3, OUTLINE);
        b.fill(x0, y - 1, 10 - j * 2, 1, C.log);
        b.set(x0 + 10 - j * 2 - 1, y - 1, C.logLit);
      }
    }
  }

  drawSkyGlow(buf, lv) {
    // Loud music warms the sky behind the mountains.
    if (lv < 0.15) return;
    const rows = Math.round(4 + lv * (this.back - this.horizon) * 0.9);
    const W = this.w;
    for (let k = 0; k < rows; k++) {
      const y = this.back - 1 - k;
      if (y < 1) break;
      const level = Math.round((1 - k / rows) * 9 * lv) + 1;
      for (let x = 2; x < W - 2; x++) {
        const i = y * W + x;
        const c = buf.px[i];
        if ((c === C.night3 || c === C.dusk || c === C.night2) && dithered(x, y, level)) buf.px[i] = k < rows * 0.35 && lv > 0.5 ? C.glow : C.dusk;
      }
    }
  }

  fireHeight(asleep) {
    if (asleep) return 0;
    const lv = this.level.lv;
    return Math.round(5 + lv[3] * 9 + lv[0] * 6 + [0, 1, 3][this.cfg.intensity]);
  }

  drawFireLight(buf, power, asleep) {
    const cx = this.fireX, cy = this.gy;
    const R = asleep ? 16 : 24 + power * 26;
    const x0 = Math.max(1, Math.floor(cx - R)), x1 = Math.min(this.w - 2, Math.ceil(cx + R));
    const y0 = Math.max(1, Math.floor(cy - R * 0.4)), y1 = this.h - 2;
    for (let y = y0; y <= y1; y++) {
      const dy = (y - cy) * 2.4;
      for (let x = x0; x <= x1; x++) {
        const d = Math.hypot(x - cx, dy) / R;
        if (d >= 1) continue;
        const i = y * this.w + x;
        const c = buf.px[i];
        if (c === C.grass0 || c === C.grass1 || c === C.dirt0 || c === C.dirt1 || c === C.shadow) {
          if (d < 0.4 && dithered(x, y, asleep ? 6 : 12)) buf.px[i] = C.grassLit2;
          else if (d < 0.7 && dithered(x, y, asleep ? 4 : 12)) buf.px[i] = C.grassLit;
          else if (dithered(x, y, asleep ? 1 : 5)) buf.px[i] = C.grassLit;
        }
      }
    }
  }

  drawFire(buf, now, asleep) {
    const x = this.fireX, gy = this.gy;
    // Logs.
    buf.line(x - 6, gy, x + 5, gy - 2, OUTLINE);
    buf.line(x - 5, gy - 1, x + 4, gy - 2, C.log);
    buf.line(x - 5, gy - 2, x + 6, gy, OUTLINE);
    buf.line(x - 4, gy - 2, x + 5, gy - 1, asleep ? C.log : C.logLit);
    const step = Math.floor(now * (asleep ? 2 : 12));
    if (asleep) {
      // Embers only.
      for (let i = 0; i < 5; i++) buf.set(x - 3 + i * 1.5, gy - 1 - (i % 2), hash(step, i) < 0.5 ? C.ember : C.fire0);
      return;
    }
    const h = this.fireHeight(false);
    const tongues = 3 + this.cfg.intensity;
    for (let k = 0; k < tongues; k++) {
      const off = (k - (tongues - 1) / 2) * 2.5;
      const th = Math.max(3, Math.round(h * (0.55 + 0.45 * hash(step, k) ) * (k === Math.floor(tongues / 2) ? 1 : 0.8)));
      const bw = 3 + (k % 2);
      const sway = Math.round((hash(step, k, 3) - 0.5) * 2);
      for (let j = 0; j < th; j++) {
        const t = j / th;
        const half = Math.max(0, Math.round(bw * Math.pow(1 - t, 0.8)));
        const cx = Math.round(x + off + sway * t);
        const y = gy - 2 - j;
        buf.line(cx - half, y, cx + half, y, t > 0.7 ? C.fire0 : C.fire1);
        if (half > 1) buf.line(cx - half + 1, y, cx + half - 1, y, t > 0.55 ? C.fire1 : C.fire2);
        if (t < 0.3 && half > 2) buf.line(cx - 1, y, cx + 1, y, C.fire3);
      }
      buf.set(x + off + sway, gy - 2 - th - 1, C.fire0);
    }
  }

  drawWarrior(buf, w, now, asleep) {
    const pose = this.warriorPose(w, now, asleep);
    const s = w.sprites[pose];
    let x = w.x + this.dash(w, now);
    let y = this.gy - s.bottom;
    if (!asleep && pose === 'stand' && !this.walk && this.beatPhase() >= 0.5) y += 0; // held on the beat
    if (!asleep && pose === 'stand' && this.beatPhase() < 0.12) y += 1;
    if (now < w.flinch) x -= w.facing;
    const flip = w.facing < 0;
    const x0 = x - Math.floor(s.w / 2);
    const kind = WARRIOR_KINDS[w.kind];
    const hand = HANDS[pose];
    const hx = x0 + (flip ? s.w - 2 - hand.x : hand.x + 1), hy = y + hand.y + 1;
    const behind = kind.weapon === 'staff';
    if (behind) this.drawWeapon(buf, kind.weapon, hx, hy, hand.a, flip, pose);
    buf.sprite(s, x0, y, flip);
    if (!behind) this.drawWeapon(buf, kind.weapon, hx, hy, hand.a, flip, pose);
  }

  drawWeapon(buf, weapon, hx, hy, angle, flip, pose) {
    if (pose === 'sleep') {
      // Laid down beside the sleeper.
      buf.line(hx - 1, hy + 1, hx + 4, hy + 1, OUTLINE);
      buf.line(hx, hy, hx + 3, hy, weapon === 'staff' || weapon === 'bow' ? C.log : C.steel);
      return;
    }
    let a = (angle * Math.PI) / 180;
    if (flip) a = Math.PI - a;
    const seg = (len, c, from = 0) => {
      const x0 = hx + Math.cos(a) * from, y0 = hy + Math.sin(a) * from;
      const x1 = hx + Math.cos(a) * len, y1 = hy + Math.sin(a) * len;
      buf.line(x0 + 1, y0, x1 + 1, y1, OUTLINE);
      buf.line(x0 - 1, y0, x1 - 1, y1, OUTLINE);
      buf.line(x0, y0 + 1, x1, y1 + 1, OUTLINE);
      buf.line(x0, y0 - 1, x1, y1 - 1, OUTLINE);
      buf.line(x0, y0, x1, y1, c);
      return { x: x1, y: y1 };
    };
    if (weapon === 'sword') {
      seg(8, C.steel, 1);
      buf.line(hx + Math.cos(a) * 2, hy + Math.sin(a) * 2, hx + Math.cos(a) * 6, hy + Math.sin(a) * 6, C.white);
      const px = Math.cos(a + Math.PI / 2), py = Math.sin(a + Math.PI / 2);
      buf.line(hx + px * 1.5 + Math.cos(a), hy + py * 1.5 + Math.sin(a), hx - px * 1.5 + Math.cos(a), hy - py * 1.5 + Math.sin(a), C.gold);
    } else if (weapon === 'axe') {
      const e = seg(8, C.log, 0);
      // A crescent blade on the side the swing leads with.
      const nx = Math.cos(a + (flip ? -1 : 1) * Math.PI / 2), ny = Math.sin(a + (flip ? -1 : 1) * Math.PI / 2);
      const bx = e.x - Math.cos(a) * 1.5, by = e.y - Math.sin(a) * 1.5;
      buf.disc(bx + nx * 2, by + ny * 2, 2.6, OUTLINE);
      buf.disc(bx + nx * 2, by + ny * 2, 1.6, C.steel);
      buf.set(bx + nx * 3.5, by + ny * 3.5, C.white);
      buf.line(e.x, e.y, bx, by, C.log);
    } else if (weapon === 'staff') {
      const up = pose === 'windup' ? -12 : -10;
      buf.line(hx + 1, hy + 3, hx + 1, hy + up, OUTLINE);
      buf.line(hx - 1, hy + 3, hx - 1, hy + up, OUTLINE);
      buf.line(hx, hy + 3, hx, hy + up, C.log);
      buf.disc(hx, hy + up - 1, 1.5, OUTLINE);
      buf.set(hx, hy + up - 1, C.cyan);
      buf.set(hx, hy + up - 2, C.white);
      if (pose === 'windup') buf.ring(hx, hy + up - 1, 3, C.violet, 8);
    } else if (weapon === 'bow') {
      const d = flip ? -1 : 1;
      const bx = hx + d * (pose === 'strike' ? 2 : 1);
      for (let j = -5; j <= 5; j++) {
        const bend = Math.round(Math.cos((j / 5) * (Math.PI / 2)) * 2);
        buf.set(bx + d * bend, hy + j, C.log);
        buf.set(bx + d * (bend + 1), hy + j, OUTLINE);
      }
      buf.line(bx, hy - 5, bx, hy + 5, C.steel);
      if (pose === 'windup') buf.line(bx - d * 2, hy, bx + d * 4, hy, C.paleYellow);
    }
  }

  familiarFrame(f, now, asleep) {
    const d = f.def;
    if (asleep) return { frame: d.has.sleep2 && Math.floor(now / BREATH_S) % 2 ? 'sleep2' : 'sleep', dx: 0, dy: 0 };
    const a = f.action;
    if (a) {
      const p = Math.min(0.999, (now - a.start) / (a.end - a.start));
      const pose = a.move.pose ? a.move.pose(p, a.fx) : { frame: 'attack', dx: 0, dy: 0 };
      return { frame: pose.frame, dx: Math.round(pose.dx || 0), dy: Math.round(pose.dy || 0), flip: pose.flip };
    }
    const beat = this.beat;
    if (this.walk && this.pace > 1) {
      const stepA = d.has.walk1 ? 'walk1' : 'run1', stepB = d.has.walk2 ? 'walk2' : 'run2';
      return { frame: (beat * 2) % 2 < 1 ? stepA : stepB, dx: 0, dy: 0 };
    }
    return { frame: beat % 2 < 1 ? 'idle' : 'idle2', dx: 0, dy: 0 };
  }

  drawFamiliar(buf, f, now, asleep) {
    const fr = this.familiarFrame(f, now, asleep);
    const s = f.def.frames[fr.frame] || f.def.frames.idle;
    const idle = f.def.frames.idle;
    let x = f.x + fr.dx - Math.floor(s.w / 2);
    if (now < f.flinch) x -= f.facing;
    // Stand every frame on the ground line, except the leap which keeps its height.
    const y = this.gy - (fr.frame === 'leap' ? idle.bottom : s.bottom) + fr.dy;
    // During a move the familiar faces where the move goes.
    const facing = f.action ? f.action.fx.dir : f.facing;
    const flip = fr.flip ? facing > 0 : facing < 0;
    buf.sprite(s, x, y, flip);
  }

  drawMonster(buf, m, now, asleep) {
    const def = m.def;
    const fi = asleep ? 0 : Math.floor(m.phase) % def.frames.length;
    const s = def.frames[fi];
    let x = Math.round(m.x - s.w / 2);
    let y = Math.round(m.y - s.bottom);
    if (def.fly && !asleep) y += Math.round(Math.sin(m.phase * 1.5) * 2);
    if (def.fly && asleep) y = this.gy - s.bottom;
    const lunge = now - m.lunge;
    if (!asleep && lunge < 0.2) x += m.dir * Math.round(4 * Math.sin((lunge / 0.2) * Math.PI));
    if (m.hp <= 0) {
      const p = (now - m.diedAt) / 0.45;
      if (p < 0.35) buf.sprite(s, x, y, m.dir > 0, C.white);
      const cx = x + s.w / 2, cy = y + s.h / 2;
      buf.disc(cx, cy, 2 + p * 8, C.stoneLit, Math.round(12 * (1 - p)));
      buf.ring(cx, cy, 3 + p * 9, C.white, Math.round(16 * (1 - p)));
      for (let k = 0; k < 4; k++) buf.set(cx + Math.cos(k * 1.57 + 0.7) * (4 + p * 10), cy + Math.sin(k * 1.57 + 0.7) * (4 + p * 10), C.gold);
      return;
    }
    buf.sprite(s, x, y, m.dir > 0, now < m.hurtUntil ? C.white : 0);
    if (def.boss && !asleep) {
      // The boss's health as a thin bar above it.
      const bw = s.w - 6, full = def.hp + 2;
      buf.fill(x + 3, y - 3, bw, 2, OUTLINE);
      buf.fill(x + 3, y - 3, Math.max(1, Math.round((bw * Math.min(m.hp, full)) / full)), 1, C.red);
    }
  }

  drawParticles(buf, now) {
    for (const p of this.particles) {
      const age = now - p.born, life = age / p.life;
      switch (p.kind) {
        case 'ember':
          buf.set(p.x + Math.sin(age * 5 + p.born) * 1.5, p.y, life < 0.4 ? C.fire2 : life < 0.75 ? C.fire1 : C.ember);
          break;
        case 'spark':
          buf.set(p.x, p.y, life < 0.5 ? C.white : C.yellow);
          buf.set(p.x - p.vx / 60, p.y - p.vy / 60, C.fire2);
          break;
        case 'arrow': {
          const d = Math.hypot(p.vx, p.vy) || 1, ux = p.vx / d, uy = p.vy / d;
          buf.line(p.x - ux * 6, p.y - uy * 6, p.x, p.y, C.log);
          buf.set(p.x, p.y, C.steel);
          buf.set(p.x - ux * 6, p.y - uy * 6 - 1, C.white);
          break;
        }
        case 'bolt':
          buf.disc(p.x, p.y, 2.5, C.violet, 8);
          buf.disc(p.x, p.y, 1.5, C.violet);
          buf.set(p.x, p.y, C.white);
          buf.set(p.x - p.vx / 50, p.y - p.vy / 50, C.cyan);
          break;
        case 'swoosh': {
          for (let k = -3; k <= 3; k++) buf.set(p.x + p.dir * (3 - Math.abs(k)) * 0.7, p.y + k, k % 2 ? C.white : C.paleYellow);
          break;
        }
        case 'impact': {
          const r = 2 + life * (p.big ? 6 : 4);
          for (let k = 0; k < 8; k++) {
            const a = (k / 8) * Math.PI * 2;
            buf.line(p.x + Math.cos(a) * r, p.y + Math.sin(a) * r, p.x + Math.cos(a) * (r + 2), p.y + Math.sin(a) * (r + 2), k % 2 ? C.white : C.paleYellow);
          }
          if (life < 0.4) buf.disc(p.x, p.y, p.big ? 2 : 1, C.white);
          break;
        }
      }
    }
  }

  // Z's drifting up from every sleeper, one about every second each.
  drawSleepers(buf, now) {
    // Deep asleep the Z's rise a step a second, more slowly and for longer.
    const slow = this.slow();
    const step = slow ? this.slowStep() : 0;
    const t = slow ? Math.floor(now / step) * step : now;
    const life = slow ? Z_LIFE * 2 : Z_LIFE;
    const sleepers = this.chars.concat(this.monsters.filter((m) => m.def.boss && m.hp > 0));
    sleepers.forEach((c, i) => {
      const big = Boolean(c.def && c.def.frames && !c.def.boss);
      const period = (slow ? 2 : 1) * (Z_PERIOD + (i % 3) * 0.2);
      const off = hash(i, 3) * period;
      for (let k = 0; k < 2; k++) {
        const age = ((t + off) % period) + k * period;
        if (age > life) continue;
        const q = age / life;
        const topY = c.def && c.def.frames && c.def.frames.sleep ? this.gy - (c.def.frames.sleep.bottom - c.def.frames.sleep.top) : this.gy - 8;
        const x = Math.round((c.x !== undefined ? c.x : 0) + 3 + q * 6 + Math.sin(q * 6) * 1.5);
        const y = Math.round(topY - 4 - q * 16);
        const level = q > 0.7 ? 8 : 16;
        if (big) this.zBig(buf, x, y - 4, level);
        else this.zSmall(buf, x, y, level);
      }
    });
  }

  zSmall(buf, x, y, level) {
    const c = C.ice;
    for (let i = 0; i < 4; i++) { buf.dot(x + i, y, c, level); buf.dot(x + i, y + 3, c, level); }
    buf.dot(x + 2, y + 1, c, level);
    buf.dot(x + 1, y + 2, c, level);
  }

  zBig(buf, x, y, level) {
    if (level < 16) {
      drawText(buf, 'Z', x, y, C.starDim);
      return;
    }
    drawText(buf, 'Z', x + 1, y + 1, OUTLINE);
    drawText(buf, 'Z', x, y, C.white);
  }

  drawBubbles(buf, now) {
    const placed = [];
    const order = this.bubbles.slice().sort((a, b) => a.owner.x - b.owner.x);
    for (const b of order) {
      const f = b.owner;
      const text = b.text;
      const tw = textWidth(text);
      const bw = tw + 6, bh = 11;
      const top = this.gy - (f.def.frames.idle.bottom - f.def.frames.idle.top) - bh - 6;
      let x = Math.round(f.x - bw / 2);
      x = Math.max(5, Math.min(this.w - bw - 5, x));
      let y = Math.max(5, top);
      // Bubbles that would overlap stack upward.
      while (placed.some((p) => x < p.x + p.w + 1 && p.x < x + bw + 1 && y < p.y + p.h + 2 && p.y < y + bh + 2) && y > 5) y -= bh + 2;
      placed.push({ x, y, w: bw, h: bh });
      // Rounded box, dark rim, tail of two pixels toward the speaker.
      buf.fill(x + 1, y, bw - 2, bh, OUTLINE);
      buf.fill(x, y + 1, bw, bh - 2, OUTLINE);
      buf.fill(x + 1, y + 1, bw - 2, bh - 2, C.white);
      const tx = Math.max(x + 2, Math.min(x + bw - 3, f.x));
      buf.set(tx, y + bh - 1, C.white);
      buf.set(tx - 1, y + bh - 1, C.white);
      buf.set(tx, y + bh, C.white);
      buf.set(tx - 1, y + bh, OUTLINE);
      buf.set(tx + 1, y + bh, OUTLINE);
      buf.set(tx + 1, y + bh - 1, OUTLINE);
      buf.set(tx - 2, y + bh - 1, OUTLINE);
      buf.set(tx, y + bh + 1, OUTLINE);
      drawText(buf, text, x + 3, y + 2, OUTLINE);
      // Fade out over the last moment by dithering the letters.
      if (b.until - now < 0.12) buf.fill(x + 1, y + 1, bw - 2, bh - 2, C.white, 8);
    }
  }

  // Everything that moves on screen right now (used to skip redraws).
  moving() {
    return !this.sleep.asleep(this.now) || this.effects.length > 0 || this.particles.length > 0;
  }

  summary() {
    return {
      warriors: this.warriors.length,
      warriorKinds: this.warriors.map((w) => w.kind),
      monsters: this.monsters.filter((m) => m.hp > 0).length,
      familiars: this.familiars.map((f) => f.def.name),
      scene: this.cfg.scene,
      layout: this.cfg.layout,
      asleep: this.sleep.asleep(this.now),
      canvas: { w: this.w, h: this.h },
    };
  }
}
