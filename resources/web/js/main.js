// The web host's page: a canvas at the scene's logical size, scaled up in
// whole steps by the engine when it composes the page. The scene and its
// frame loop are page.js, shared with the light host.
import { startPage } from './page.js';

const post = (body) => {
  const h = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.qx;
  if (h && typeof h.postMessage === 'function') h.postMessage(body);
};

const canvas = document.getElementById('scene');
const ctx = canvas.getContext('2d', { alpha: true });
let image = null;
let scale = 2;

function fitCanvas(buf) {
  if (canvas.width !== buf.w || canvas.height !== buf.h) {
    canvas.width = buf.w;
    canvas.height = buf.h;
  }
  // Each logical pixel covers a whole number of device pixels: `scale` of
  // them on ordinary and double-density screens, the nearest whole number
  // below it on fractional ones, so no pixel row comes out thicker than another.
  const dpr = window.devicePixelRatio || 1;
  const k = Math.max(1, Math.floor(scale * dpr + 1e-6));
  const cssW = `${(buf.w * k) / dpr}px`, cssH = `${(buf.h * k) / dpr}px`;
  if (canvas.style.width !== cssW) canvas.style.width = cssW;
  if (canvas.style.height !== cssH) canvas.style.height = cssH;
  if (!image || image.width !== buf.w || image.height !== buf.h || image.data.buffer !== buf.data.buffer) {
    image = new ImageData(buf.data, buf.w, buf.h);
  }
}

const { qx, fail, scene } = startPage({
  now: () => performance.now(),
  setTimeout: (fn, ms) => setTimeout(fn, ms),
  clearTimeout: (id) => clearTimeout(id),
  present: (buf, r) => {
    scale = scene.cfg.scale || 2;
    fitCanvas(buf);
    ctx.putImageData(image, 0, 0, r.x, r.y, r.w, r.h);
  },
  post,
  size: () => ({ W: window.innerWidth, H: window.innerHeight }),
});
window.qx = qx;

window.addEventListener('error', (e) => {
  fail(`${e.message || 'script error'}${e.filename ? ` (${e.filename.split('/').pop()}:${e.lineno})` : ''}`);
});
window.addEventListener('unhandledrejection', (e) => {
  const r = e.reason;
  fail(`unhandled rejection: ${r && r.message ? r.message : String(r)}`);
});

post({ ready: true });

// Opened on its own with "?demo" in the address: play a made-up song.
const params = new URLSearchParams(window.location.search);
if (params.has('demo')) import('./demo.js').then((m) => m.runDemo(qx, params)).catch((e) => fail(`demo: ${e.message}`));
