// Drawing the world: the frame as a whole, the sky, mountains, hills, trees,
// ground, camp props, the fire and its light, on the card with its rim. The
// methods are the Scene's own (scene.js installs them) and read its state.
import { PixelBuffer, hash, dithered, OUTLINE } from './pixels.js';
import { C } from './palette.js';
import { tent } from './sprites.js';
import { drawMove } from './effects.js';
import { BREATH_S } from './cast-drawing.js';

const GROUND_TILE = 540; // a multiple of the dither (4) and of the tuft spacing (9)

function copyRect(dst, src, r) {
  for (let y = r.y; y < r.y + r.h; y++) {
    const o = y * dst.w;
    dst.px.set(src.px.subarray(o + r.x, o + r.x + r.w), o + r.x);
  }
}

export const worldDrawing = {
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
    this.drawBanner(buf, now);
    if (this.flashFrames > 0) {
      this.flashFrames--;
      this.cardFill(buf, C.paleYellow, 5);
    }
    return null;
  },

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
  },

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
  },

  // The scene sits on a card with stepped round corners and a dark rim.
  cardInset(y) {
    const h = this.h;
    const r = y < 4 ? y : h - 1 - y < 4 ? h - 1 - y : 4;
    return [3, 2, 1, 1, 0][r] ?? 0;
  },

  cardFill(buf, c, level) {
    for (let y = 1; y < this.h - 1; y++) {
      const i = this.cardInset(y);
      for (let x = i + 1; x < this.w - i - 1; x++) if (dithered(x, y, level)) buf.px[y * buf.w + x] = c;
    }
  },

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
  },

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
  },

  cloud(b, cx, cy, cw) {
    for (let j = 0; j < 4; j++) {
      const half = Math.round(cw / 2 - Math.abs(j - 1.2) * 6 - (j === 0 ? 6 : 0));
      const off = j === 0 ? -4 : j === 3 ? 5 : 0;
      b.line(cx - half + off, cy + j, cx + half + off, cy + j, j === 0 ? C.night3 : C.night2, j === 3 ? 8 : 16);
    }
  },

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
  },

  hill(u) {
    const top = this.back - this.horizon;
    return top * (0.22 + 0.1 * Math.sin(u * 0.031 + 2) + 0.06 * Math.sin(u * 0.083 + 0.4));
  },

  // The parallax layers' offsets for a distance walked.
  layerOffsets(scroll) {
    const s = Math.round(scroll);
    return [Math.round(s * 0.12), Math.round(s * 0.3), Math.round(s * 0.55)];
  },

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
  },

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
  },

  pine(b, x, base, th, c) {
    // Three tiers of branches on a short trunk.
    for (let j = 0; j < th; j++) {
      const t = j / th;
      const tier = (j % Math.max(3, Math.round(th / 3))) / Math.max(3, Math.round(th / 3));
      const hw = Math.max(0, Math.round((1 - t) * th * 0.32 + (1 - tier) * 1.2 - 0.6));
      b.line(x - hw, base - j, x + hw, base - j, c);
    }
    b.set(x, base - th, c);
  },

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
  },

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
  },

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
  },

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
  },

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
  },

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
  },

  fireHeight(asleep) {
    if (asleep) return 0;
    const lv = this.level.lv;
    return Math.round(5 + lv[3] * 9 + lv[0] * 6 + [0, 1, 3][this.cfg.intensity]);
  },

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
  },

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
  },
};
