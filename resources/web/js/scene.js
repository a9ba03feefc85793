// The scene: a party of warriors and familiars camping by a fire or walking a
// road at night, fighting the monsters the music sends. This file keeps the
// state and simulates the cast: placing, spawning, moving, hurting and acting
// on the music's events, advanced with `update(now)`. Drawing it into a
// PixelBuffer with `draw` lives in world-drawing.js (the world and the frame)
// and cast-drawing.js (everyone on stage).
import { PixelBuffer, rng } from './pixels.js';
import { warriorSprites, WARRIOR_ORDER, HANDS, monsterDef } from './sprites.js';
import { moveById, strongestMove } from './effects.js';
import { worldDrawing } from './world-drawing.js';
import { castDrawing } from './cast-drawing.js';
import { bannerDrawing } from './banner.js';
import {
  DEFAULT_CONFIG, warriorCount, monsterPlan, planActions, SleepClock, beatBpm, walkSpeed, FAMILIAR_COOLDOWN,
} from './rules.js';

const ACTION_DUR = { heavy: 0.38, swing: 0.3, spell: 0.42, arrow: 0.32 };
const BUBBLE_S = 1.1;
// How often the sleeping scene changes once the page has slowed down: every
// second at first, every two seconds in deep sleep.
const SLOW_STEP_S = 1;
const DEEP_STEP_S = 2;
const DEEP_AFTER_S = 15;

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
    this.song = null; // the song banner, see banner.js
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

  // A song banner moves, so the page keeps its frame rate while it shows.
  slow() {
    return this.sleep.slow(this.now) && !this.songShown();
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

  // Everything that moves on screen right now (used to skip redraws).
  moving() {
    return !this.sleep.asleep(this.now) || this.effects.length > 0 || this.particles.length > 0 || !!this.songShown();
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

Object.assign(Scene.prototype, worldDrawing, castDrawing, bannerDrawing);
