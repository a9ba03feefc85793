// The scene's rules, kept free of drawing so they can be tested alone: what the
// page accepts from the host, how many warriors and monsters a panel gets,
// which action answers which event, and when the party sleeps.

export const DEFAULT_CONFIG = Object.freeze({
  W: 640, H: 480, layout: 'corner', intensity: 1, tobble: true, warriors: true, warriorCount: -1,
  pulse: true, monsters: true, scale: 2, scene: 'campfire', size: 1,
});

const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);
const isInt = (v) => typeof v === 'number' && Number.isInteger(v);
const isNum = (v) => typeof v === 'number' && Number.isFinite(v);

function describe(v) {
  if (v === undefined) return 'nothing';
  try {
    const s = JSON.stringify(v);
    return s === undefined ? String(v) : s.length > 80 ? s.slice(0, 77) + '...' : s;
  } catch (e) {
    return String(v);
  }
}

// Checks one configuration object; returns the full configuration (fields it
// leaves out keep their previous values) or throws an Error saying what is wrong.
export function parseConfig(arg, prev = DEFAULT_CONFIG) {
  if (!isObject(arg)) throw new Error(`qx.config expects an object, got ${describe(arg)}`);
  const out = Object.assign({}, prev);
  const field = (key, ok, what) => {
    if (!(key in arg) || arg[key] === undefined) return;
    if (!ok(arg[key])) throw new Error(`qx.config: ${key} must be ${what}, got ${describe(arg[key])}`);
    out[key] = arg[key];
  };
  const bool = (v) => typeof v === 'boolean';
  field('W', isInt, 'a whole number');
  field('H', isInt, 'a whole number');
  // A panel size out of range is drawn at the nearest size the page can draw.
  out.W = Math.min(16384, Math.max(1, out.W));
  out.H = Math.min(16384, Math.max(1, out.H));
  field('layout', (v) => v === 'corner' || v === 'strip', "'corner' or 'strip'");
  field('intensity', (v) => isInt(v) && v >= 0 && v <= 2, '0, 1 or 2');
  field('tobble', bool, 'true or false');
  field('warriors', bool, 'true or false');
  field('warriorCount', (v) => isInt(v) && v >= -1 && v <= 8, 'a whole number from -1 to 8');
  field('pulse', bool, 'true or false');
  field('monsters', bool, 'true or false');
  field('scale', (v) => isInt(v) && v >= 1 && v <= 8, 'a whole number from 1 to 8');
  field('scene', (v) => v === 'campfire' || v === 'walk', "'campfire' or 'walk'");
  field('size', (v) => isInt(v) && v >= 0 && v <= 9, 'a whole number from 0 to 9');
  return out;
}

// Checks one tick; returns {silent: true} or {lv, bpm, conf, en, ev} with the
// levels clamped to 0..1 and the events reduced to the letters k, s, h and d.
export function parseTick(arg) {
  if (!isObject(arg)) throw new Error(`qx.tick expects an object, got ${describe(arg)}`);
  if (arg.silent === true) return { silent: true };
  if ('silent' in arg && arg.silent !== false)
    throw new Error(`qx.tick: silent must be true or false, got ${describe(arg.silent)}`);
  const lv = arg.lv;
  if (!Array.isArray(lv) || lv.length !== 4 || !lv.every(isNum))
    throw new Error(`qx.tick: lv must be a list of four numbers, got ${describe(lv)}`);
  const num = (key, lo, hi) => {
    const v = arg[key];
    if (v === undefined) return lo;
    if (!isNum(v)) throw new Error(`qx.tick: ${key} must be a number, got ${describe(v)}`);
    return Math.min(hi, Math.max(lo, v));
  };
  const ev = arg.ev === undefined ? '' : arg.ev;
  if (typeof ev !== 'string') throw new Error(`qx.tick: ev must be text, got ${describe(ev)}`);
  return {
    silent: false,
    lv: lv.map((v) => Math.min(1, Math.max(0, v))),
    bpm: num('bpm', 0, 400),
    conf: num('conf', 0, 1),
    en: num('en', 0, 1),
    ev: ev.replace(/[^kshd]/g, '').slice(0, 32),
  };
}

// Warriors for a panel: none when switched off, the exact count when one is
// set, otherwise as many as the canvas has room for.
export function warriorCount(cfg, canvasW, canvasH) {
  if (!cfg.warriors || cfg.warriorCount === 0) return 0;
  if (cfg.warriorCount > 0) return Math.min(8, cfg.warriorCount);
  if (cfg.layout === 'strip') return Math.max(2, Math.min(8, Math.floor(canvasW / 110)));
  const area = canvasW * canvasH;
  if (area < 240 * 180) return 2; // tiny
  if (area < 320 * 240) return 3; // small
  if (area < 400 * 300) return 4; // medium
  return 5; // large
}

// How many monsters may be on stage at once, and how often one arrives (per
// second), for the music's energy and the chosen intensity.
export function monsterPlan(en, intensity, enabled) {
  if (!enabled) return { max: 0, rate: 0, bossChance: 0 };
  const max = [2, 3, 5][intensity] + (en > 0.6 ? 1 : 0);
  const rate = (0.15 + en * 0.45) * [0.5, 1, 1.6][intensity];
  const bossChance = intensity > 0 && en > 0.7 ? 0.12 * intensity : 0;
  return { max, rate, bossChance };
}

