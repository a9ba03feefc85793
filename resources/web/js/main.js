// The page: a canvas at the scene's logical size, scaled up in whole steps,
// redrawn 15 times a second while anything moves (and at once for a beat) and
// a few times a second while the party sleeps. Frames come from timers, never
// from requestAnimationFrame, which would keep the engine's frame machinery
// running at the display's rate even on frames that draw nothing.
import { Scene, canvasSize } from './scene.js';
import { createQx, FrameTimer, FramePacer } from './api.js';

const post = (body) => {
  const h = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.qx;
  if (h && typeof h.postMessage === 'function') h.postMessage(body);
};

const canvas = document.getElementById('scene');
const ctx = canvas.getContext('2d', { alpha: true });
const clock = () => performance.now() / 1000;
const scene = new Scene(clock());
const timer = new FrameTimer();
const pacer = new FramePacer();
let image = null;
let pending = null; // {slow, id}: the timer of the next frame
let lastKey = null;

function fitCanvas() {
  const { w, h } = canvasSize(scene.cfg);
  const s = scene.cfg.scale || 2;
  if (canvas.width !== w || canvas.height !== h) {
    canvas.width = w;
    canvas.height = h;
    image = null;
    pacer.forget();
  }
  // Each logical pixel covers a whole number of device pixels: `scale` of
  // them on ordinary and double-density screens, the nearest whole number
  // below it on fractional ones, so no pixel row comes out thicker than another.
  // The engine scales the canvas once, when it composes the page.
  const dpr = window.devicePixelRatio || 1;
  const k = Math.max(1, Math.floor(s * dpr + 1e-6));
  const cssW = `${(w * k) / dpr}px`, cssH = `${(h * k) / dpr}px`;
  if (canvas.style.width !== cssW) canvas.style.width = cssW;
  if (canvas.style.height !== cssH) canvas.style.height = cssH;
  if (!image) image = new ImageData(scene.buf.data, scene.buf.w, scene.buf.h);
}

function frame() {
  pending = null;
  const t0 = performance.now();
  if (scene.slow() || pacer.due(t0)) draw(t0);
  schedule();
}

function draw(t0) {
  try {
    drawFrame(t0);
  } catch (e) {
    fail(`drawing failed: ${e && e.message ? e.message : String(e)}`);
  }
}

function drawFrame(t0) {
  scene.update(t0 / 1000);
  const slow = scene.slow();
  const key = slow ? scene.visualKey() : null;
  if (slow && key === lastKey) return;
  if (image === null || image.width !== scene.buf.w || image.height !== scene.buf.h || image.data.buffer !== scene.buf.data.buffer) image = null;
  fitCanvas();
  scene.draw();
  // An unchanged picture leaves the canvas alone, so the engine has nothing
  // to compose and the window nothing to repaint.
  const r = pacer.changed(scene.buf.px, scene.buf.w);
  if (r) ctx.putImageData(image, 0, 0, r.x, r.y, r.w, r.h);
  lastKey = key;
  timer.record(t0, performance.now() - t0);
}

// At the pacer's rate while anything moves; while the party sleeps, only
// when the picture is next due to change.
function schedule() {
  if (pending) return;
  const slow = scene.slow();
  let delay;
  if (slow) {
    if (scene.still() && lastKey !== null) return; // drawn once asleep; nothing will move until a call wakes it
    delay = Math.max(20, Math.ceil((scene.nextVisualChange() - performance.now() / 1000) * 1000) + 2);
  } else {
    delay = pacer.wait(performance.now());
  }
  pending = { slow, id: setTimeout(frame, delay) };
}

// A tick with sound (or a new configuration) must not wait for the slow
// timer, and a beat is drawn at once when the pacer allows it.
function wake(beat = false) {
  lastKey = null;
  const now = performance.now();
  const drawBeat = beat && !scene.slow() && pacer.due(now, true);
  if (pending && (pending.slow || drawBeat)) {
    clearTimeout(pending.id);
    pending = null;
  }
  if (drawBeat) draw(now);
  schedule();
}

const { qx, fail } = createQx(scene, post, clock, {
  wake,
  report: () => timer.report(performance.now()),
});
window.qx = qx;

window.addEventListener('error', (e) => {
  fail(`${e.message || 'script error'}${e.filename ? ` (${e.filename.split('/').pop()}:${e.lineno})` : ''}`);
});
window.addEventListener('unhandledrejection', (e) => {
  const r = e.reason;
  fail(`unhandled rejection: ${r && r.message ? r.message : String(r)}`);
});

// Before the host configures the page, fill the window it was given.
try {
  qx.config({ W: Math.max(32, window.innerWidth | 0), H: Math.max(32, window.innerHeight | 0) });
} catch (e) {
  fail(e.message);
}
fitCanvas();
schedule();
post({ ready: true });

// Opened on its own with "?demo" in the address: play a made-up song.
const params = new URLSearchParams(window.location.search);
if (params.has('demo')) import('./demo.js').then((m) => m.runDemo(qx, params)).catch((e) => fail(`demo: ${e.message}`));
