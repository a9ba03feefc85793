// Drawing the cast: warriors with their weapons, familiars, monsters,
// missiles and sparks, the sleepers' Z's and the speech bubbles. The methods
// are the Scene's own (scene.js installs them) and read its state.
import { OUTLINE, hash } from './pixels.js';
import { C } from './palette.js';
import { drawText, textWidth } from './font.js';
import { WARRIOR_KINDS, HANDS } from './sprites.js';

export const BREATH_S = 2; // one breath in, one out, while asleep
const Z_PERIOD = 1.3;
const Z_LIFE = 2.6;

export const castDrawing = {
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
  },

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
  },

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
  },

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
  },

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
  },

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
  },

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
  },

  zSmall(buf, x, y, level) {
    const c = C.ice;
    for (let i = 0; i < 4; i++) { buf.dot(x + i, y, c, level); buf.dot(x + i, y + 3, c, level); }
    buf.dot(x + 2, y + 1, c, level);
    buf.dot(x + 1, y + 2, c, level);
  },

  zBig(buf, x, y, level) {
    if (level < 16) {
      drawText(buf, 'Z', x, y, C.starDim);
      return;
    }
    drawText(buf, 'Z', x + 1, y + 1, OUTLINE);
    drawText(buf, 'Z', x, y, C.white);
  },

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
  },
};
