// The page's contract with the host: the global `qx` with config, tick,
// setFamiliars, nowPlaying and stats. No call throws; a malformed argument posts an error
// message and leaves the scene as it was.
import { parseConfig, parseTick } from './rules.js';
import { decodeCreature } from './sprites.js';
import { parseSong } from './banner.js';

export const REPEAT_S = 5;

export function createQx(scene, post, clock, timing) {
  let errors = 0;
  let config = scene.cfg;
  const lastSent = new Map(); // error text -> when it was last posted

  // Every error is counted; the same text is posted at most once in
  // REPEAT_S seconds, so that a fault in every frame cannot flood the log.
  const fail = (text) => {
    errors++;
    text = String(text).slice(0, 500);
    const now = clock();
    const last = lastSent.get(text);
    if (last !== undefined && now - last < REPEAT_S) return;
    if (lastSent.size > 50) lastSent.clear();
    lastSent.set(text, now);
    try {
      post({ error: text });
    } catch (e) {
      // Nothing more can be done when the host cannot be told.
    }
  };

  const guard = (name, fn) => (arg) => {
    try {
      fn(arg);
    } catch (e) {
      fail(e && e.message ? e.message : `${name} failed`);
    }
    return undefined;
  };

  const qx = {
    config: guard('qx.config', (arg) => {
      config = parseConfig(arg, config);
      scene.setConfig(config);
      timing.wake(false, true);
    }),
    tick: guard('qx.tick', (arg) => {
      const t = parseTick(arg);
      scene.onTick(t, clock());
      timing.wake(!t.silent && /[kd]/.test(t.ev));
    }),
    setFamiliars: guard('qx.setFamiliars', (arg) => {
      if (!Array.isArray(arg)) throw new Error(`qx.setFamiliars expects a list of creatures, got ${typeof arg === 'object' ? JSON.stringify(arg) : String(arg)}`.slice(0, 160));
      const list = [];
      for (const c of arg.slice(0, 3)) {
        try {
          list.push(decodeCreature(c));
        } catch (e) {
          // One broken creature does not keep the others off the stage.
          fail(`qx.setFamiliars: ${e.message}`);
        }
      }
      if (arg.length > 3) fail(`qx.setFamiliars: only three familiars are shown, ${arg.length} were given`);
      scene.setFamiliars(list);
      timing.wake(false, true);
    }),
    nowPlaying: guard('qx.nowPlaying', (arg) => {
      scene.showSong(parseSong(arg), clock());
      timing.wake();
    }),
    stats: () => {
      try {
        const s = scene.summary();
        const t = timing.report();
        return {
          frames: t.frames,
          avgMs: t.avgMs,
          worstMs: t.worstMs,
          workMsPerSecond: t.workMsPerSecond,
          fps: t.fps,
          ticks: scene.ticks,
          events: Object.assign({}, scene.counts),
          warriors: s.warriors,
          monsters: s.monsters,
          familiars: s.familiars,
          scene: s.scene,
          layout: s.layout,
          asleep: s.asleep,
          errors,
          canvas: s.canvas,
          nowPlaying: scene.songShown(clock()) ? scene.song.title : null,
        };
      } catch (e) {
        fail(`qx.stats: ${e.message}`);
        return { errors };
      }
    },
  };
  return { qx, fail, errorCount: () => errors };
}

// Frame timing over a sliding second: frames drawn, average and worst work
// per frame in milliseconds, total work in that second.
export class FrameTimer {
  constructor() {
    this.frames = 0;
    this.recent = []; // [time (ms), work (ms)]
  }
  record(at, work) {
    this.frames++;
    this.recent.push([at, work]);
    this.trim(at);
  }
  trim(at) {
    while (this.recent.length && at - this.recent[0][0] > 1000) this.recent.shift();
  }
  report(at) {
    this.trim(at);
    const n = this.recent.length;
    let sum = 0, worst = 0;
    for (const [, w] of this.recent) { sum += w; if (w > worst) worst = w; }
    const r3 = (v) => Math.round(v * 1000) / 1000;
    return { frames: this.frames, avgMs: n ? r3(sum / n) : 0, worstMs: r3(worst), workMsPerSecond: r3(sum), fps: n };
  }
}

// The scene moves with ticks that come 30 times a second, but every frame
// costs the engine a few milliseconds across its processes whatever changed in
// it, far more than drawing it. So the page draws 15 frames a second while the
// scene moves and takes a frame early for a beat: a tick with a kick or a
// drop is drawn at once when the frame before it is at least 1/30 s old. Only
// the part of a picture that differs from the one shown goes to the canvas.
export const FRAME_MS = 1000 / 15;
export const BEAT_FRAME_MS = 1000 / 30;
const SLACK_MS = 1; // timers fire a little late, never early

export class FramePacer {
  constructor() {
    this.next = -Infinity;
    this.last = -Infinity; // when the last frame was drawn
    this.shown = null; // the pixels the canvas holds
  }

  // True when a frame at `at` (ms) is due to draw; `beat` for a tick with a
  // kick or a drop.
  due(at, beat = false) {
    if (beat ? at - this.last < BEAT_FRAME_MS - SLACK_MS : at < this.next - SLACK_MS) return false;
    // A beat restarts the cadence, as does a page that fell behind by more
    // than a frame (it was busy or hidden).
    if (beat || at - this.next > FRAME_MS) return this.take(at);
    this.next += FRAME_MS;
    this.last = at;
    return true;
  }

  // A frame at `at` whatever the cadence (something the user changed is shown
  // at once); the cadence goes on from it. Always true.
  take(at) {
    this.next = at + FRAME_MS;
    this.last = at;
    return true;
  }

  // Milliseconds from `at` until the next frame is due.
  wait(at) {
    return Math.max(0, this.next - at);
  }

  // The rectangle of `px` (a w-wide Uint32Array) that differs from the
  // picture shown last, which becomes `px`; null when nothing changed.
  changed(px, w) {
    if (!this.shown || this.shown.length !== px.length) {
      this.shown = px.slice();
      return { x: 0, y: 0, w, h: px.length / w };
    }
    const old = this.shown;
    const h = px.length / w;
    let y0 = 0, y1 = h - 1;
    const rowSame = (y) => {
      for (let i = y * w, end = i + w; i < end; i++) if (px[i] !== old[i]) return false;
      return true;
    };
    while (y0 < h && rowSame(y0)) y0++;
    if (y0 === h) return null;
    while (rowSame(y1)) y1--;
    let x0 = w, x1 = -1;
    for (let y = y0; y <= y1; y++) {
      const row = y * w;
      for (let x = 0; x < x0; x++) if (px[row + x] !== old[row + x]) { x0 = x; break; }
      for (let x = w - 1; x > x1; x--) if (px[row + x] !== old[row + x]) { x1 = x; break; }
    }
    old.set(px.subarray(y0 * w, (y1 + 1) * w), y0 * w);
    return { x: x0, y: y0, w: x1 - x0 + 1, h: y1 - y0 + 1 };
  }

  // The canvas was replaced or cleared: everything must be shown again.
  forget() {
    this.shown = null;
  }
}
