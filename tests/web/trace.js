// A fixed run of the page for comparing script engines: for each scene and
// layout, the program's own call texts at a fixed clock, the frame timers run
// in order by a clock of its own. Every picture the page shows goes to the
// host as the light host's page sends it; at the end of each case the
// scene's picture goes to `qxHost.caseDone` when the host has one. Runs as
// the light host's entry module in the program's engine and under Node
// (trace-run.mjs), each time from a copy of the web folder beside
// trace-data.js, which holds the familiars.
import { startPage } from './page.js';
import { lightHost } from './light-host.js';
import { FAMILIARS } from './trace-data.js';

/* global qxHost */

const CASES = [
  ['campfire', 'corner', 640, 480, 1],
  ['walk', 'corner', 480, 360, 0],
  ['campfire', 'strip', 1280, 128, 1],
  ['walk', 'strip', 960, 96, 2],
];
const EVENTS = ['k', '', 'h', 's', 'kh', '', 'd', 'k', '', '', 'ks', 'h'];

function* run([scene, layout, W, H, size]) {
  let now = 5000;
  let next = 1;
  const timers = new Map();
  const light = lightHost(qxHost);
  const { qx, scene: drawn } = startPage({
    now: () => now,
    setTimeout: (fn, ms) => (timers.set(next, { at: now + ms, fn }), next++),
    clearTimeout: (id) => timers.delete(id),
    present: light.present,
    post: () => {},
    size: () => ({ W, H }),
  });
  // Every timer due by `until`, in order of time (the earlier set first), then the clock at `until`.
  const advance = (ms) => {
    const until = now + ms;
    for (let due; (due = [...timers].filter(([, t]) => t.at <= until).sort((a, b) => a[1].at - b[1].at)[0]);) {
      timers.delete(due[0]);
      now = Math.max(now, due[1].at);
      due[1].fn();
    }
    now = until;
  };
  const call = (text) => new Function('qx', text)(qx);
  call(`qx.config({W:${W},H:${H},layout:'${layout}',intensity:2,tobble:true,warriors:true,warriorCount:-1,pulse:true,monsters:true,scale:2,scene:'${scene}',size:${size}})`);
  call(`qx.setFamiliars(${JSON.stringify(FAMILIARS)})`);
  for (let i = 0; i < 90; i++) {
    advance(33);
    const level = ((i * 37) % 100) / 100;
    const ev = EVENTS[i % EVENTS.length];
    call(`qx.tick({lv:[${level.toFixed(2)},0.40,0.20,0.70],bpm:124.0,conf:0.80,en:${(0.3 + level / 2).toFixed(2)},ev:'${ev}'})`);
    // A song banner, with a title too long for even the widest case.
    if (i === 40) call(`qx.nowPlaying({title:"${'A Song Title (Live), \\"Cut\\" & Shown / '.repeat(4)}",artist:"\u00c9t\u00e9"})`);
    yield null;
  }
  advance(500);
  yield drawn.buf;
}

// A tick a call, each well within the time the program gives a call.
function* all() {
  for (const c of CASES) yield* run(c);
}
const steps = all();
function step() {
  const { value: buf, done } = steps.next();
  if (done) return qxHost.postMessage({ ready: true });
  if (buf && typeof qxHost.caseDone === 'function') qxHost.caseDone(buf);
  qxHost.setTimeout(step, 0);
}
step();
