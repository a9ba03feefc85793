// A plain RGBA pixel buffer and the few drawing primitives the scene needs.
// Everything works on integer positions, so the same code draws the page and
// the move pictures (in Node) pixel for pixel alike.

// Colours are packed as 32-bit words in the byte order of an RGBA buffer on a
// little-endian machine: 0xAABBGGRR.
export function rgb(hex) {
  const v = parseInt(hex.slice(1), 16);
  return ((255 << 24) | ((v & 255) << 16) | (v & 0xff00) | ((v >> 16) & 255)) >>> 0;
}

export function mix(a, b, t) {
  const ch = (c, s) => (c >>> s) & 255;
  const m = (s) => Math.round(ch(a, s) + (ch(b, s) - ch(a, s)) * t) & 255;
  return ((255 << 24) | (m(16) << 16) | (m(8) << 8) | m(0)) >>> 0;
}

export const CLEAR = 0;

// 4x4 ordered-dither thresholds (0..15).
const BAYER = [0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5];

// True when a pixel at (x, y) is lit at coverage `level` (0 = never, 16 = always).
export function dithered(x, y, level) {
  return BAYER[((y & 3) << 2) | (x & 3)] < level;
}

export class PixelBuffer {
  constructor(w, h) {
    this.w = w;
    this.h = h;
    this.data = new Uint8ClampedArray(w * h * 4);
    this.px = new Uint32Array(this.data.buffer);
    // Offset applied to everything drawn (the beat bounce and the drop shake).
    this.ox = 0;
    this.oy = 0;
  }

  clear(c = CLEAR) {
    this.px.fill(c);
  }

  copyFrom(other) {
    this.px.set(other.px);
  }

  set(x, y, c) {
    x = (x + this.ox) | 0;
    y = (y + this.oy) | 0;
    if (x < 0 || y < 0 || x >= this.w || y >= this.h) return;
    this.px[y * this.w + x] = c;
  }

  get(x, y) {
    if (x < 0 || y < 0 || x >= this.w || y >= this.h) return 0;
    return this.px[y * this.w + x];
  }

  // Sets the pixel only where the ordered dither at `level` (0..16) says so.
  dot(x, y, c, level) {
    if (level >= 16 || dithered(x + this.ox, y + this.oy, level)) this.set(x, y, c);
  }

  fill(x, y, w, h, c, level = 16) {
    x = Math.round(x + this.ox);
    y = Math.round(y + this.oy);
    const x0 = Math.max(0, x), y0 = Math.max(0, y);
    const x1 = Math.min(this.w, x + Math.round(w)), y1 = Math.min(this.h, y + Math.round(h));
    for (let yy = y0; yy < y1; yy++) {
      const row = yy * this.w;
      if (level >= 16) {
        this.px.fill(c, row + x0, row + Math.max(x0, x1));
      } else {
        for (let xx = x0; xx < x1; xx++) if (dithered(xx, yy, level)) this.px[row + xx] = c;
      }
    }
  }

  line(x0, y0, x1, y1, c, level = 16) {
    x0 = Math.round(x0); y0 = Math.round(y0); x1 = Math.round(x1); y1 = Math.round(y1);
    const dx = Math.abs(x1 - x0), dy = -Math.abs(y1 - y0);
    const sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    let err = dx + dy;
    for (let n = 0; n < 2000; n++) {
      this.dot(x0, y0, c, level);
      if (x0 === x1 && y0 === y1) break;
      const e2 = 2 * err;
      if (e2 >= dy) { err += dy; x0 += sx; }
      if (e2 <= dx) { err += dx; y0 += sy; }
    }
  }

  // Filled disc; `level` dithers it.
  disc(cx, cy, r, c, level = 16) {
    cx = Math.round(cx); cy = Math.round(cy);
    if (r < 0.5) { this.dot(cx, cy, c, level); return; }
    const rr = r * r + r * 0.8;
    const ir = Math.ceil(r);
    for (let y = -ir; y <= ir; y++)
      for (let x = -ir; x <= ir; x++) if (x * x + y * y <= rr) this.dot(cx + x, cy + y, c, level);
  }

  // One-pixel circle outline.
  ring(cx, cy, r, c, level = 16) {
    cx = Math.round(cx); cy = Math.round(cy);
    const steps = Math.max(8, Math.ceil(r * 7));
    let lx = null, ly = null;
    for (let i = 0; i < steps; i++) {
      const a = (i / steps) * Math.PI * 2;
      const x = cx + Math.round(Math.cos(a) * r), y = cy + Math.round(Math.sin(a) * r);
      if (x !== lx || y !== ly) this.dot(x, y, c, level);
      lx = x; ly = y;
    }
  }

  // Ellipse filled, axis-aligned.
  oval(cx, cy, rx, ry, c, level = 16) {
    cx = Math.round(cx); cy = Math.round(cy);
    const irx = Math.ceil(rx), iry = Math.ceil(ry);
    for (let y = -iry; y <= iry; y++)
      for (let x = -irx; x <= irx; x++)
        if ((x * x) / (rx * rx + 0.5) + (y * y) / (ry * ry + 0.5) <= 1) this.dot(cx + x, cy + y, c, level);
  }

  // Draws a sprite ({w, h, px: Uint32Array}, 0 = transparent) with its top-left at (x, y).
  sprite(s, x, y, flip = false, tint = 0) {
    x = Math.round(x + this.ox);
    y = Math.round(y + this.oy);
    const W = this.w, H = this.h, sw = s.w, sp = s.px;
    for (let j = 0; j < s.h; j++) {
      const yy = y + j;
      if (yy < 0 || yy >= H) continue;
      const row = yy * W, srow = j * sw;
      for (let i = 0; i < sw; i++) {
        const c = sp[srow + (flip ? sw - 1 - i : i)];
        if (c === 0) continue;
        const xx = x + i;
        if (xx < 0 || xx >= W) continue;
        this.px[row + xx] = tint && c !== OUTLINE ? tint : c;
      }
    }
  }
}

export const OUTLINE = rgb('#120d1c');

// Small deterministic random numbers (mulberry32).
export function rng(seed) {
  let a = seed >>> 0;
  return function () {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// A hash of integers to [0, 1), for per-particle randomness that needs no state.
export function hash(a, b = 0, c = 0) {
  let h = Math.imul(a | 0, 374761393) + Math.imul(b | 0, 668265263) + Math.imul(c | 0, 2246822519);
  h = Math.imul(h ^ (h >>> 13), 1274126177);
  h ^= h >>> 16;
  return (h >>> 0) / 4294967296;
}