// Seconds a familiar waits between its own moves, by intensity.
export const FAMILIAR_COOLDOWN = [2.4, 1.2, 0.6];

// Which actions answer the events of one tick. ctx: {warriors: [{kind, busy}],
// familiars: [{busy, readyAt}], intensity, pulse, now (seconds), rnd ()->[0,1)}.
// Returns a list of {type, actor?, familiar?, strongest?} in the order to start
// them. Every letter is answered on the frame it arrives, as far as there is a
// free character to answer it and the intensity allows.
export function planActions(ev, ctx) {
  const out = [];
  if (!ev) return out;
  const letters = ev.split('');
  const budget = [2, 4, 8][ctx.intensity] ?? 4;
  const takenW = new Set();
  const takenF = new Set();
  // The free warrior whose kind comes first in `prefer` (any kind after those).
  const freeWarrior = (prefer) => {
    const rank = (kind) => (prefer.includes(kind) ? prefer.indexOf(kind) : prefer.length);
    let best = -1;
    ctx.warriors.forEach((w, i) => {
      if (w.busy || takenW.has(i)) return;
      if (best < 0 || rank(w.kind) < rank(ctx.warriors[best].kind)) best = i;
    });
    return best;
  };
  const freeFamiliar = () => {
    for (let i = 0; i < ctx.familiars.length; i++) {
      const f = ctx.familiars[i];
      if (!f.busy && !takenF.has(i) && ctx.now >= f.readyAt) return i;
    }
    return -1;
  };
  if (letters.includes('d')) {
    out.push({ type: 'flash' });
    ctx.familiars.forEach((_, i) => { takenF.add(i); out.push({ type: 'move', familiar: i, strongest: true }); });
    ctx.warriors.forEach((_, i) => { takenW.add(i); out.push({ type: 'heavy', actor: i }); });
    return out;
  }
  let kDone = false;
  for (const l of letters) {
    if (out.length >= budget) break;
    if (l === 'k') {
      if (ctx.pulse && !kDone) out.push({ type: 'bounce' });
      kDone = true;
      const w = freeWarrior(['knight', 'barbarian']);
      if (w >= 0) { takenW.add(w); out.push({ type: 'heavy', actor: w }); }
      if (ctx.rnd() < [0.25, 0.5, 0.8][ctx.intensity]) {
        const f = freeFamiliar();
        if (f >= 0) { takenF.add(f); out.push({ type: 'move', familiar: f, strongest: false }); }
      }
    } else if (l === 's') {
      const w = freeWarrior(['mage', 'knight']);
      if (w >= 0) {
        takenW.add(w);
        out.push({ type: ctx.warriors[w].kind === 'mage' ? 'spell' : 'swing', actor: w });
      } else {
        const f = freeFamiliar();
        if (f >= 0) { takenF.add(f); out.push({ type: 'move', familiar: f, strongest: false }); }
      }
    } else if (l === 'h') {
      const w = freeWarrior(['archer']);
      if (w >= 0 && ctx.warriors[w].kind === 'archer') { takenW.add(w); out.push({ type: 'arrow', actor: w }); }
      else out.push({ type: 'sparks' });
    }
  }
  return out;
}

// Silence and sleep. The host sends one silent tick when the music stops and
// then nothing until sound returns; full ticks come at least four times a
// second while there is sound. The party falls asleep on the silent tick (or
// when ticks have stopped coming for a while), the page slows down after a few
// seconds of it, and wakes on the next tick with sound.
export const STALE_TICKS_S = 3; // no tick at all for this long counts as silence
export const SLOW_AFTER_S = 3; // seconds of sleep before the page slows down

export class SleepClock {
  constructor(now = 0) {
    this.silentSince = now; // asleep until the first tick with sound
    this.lastTick = -Infinity;
    this.lastSound = -Infinity;
  }
  onTick(tick, now) {
    this.lastTick = now;
    if (tick.silent) {
      if (this.silentSince === null) this.silentSince = now;
    } else {
      this.silentSince = null;
      this.lastSound = now;
    }
  }
  // Seconds the party has been asleep (0 while awake).
  asleepFor(now) {
    if (this.silentSince === null && now - this.lastSound > STALE_TICKS_S) this.silentSince = this.lastSound + STALE_TICKS_S;
    return this.silentSince === null ? 0 : Math.max(0, now - this.silentSince);
  }
  asleep(now) {
    this.asleepFor(now);
    return this.silentSince !== null;
  }
  // True when the page should drop to a few frames a second.
  slow(now) {
    return this.asleep(now) && this.asleepFor(now) >= SLOW_AFTER_S;
  }
}

// Beat timing: a phase that runs on the music's tempo when it is trusted,
// otherwise on a steady 120 BPM.
export const STEADY_BPM = 120;
export function beatBpm(bpm, conf) {
  return conf >= 0.3 && bpm >= 50 && bpm <= 220 ? bpm : STEADY_BPM;
}

// The walking pace in logical pixels a second.
export function walkSpeed(bpm, conf, en) {
  if (conf >= 0.3 && bpm >= 50 && bpm <= 220) return (bpm / 60) * 8;
  return 8 + en * 18;
}
