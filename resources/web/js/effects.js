// The 24 moves a familiar can perform, each drawn from its own few shapes.
// An effect is drawn from the time since it started alone (plus a seed), so it
// can be drawn at any frame in any order: the page and the move pictures use
// the same functions.
//
// fx: { t (ms since start), x, y (where it leaves the caster), tx, ty (the
// target's centre), gy (ground line), dir (+1 facing right), seed, targets
// (further target centres, for chains), w, h (scene size) }
import { C } from './palette.js';
import { hash, mix } from './pixels.js';

const ease = (p) => 1 - (1 - p) * (1 - p);
const clamp01 = (v) => (v < 0 ? 0 : v > 1 ? 1 : v);
const lerp = (a, b, t) => a + (b - a) * t;

// A jagged bolt between two points, in `parts` straight pieces.
function bolt(buf, x0, y0, x1, y1, seed, colour, parts = 6, jag = 4, core = 0) {
  let px = x0, py = y0;
  for (let i = 1; i <= parts; i++) {
    const t = i / parts;
    let nx = lerp(x0, x1, t), ny = lerp(y0, y1, t);
    if (i < parts) {
      nx += (hash(seed, i, 1) - 0.5) * jag;
      ny += (hash(seed, i, 2) - 0.5) * jag * 2;
    }
    buf.line(px, py, nx, ny, colour);
    if (core) buf.line(px, py - 1, nx, ny - 1, core);
    px = nx; py = ny;
  }
}

// A small five-pointed star, about 5 pixels across.
function star(buf, x, y, c, big = false) {
  x = Math.round(x); y = Math.round(y);
  buf.set(x, y, C.white);
  buf.set(x - 1, y, c); buf.set(x + 1, y, c); buf.set(x, y - 1, c); buf.set(x, y + 1, c);
  if (big) {
    buf.set(x - 2, y, c); buf.set(x + 2, y, c); buf.set(x, y - 2, c);
    buf.set(x - 1, y + 2, c); buf.set(x + 1, y + 2, c); buf.set(x - 1, y + 1, c); buf.set(x + 1, y + 1, c);
  }
}

// An impact burst: short rays around a point.
function burst(buf, x, y, p, c1, c2, rays = 8, len = 7, seed = 1) {
  const r0 = 1 + p * len, r1 = r0 + 2 + (1 - p) * 3;
  for (let i = 0; i < rays; i++) {
    const a = (i / rays) * Math.PI * 2 + hash(seed, i) * 0.4;
    buf.line(x + Math.cos(a) * r0, y + Math.sin(a) * r0, x + Math.cos(a) * r1, y + Math.sin(a) * r1, i % 2 ? c1 : c2);
  }
  if (p < 0.4) buf.disc(x, y, 2 - p * 4, C.white);
}

// A flame blob: outer red, orange, yellow and a pale core.
function flame(buf, x, y, r) {
  buf.disc(x, y, r, C.fire0);
  buf.disc(x, y - r * 0.2, r * 0.72, C.fire1);
  buf.disc(x, y - r * 0.3, r * 0.45, C.fire2);
  if (r > 2) buf.disc(x, y - r * 0.35, r * 0.2, C.fire3);
}

// Puffs of dust at ground level.
function dust(buf, x, y, p, seed, n = 4) {
  for (let i = 0; i < n; i++) {
    const dx = (hash(seed, i) - 0.5) * 10 + (i % 2 ? 1 : -1) * p * 6;
    buf.disc(x + dx, y - p * 4 - hash(seed, i, 3) * 2, 1.6 * (1 - p) + 0.4, C.stoneLit, Math.round(12 * (1 - p)) + 4);
  }
}

function snowflake(buf, x, y, c) {
  x = Math.round(x); y = Math.round(y);
  buf.set(x, y, C.white);
  buf.set(x - 1, y - 1, c); buf.set(x + 1, y + 1, c); buf.set(x + 1, y - 1, c); buf.set(x - 1, y + 1, c);
}

function leaf(buf, x, y, a, c) {
  x = Math.round(x); y = Math.round(y);
  buf.set(x, y, c);
  buf.set(x + (Math.cos(a) > 0 ? 1 : -1), y, c);
  buf.set(x, y + (Math.sin(a) > 0 ? 1 : -1), mix(c, C.outline, 0.3));
}

// Caster motion for moves the body performs: returns an offset and a pose.
const leapPose = (p, fx, reach) => {
  const out = p < 0.5 ? p * 2 : (1 - p) * 2;
  const dist = Math.max(0, Math.abs(fx.tx - fx.x) - 6) * reach;
  return { dx: fx.dir * dist * ease(out), dy: -Math.sin(out * Math.PI) * 10, frame: p < 0.12 ? 'crouch' : p < 0.5 ? 'leap' : p < 0.8 ? 'attack' : 'skid' };
};

export const MOVES = [
  {
    id: 'pounce', title: 'Pounce bite', category: 'Body', dur: 520, hit: 0.5, power: 2,
    pose: (p, fx) => leapPose(p, fx, 1),
    draw(buf, fx, p) {
      if (p < 0.5) {
        // Take-off dust and the arc of the jump, trailing behind the pounce.
        dust(buf, fx.x - fx.dir * 4, fx.gy - 1, Math.min(1, p * 3), fx.seed, 3);
        for (let k = 1; k <= 4; k++) {
          const q = p - k * 0.04;
          if (q < 0.06) continue;
          const pose = leapPose(q, fx, 1);
          buf.dot(fx.x + pose.dx - fx.dir * 4, fx.y + pose.dy + 2, k < 3 ? C.paleYellow : C.white, 16 - k * 3);
        }
      }
      if (p > 0.42 && p < 0.8) {
        const q = (p - 0.42) / 0.38;
        const x = fx.tx, y = fx.ty;
        // Two jaws closing on the target, then an impact star.
        const gap = Math.round(5 * (1 - q));
        for (let i = -3; i <= 3; i++) {
          buf.set(x + i, y - 3 - gap + Math.abs(i) % 2, C.white);
          buf.set(x + i, y + 3 + gap - Math.abs(i) % 2, C.white);
        }
        if (q > 0.5) burst(buf, x, y, (q - 0.5) * 2, C.paleYellow, C.white, 8, 6, fx.seed);
      }
    },
  },
  {
    id: 'zoomies', title: 'Zoomies', category: 'Body', dur: 640, hit: 0.45, power: 1,
    pose: (p, fx) => {
      const span = Math.max(12, Math.abs(fx.tx - fx.x));
      const s = Math.sin(p * Math.PI * 3);
      return { dx: fx.dir * (span * 0.5 + s * span * 0.5) * Math.sin(p * Math.PI), dy: 0, frame: p * 12 % 2 < 1 ? 'run1' : 'run2', flip: Math.cos(p * Math.PI * 3) < 0 };
    },
    draw(buf, fx, p) {
      const span = Math.max(12, Math.abs(fx.tx - fx.x));
      const pos = fx.x + fx.dir * (span * 0.5 + Math.sin(p * Math.PI * 3) * span * 0.5) * Math.sin(p * Math.PI);
      // Speed lines trailing behind, and kicked-up dust.
      for (let i = 0; i < 5; i++) {
        const y = fx.gy - 3 - i * 2 - (i % 2);
        const len = 4 + ((i * 3) % 5);
        const back = Math.cos(p * Math.PI * 3) * fx.dir > 0 ? -1 : 1;
        buf.line(pos + back * 6, y, pos + back * (6 + len), y, i % 2 ? C.white : C.paleYellow);
      }
      dust(buf, pos, fx.gy - 1, (p * 3) % 1, fx.seed + Math.floor(p * 3));
    },
  },
  {
    id: 'blast', title: 'Blast (a big sound)', category: 'Body', dur: 520, hit: 0.4, power: 3,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.8 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      // Three sound arcs travelling out of the mouth, growing as they go.
      for (let k = 0; k < 3; k++) {
        const q = p * 1.4 - k * 0.18;
        if (q < 0 || q > 1) continue;
        const r = 3 + q * Math.max(20, Math.abs(fx.tx - fx.x));
        const span = 0.5 + q * 0.3;
        const c = k === 1 ? C.paleYellow : C.white;
        for (let a = -span; a <= span; a += 0.06) {
          const x = fx.x + fx.dir * Math.cos(a) * r, y = fx.y + Math.sin(a) * r * 0.8;
          buf.dot(x, y, c, q > 0.75 ? 8 : 16);
        }
      }
      if (p < 0.25) buf.ring(fx.x + fx.dir * 2, fx.y, 2 + p * 12, C.white);
    },
  },
  {
    id: 'fire', title: 'Spit fire', category: 'Fire', dur: 460, hit: 0.62, power: 2,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.35 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const q = clamp01(p / 0.62);
      if (p < 0.62) {
        const x = lerp(fx.x, fx.tx, q), y = lerp(fx.y, fx.ty, q) - Math.sin(q * Math.PI) * 6;
        for (let i = 1; i <= 4; i++) {
          const tq = clamp01(q - i * 0.06);
          const bx = lerp(fx.x, fx.tx, tq), by = lerp(fx.y, fx.ty, tq) - Math.sin(tq * Math.PI) * 6;
          buf.disc(bx, by, 2.2 - i * 0.45, i < 2 ? C.fire1 : C.fire0, 16 - i * 3);
        }
        flame(buf, x, y, 3.2);
      } else {
        const b = (p - 0.62) / 0.38;
        flame(buf, fx.tx, fx.ty, 5 * (1 - b) + 1);
        burst(buf, fx.tx, fx.ty, b, C.fire2, C.fire1, 10, 8, fx.seed);
      }
    },
  },
  {
    id: 'firebreath', title: 'Fire Breath', category: 'Fire', dur: 640, hit: 0.4, power: 3,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.85 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      // A cone of flame puffs pouring from the mouth toward the target.
      const reach = Math.max(18, Math.abs(fx.tx - fx.x) + 6);
      const n = 22;
      for (let i = 0; i < n; i++) {
        const born = (i / n) * 0.7;
        const q = (p - born) / 0.35;
        if (q < 0 || q > 1) continue;
        const spread = (hash(fx.seed, i) - 0.5) * 0.9 * q;
        const d = q * reach;
        const x = fx.x + fx.dir * d, y = lerp(fx.y, fx.ty, q) + spread * d * 0.5 - q * 2;
        const r = 1 + q * 2.6;
        if (q < 0.35) flame(buf, x, y, r * 0.9);
        else if (q < 0.75) { buf.disc(x, y, r, C.fire1); buf.disc(x, y, r * 0.5, C.fire2); }
        else buf.disc(x, y, r, C.fire0, Math.round(16 * (1 - q) + 6));
      }
    },
  },
  {
    id: 'firetornado', title: 'Fire Tornado', category: 'Fire', dur: 860, hit: 0.5, power: 4,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.3 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const grow = clamp01(p * 3), fade = clamp01((1 - p) * 4);
      const height = 34 * grow;
      const baseX = lerp(fx.x + fx.dir * 10, fx.tx, clamp01(p * 2));
      const rows = Math.round(height / 2);
      for (let i = 0; i < rows; i++) {
        const y = fx.gy - i * 2;
        const r = (2 + i * 0.45) * fade;
        const spin = p * 26 + i * 0.7;
        const cx = baseX + Math.sin(spin * 0.5 + i * 0.3) * 2;
        const c = i < rows * 0.3 ? C.fire2 : i < rows * 0.7 ? C.fire1 : C.fire0;
        buf.line(cx - r, y, cx + r, y, c, 16);
        buf.set(cx + Math.cos(spin) * r, y - 1, C.fire3);
        buf.set(cx - Math.cos(spin) * r, y - 1, C.ember);
      }
      for (let k = 0; k < 6; k++) {
        const a = p * 14 + k;
        buf.set(baseX + Math.cos(a) * (6 + k), fx.gy - 6 - k * 4 - p * 10, k % 2 ? C.fire2 : C.ember);
      }
    },
  },
  {
    id: 'flamepillar', title: 'Flame Pillar', category: 'Fire', dur: 640, hit: 0.3, power: 4,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.3 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const rise = clamp01(p * 4), fall = clamp01((1 - p) * 3.5);
      const top = fx.gy - 48 * rise;
      const half = 5 * fall;
      if (p < 0.15) { buf.oval(fx.tx, fx.gy, 6, 1.5, C.fire1); return; }
      for (let y = Math.round(top); y < fx.gy; y++) {
        const wob = Math.round(Math.sin(y * 0.6 + p * 30) * 1.2);
        const w = half + (y > fx.gy - 6 ? 2 : 0);
        buf.line(fx.tx - w + wob, y, fx.tx + w + wob, y, C.fire0);
        buf.line(fx.tx - w * 0.6 + wob, y, fx.tx + w * 0.6 + wob, y, C.fire1);
        buf.line(fx.tx - w * 0.25, y, fx.tx + w * 0.25, y, y % 3 ? C.fire2 : C.fire3);
      }
      for (let k = 0; k < 5; k++) buf.set(fx.tx + (hash(fx.seed, k) - 0.5) * 14, top - ((p * 40 + k * 7) % 14), C.fire2);
    },
  },
  {
    id: 'meteorhowl', title: 'Meteor Howl', category: 'Fire', dur: 880, hit: 0.55, power: 5,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.5 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      if (p < 0.25) {
        // The howl: rings rising from the caster.
        buf.ring(fx.x, fx.y - 4, 2 + p * 24, C.fire2, 10);
      }
      for (let k = 0; k < 3; k++) {
        const start = 0.1 + k * 0.15;
        const q = (p - start) / 0.4;
        if (q < 0) continue;
        const tx = fx.tx + (k - 1) * 9, ty = fx.gy - 2;
        const sx = tx - fx.dir * 40, sy = Math.min(2, fx.gy - 60);
        if (q < 1) {
          const x = lerp(sx, tx, q), y = lerp(sy, ty, q);
          for (let i = 1; i < 6; i++) buf.disc(x - fx.dir * i * 2.5 * -1 * -1 - (tx - sx) / 40 * i * 2.5, y - (ty - sy) / 40 * i * 2.5, 2.5 - i * 0.4, i < 3 ? C.fire1 : C.fire0, 16 - i * 2);
          buf.disc(x, y, 3, C.earthDark);
          buf.disc(x - 1, y - 1, 1.5, C.fire2);
        } else if (q < 1.8) {
          const b = (q - 1) / 0.8;
          flame(buf, tx, ty - 2, 6 * (1 - b) + 1);
          burst(buf, tx, ty - 2, b, C.fire2, C.fire0, 10, 9, fx.seed + k);
          buf.line(tx - 6, ty + 1, tx + 6, ty + 1, C.earthDark);
        }
      }
    },
  },
  {
    id: 'tornado', title: 'Tornado', category: 'Wind and nature', dur: 860, hit: 0.6, power: 3,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.3 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const x0 = lerp(fx.x + fx.dir * 6, fx.tx, ease(clamp01(p * 1.4)));
      const fade = clamp01((1 - p) * 5);
      for (let i = 0; i < 14; i++) {
        const y = fx.gy - 2 - i * 2;
        const r = (1.5 + i * 0.55) * fade;
        const cx = x0 + Math.sin(p * 20 + i * 0.5) * (1 + i * 0.12);
        const ph = p * 40 + i;
        buf.line(cx - r, y, cx + r, y, i % 3 === 0 ? C.green : mix(C.green, C.white, 0.45), 12);
        buf.set(cx + Math.cos(ph) * r, y, C.white);
      }
      for (let k = 0; k < 5; k++) {
        const a = p * 18 + k * 1.3;
        leaf(buf, x0 + Math.cos(a) * (5 + k * 1.5), fx.gy - 8 - k * 5, a, k % 2 ? C.leaf : C.leafBrown);
      }
      dust(buf, x0, fx.gy - 1, (p * 4) % 1, fx.seed + Math.floor(p * 4), 3);
    },
  },
  {
    id: 'leafstorm', title: 'Leaf Storm', category: 'Wind and nature', dur: 720, hit: 0.55, power: 3,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.7 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      for (let i = 0; i < 26; i++) {
        const born = hash(fx.seed, i) * 0.45;
        const q = (p - born) / 0.5;
        if (q < 0 || q > 1) continue;
        const wave = Math.sin(q * Math.PI * 2 + i) * (4 + (i % 4) * 2);
        const x = lerp(fx.x, fx.tx + (hash(fx.seed, i, 2) - 0.5) * 12, q);
        const y = lerp(fx.y, fx.ty, q) + wave;
        const c = i % 3 === 0 ? C.leafBrown : i % 3 === 1 ? C.leaf : C.green;
        leaf(buf, x, y, q * 9 + i, c);
      }
    },
  },
  {
    id: 'vinewhip', title: 'Vine Whip (tail)', category: 'Wind and nature', dur: 480, hit: 0.55, power: 2,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.6 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const ext = p < 0.55 ? ease(p / 0.55) : 1 - (p - 0.55) / 0.45;
      const sx = fx.x - fx.dir * 8, sy = fx.y + 2;
      const ex = lerp(sx, fx.tx, ext), ey = lerp(sy, fx.ty, ext);
      let px = sx, py = sy;
      const n = 12;
      for (let i = 1; i <= n; i++) {
        const t = i / n;
        const x = lerp(sx, ex, t), y = lerp(sy, ey, t) - Math.sin(t * Math.PI) * 14 * (1 - ext * 0.5);
        buf.line(px, py, x, y, C.leaf);
        buf.set(x, y - 1, C.green);
        if (i % 3 === 0) { buf.set(x + 1, y - 2, C.green); buf.set(x + 2, y - 2, C.leaf); }
        px = x; py = y;
      }
      if (p > 0.5 && p < 0.75) burst(buf, fx.tx, fx.ty, (p - 0.5) * 4, C.green, C.white, 6, 5, fx.seed);
    },
  },
  {
    id: 'quake', title: 'Quake', category: 'Wind and nature', dur: 680, hit: 0.5, power: 4, shake: 2,
    pose: (p) => ({ dx: 0, dy: p < 0.2 ? -Math.sin(p / 0.2 * Math.PI) * 8 : 0, frame: p < 0.2 ? 'leap' : 'attack' }),
    draw(buf, fx, p) {
      if (p < 0.2) return;
      const q = (p - 0.2) / 0.8;
      const reach = Math.abs(fx.tx - fx.x) + 14;
      // Cracks running along the ground, with chunks of earth thrown up.
      for (let side = 0; side < 2; side++) {
        let x = fx.x, y = fx.gy + 1;
        const len = reach * Math.min(1, q * 2) * (side ? 0.4 : 1);
        const d = side ? -fx.dir : fx.dir;
        for (let s = 0; s < len; s += 3) {
          const nx = x + d * 3, ny = fx.gy + 1 + Math.round((hash(fx.seed, s, side) - 0.5) * 3);
          buf.line(x, y, nx, ny, C.outline);
          x = nx; y = ny;
        }
      }
      for (let k = 0; k < 7; k++) {
        const at = (k / 7) * reach;
        const kq = q * 2 - at / reach;
        if (kq < 0 || kq > 1) continue;
        const x = fx.x + fx.dir * at, y = fx.gy - Math.sin(kq * Math.PI) * (6 + (k % 3) * 3);
        buf.fill(x - 1, y - 1, 3, 2, k % 2 ? C.earth : C.earthDark);
        buf.set(x, y - 1, C.leafBrown);
      }
      dust(buf, fx.tx, fx.gy, q, fx.seed, 5);
    },
  },
  {
    id: 'earthspike', title: 'Earth Spike (dig)', category: 'Wind and nature', dur: 560, hit: 0.45, power: 3,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.3 ? 'crouch' : 'attack' }),
    draw(buf, fx, p) {
      // Digging dust at the caster, then spikes bursting up under the target.
      if (p < 0.3) dust(buf, fx.x + fx.dir * 3, fx.gy, p / 0.3, fx.seed, 4);
      for (let k = 0; k < 3; k++) {
        const start = 0.25 + k * 0.08;
        const q = (p - start) / 0.45;
        if (q < 0 || q > 1) continue;
        const hgt = Math.round((q < 0.4 ? q / 0.4 : 1 - (q - 0.4) / 0.6 * 0.6) * (14 - Math.abs(k - 1) * 4));
        const x = fx.tx + (k - 1) * 6;
        for (let j = 0; j < hgt; j++) {
          const w = Math.floor((hgt - j) / 3);
          buf.line(x - w, fx.gy - j, x + w, fx.gy - j, j % 4 === 1 ? C.leafBrown : C.earth);
          buf.set(x - w - 1, fx.gy - j, C.outline); buf.set(x + w + 1, fx.gy - j, C.outline);
        }
        buf.set(x, fx.gy - hgt, C.outline);
      }
    },
  },
  {
    id: 'frost', title: 'Frost breath', category: 'Water and ice', dur: 600, hit: 0.5, power: 2,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.75 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const reach = Math.max(16, Math.abs(fx.tx - fx.x) + 4);
      for (let i = 0; i < 18; i++) {
        const born = (i / 18) * 0.55;
        const q = (p - born) / 0.4;
        if (q < 0 || q > 1) continue;
        const x = fx.x + fx.dir * q * reach;
        const y = lerp(fx.y, fx.ty, q) + (hash(fx.seed, i) - 0.5) * q * 12;
        if (i % 3 === 0) snowflake(buf, x, y, C.cyan);
        else buf.disc(x, y, 0.8 + q * 1.2, i % 2 ? C.ice : C.cyan, 16 - Math.round(q * 6));
      }
      if (p > 0.45) {
        // Ice crystals growing on the target.
        const g = clamp01((p - 0.45) * 4);
        for (let k = 0; k < 4; k++) {
          const a = -Math.PI / 2 + (k - 1.5) * 0.6;
          buf.line(fx.tx, fx.ty + 3, fx.tx + Math.cos(a) * 6 * g, fx.ty + 3 + Math.sin(a) * 6 * g, k % 2 ? C.ice : C.white);
        }
      }
    },
  },
  {
    id: 'wavecrash', title: 'Wave Crash', category: 'Water and ice', dur: 760, hit: 0.6, power: 4,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.4 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      // A curling wave rolling along the ground from the caster to the target.
      const q = ease(clamp01(p / 0.7));
      const front = lerp(fx.x, fx.tx + fx.dir * 8, q);
      const hgt = 6 + Math.sin(clamp01(p / 0.7) * Math.PI) * 10;
      const back = fx.x;
      const fade = p > 0.8 ? Math.round(16 * (1 - p) / 0.2) : 16;
      const lo = Math.min(back, front), hi = Math.max(back, front);
      for (let x = Math.round(lo); x <= hi; x++) {
        const t = Math.abs(x - back) / Math.max(1, Math.abs(front - back));
        const hh = Math.round(hgt * Math.pow(t, 1.5)) + 1;
        buf.line(x, fx.gy, x, fx.gy - hh, t > 0.6 ? C.water : C.waterDeep, fade);
        buf.dot(x, fx.gy - hh, C.ice, fade);
        if ((x + Math.round(p * 30)) % 5 === 0) buf.dot(x, fx.gy - hh + 2, C.cyan, fade);
      }
      // The curl and its foam.
      const cx = front, cy = fx.gy - hgt;
      buf.disc(cx - fx.dir * 2, cy + 1, 2.5, C.water, fade);
      buf.ring(cx - fx.dir * 2, cy + 1, 3, C.white, fade);
      for (let k = 0; k < 5; k++) buf.dot(cx + fx.dir * (1 + k % 3), cy - 2 + k * 2 - ((p * 20 + k) % 3), C.white, fade);
    },
  },
  {
    id: 'whirlpool', title: 'Whirlpool', category: 'Water and ice', dur: 860, hit: 0.5, power: 3,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.3 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const g = clamp01(p * 3), f = clamp01((1 - p) * 4);
      const cx = fx.tx, cy = fx.gy - 1;
      // A flat spiral of water spinning under the target, spray rising.
      for (let arm = 0; arm < 3; arm++) {
        for (let s = 0; s < 40; s++) {
          const t = s / 40;
          const a = p * 14 + arm * 2.1 + t * 7;
          const r = t * 14 * g * f;
          buf.set(cx + Math.cos(a) * r, cy + Math.sin(a) * r * 0.32, t > 0.7 ? C.ice : s % 2 ? C.water : C.cyan);
        }
      }
      buf.oval(cx, cy, 2.5 * g * f, 1, C.waterDeep);
      for (let k = 0; k < 6; k++) {
        const a = p * 10 + k;
        const up = ((p * 3 + k / 6) % 1) * 16;
        buf.set(cx + Math.cos(a) * 8, cy - up, k % 2 ? C.cyan : C.white);
      }
    },
  },
  {
    id: 'blizzardvortex', title: 'Blizzard Vortex', category: 'Water and ice', dur: 900, hit: 0.5, power: 5,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.5 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const g = clamp01(p * 3), f = clamp01((1 - p) * 4);
      for (let i = 0; i < 30; i++) {
        const rr = (4 + (i % 6) * 3) * g * f + 2;
        const a = p * (12 - (i % 6)) + i * 2.4;
        const x = fx.tx + Math.cos(a) * rr * 1.3, y = fx.ty + Math.sin(a) * rr * 0.7 - (i % 5);
        if (i % 4 === 0) snowflake(buf, x, y, C.cyan);
        else buf.set(x, y, i % 2 ? C.white : C.ice);
      }
      if (p > 0.4) buf.ring(fx.tx, fx.ty, 3 + (p - 0.4) * 8, C.ice, 6);
    },
  },
  {
    id: 'iciclefall', title: 'Icicle Fall', category: 'Water and ice', dur: 640, hit: 0.5, power: 3,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.35 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      for (let k = 0; k < 4; k++) {
        const start = k * 0.1;
        const q = (p - start) / 0.35;
        if (q < 0) continue;
        const x = fx.tx + (k - 1.5) * 6 + (hash(fx.seed, k) - 0.5) * 3;
        const top = Math.min(0, fx.gy - 56);
        if (q < 1) {
          // An icicle, point down, with a dark rim so it reads against the sky.
          const y = Math.round(lerp(top, fx.gy - 4, q * q));
          for (let j = 0; j < 9; j++) {
            const w = j < 3 ? 1 : j < 6 ? 1 : 0;
            const yy = y - 9 + j;
            buf.line(x - w - 1, yy, x + w + 1, yy, C.outline);
          }
          for (let j = 0; j < 8; j++) {
            const w = j < 4 ? 1 : 0;
            buf.line(x - w, y - 9 + j, x + w, y - 9 + j, j < 2 ? C.white : j < 5 ? C.ice : C.cyan);
          }
          buf.set(x - 1, y - 8, C.white);
          buf.set(x, y, C.outline);
        } else if (q < 1.6) {
          const b = (q - 1) / 0.6;
          for (let s = 0; s < 5; s++) {
            const a = -Math.PI * (0.15 + s * 0.175);
            buf.set(x + Math.cos(a) * b * 7, fx.gy - 4 + Math.sin(a) * b * 7 + b * b * 4, s % 2 ? C.white : C.cyan);
          }
        }
      }
    },
  },
  {
    id: 'zap', title: 'Spark zap', category: 'Storm', dur: 300, hit: 0.3, power: 1,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.6 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const flick = Math.floor(p * 8);
      if (p < 0.7) bolt(buf, fx.x, fx.y, fx.tx, fx.ty, fx.seed + flick, flick % 2 ? C.yellow : C.white, 5, 4, 0);
      if (p < 0.7) bolt(buf, fx.x, fx.y, fx.tx, fx.ty, fx.seed + flick + 9, C.violet, 4, 6);
      burst(buf, fx.tx, fx.ty, p, C.yellow, C.violet, 6, 4, fx.seed);
    },
  },
  {
    id: 'chainlightning', title: 'Chain Lightning', category: 'Storm', dur: 560, hit: 0.25, power: 4,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.7 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      // The bolt jumps from the caster to the target and on to every other
      // target in turn, forking as it goes.
      const chain = [{ x: fx.x, y: fx.y }, { x: fx.tx, y: fx.ty }].concat(fx.targets || []);
      if (chain.length < 3) chain.push({ x: fx.tx + fx.dir * 14, y: fx.ty - 6 }, { x: fx.tx + fx.dir * 26, y: fx.ty + 2 });
      const hops = chain.length - 1;
      const flick = Math.floor(p * 10);
      for (let i = 0; i < hops; i++) {
        const shown = p * 1.6 * hops - i;
        if (shown < 0 || p > 0.85) continue;
        const a = chain[i], b = chain[i + 1];
        bolt(buf, a.x, a.y, b.x, b.y, fx.seed + i * 17 + flick, C.violet, 6, 7);
        bolt(buf, a.x, a.y, b.x, b.y, fx.seed + i * 31 + flick, flick % 2 ? C.yellow : C.white, 6, 4);
        // A short fork off each hop.
        const mx = (a.x + b.x) / 2, my = (a.y + b.y) / 2;
        bolt(buf, mx, my, mx + 5, my - 7, fx.seed + i + flick, C.violet, 3, 3);
        if (shown > 0.5) burst(buf, b.x, b.y, clamp01(shown - 0.5), C.yellow, C.white, 6, 4, fx.seed + i);
      }
    },
  },
  {
    id: 'thunderclap', title: 'Thunderclap', category: 'Storm', dur: 520, hit: 0.25, power: 5, flash: true,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.5 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const top = Math.max(0, fx.ty - 70);
      if (p < 0.35) {
        const flick = Math.floor(p * 12);
        bolt(buf, fx.tx + 3, top, fx.tx, fx.ty, fx.seed + flick, C.violet, 7, 9);
        bolt(buf, fx.tx + 3, top, fx.tx, fx.ty, fx.seed + flick + 5, C.white, 7, 6, C.yellow);
      }
      if (p > 0.2) {
        const q = (p - 0.2) / 0.8;
        buf.oval(fx.tx, fx.gy, 4 + q * 22, 1 + q * 3, C.yellow, Math.round(10 * (1 - q)) + 1);
        buf.ring(fx.tx, fx.ty, 3 + q * 16, C.violet, Math.round(16 * (1 - q)));
        buf.ring(fx.tx, fx.ty, 1 + q * 11, C.white, Math.round(12 * (1 - q)));
      }
    },
  },
  {
    id: 'balllightning', title: 'Ball Lightning', category: 'Storm', dur: 880, hit: 0.75, power: 3,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.25 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const q = clamp01(p / 0.75);
      const x = lerp(fx.x + fx.dir * 4, fx.tx, q * q * (3 - 2 * q));
      const y = lerp(fx.y, fx.ty, q) + Math.sin(p * 20) * 2;
      if (p < 0.75) {
        buf.disc(x, y, 4, C.violet, 8);
        buf.disc(x, y, 3, C.violet);
        buf.disc(x, y, 2, C.yellow);
        buf.set(x, y, C.white);
        const flick = Math.floor(p * 16);
        for (let k = 0; k < 3; k++) {
          const a = hash(fx.seed, flick, k) * Math.PI * 2;
          bolt(buf, x, y, x + Math.cos(a) * 8, y + Math.sin(a) * 8, fx.seed + flick * 3 + k, k ? C.yellow : C.white, 3, 3);
        }
      } else {
        const b = (p - 0.75) / 0.25;
        burst(buf, fx.tx, fx.ty, b, C.yellow, C.violet, 12, 10, fx.seed);
        buf.ring(fx.tx, fx.ty, 2 + b * 10, C.violet);
      }
    },
  },
  {
    id: 'starfall', title: 'Star Fall', category: 'Arcane and holy', dur: 860, hit: 0.5, power: 4,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.4 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const top = Math.max(0, fx.gy - 64);
      for (let k = 0; k < 7; k++) {
        const start = hash(fx.seed, k) * 0.45;
        const q = (p - start) / 0.4;
        if (q < 0) continue;
        const tx = fx.tx + (hash(fx.seed, k, 1) - 0.5) * 26;
        const ty = fx.gy - 3 - hash(fx.seed, k, 2) * 10;
        if (q < 1) {
          const x = lerp(tx + 12, tx, q), y = lerp(top, ty, q);
          for (let i = 1; i <= 3; i++) buf.dot(x + i * 2, y - i * 3, C.gold, 16 - i * 4);
          star(buf, x, y, C.gold, k % 2 === 0);
        } else if (q < 1.5) {
          const b = (q - 1) / 0.5;
          for (let s = 0; s < 4; s++) {
            const a = s * Math.PI / 2 + 0.6;
            buf.set(tx + Math.cos(a) * (2 + b * 5), ty + Math.sin(a) * (2 + b * 5), b < 0.5 ? C.white : C.gold);
          }
        }
      }
    },
  },
  {
    id: 'holypillar', title: 'Holy Pillar', category: 'Arcane and holy', dur: 760, hit: 0.35, power: 5, flash: true,
    pose: (p) => ({ dx: 0, dy: 0, frame: p < 0.6 ? 'attack' : 'idle' }),
    draw(buf, fx, p) {
      const on = clamp01(p * 5), off = clamp01((1 - p) * 3);
      const half = Math.round((1 + on * 5) * off);
      const top = 0;
      // The beam: gold edges, a white heart, a dither halo.
      buf.fill(fx.tx - half - 2, top, half * 2 + 5, fx.gy - top, C.gold, 4);
      buf.fill(fx.tx - half, top, half * 2 + 1, fx.gy - top, C.gold);
      buf.fill(fx.tx - Math.max(0, half - 2), top, Math.max(1, half * 2 - 3), fx.gy - top, C.paleYellow);
      if (half > 2) buf.fill(fx.tx - 1, top, 3, fx.gy - top, C.white);
      buf.oval(fx.tx, fx.gy, half + 6, 2, C.gold, 10);
      for (let k = 0; k < 8; k++) {
        const up = ((p * 2 + k / 8) % 1) * 40;
        const x = fx.tx + (hash(fx.seed, k) - 0.5) * (half * 2 + 14);
        star(buf, x, fx.gy - 4 - up, C.gold, false);
      }
    },
  },
];

export const MOVE_IDS = MOVES.map((m) => m.id);
const BY_ID = new Map(MOVES.map((m) => [m.id, m]));

export function moveById(id) {
  return BY_ID.get(id) || null;
}

// The strongest of a list of move ids (highest power; the first on ties).
export function strongestMove(ids) {
  let best = null;
  for (const id of ids) {
    const m = BY_ID.get(id);
    if (m && (!best || m.power > best.power)) best = m;
  }
  return best || BY_ID.get('blast');
}

// Draws move `m` for an effect state fx at time fx.t; returns false once over.
export function drawMove(buf, m, fx) {
  const p = fx.t / m.dur;
  if (p < 0 || p >= 1) return p < 0;
  m.draw(buf, fx, p);
  return true;
}
