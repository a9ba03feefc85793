// A stand-in for the host when the page is opened on its own with "?demo":
// it configures the scene from the address and plays a steady made-up song.
//   ?demo=loud|quiet|silent&scene=walk&layout=strip&W=1920&H=240&intensity=2&familiars=3&seed=1
import { DEMO_CAST } from './demo-cast.js';

export async function runDemo(qx, params) {
  const num = (k, d) => (params.has(k) ? Number(params.get(k)) : d);
  const cfg = {
    W: num('W', window.innerWidth), H: num('H', window.innerHeight),
    layout: params.get('layout') || 'corner', scene: params.get('scene') || 'campfire',
    intensity: num('intensity', 1), warriorCount: num('warriors', -1), scale: 2,
    monsters: params.get('monsters') !== '0', pulse: true, warriors: true, tobble: true,
    size: num('size', 1),
  };
  qx.config(cfg);
  const count = num('familiars', 3);
  const tobble = await readJson('creatures/tobble.json');
  const cast = [Object.assign({}, tobble, { attacks: ['pounce', 'fire', 'starfall'] })].concat(DEMO_CAST);
  qx.setFamiliars(cast.slice(0, count));
  const mode = params.get('demo') || 'loud';
  if (mode === 'silent') {
    qx.tick({ silent: true });
    return;
  }
  const loud = mode !== 'quiet';
  const bpm = 120;
  const every = num('tick', 250); // ms between ticks; the host sends up to one every 33 ms
  const eighth = 60000 / bpm / 2;
  const start = performance.now();
  let beat = 0;
  const step = () => {
    let ev = '';
    // The eighth notes that have come due since the last tick.
    while ((performance.now() - start) / eighth >= beat) {
      const phase = beat % 4;
      if (phase === 0) ev += 'k';
      if (phase === 2) ev += 's';
      if (loud && beat % 2 === 1) ev += 'h';
      if (loud && beat % 64 === 60) ev += 'd';
      beat++;
    }
    const e = loud ? 0.75 : 0.3;
    const wobble = 0.1 * Math.sin(performance.now() / 300);
    qx.tick({ lv: [(loud ? 0.7 : 0.3) + wobble, 0.5, 0.4, (loud ? 0.8 : 0.35) + wobble], bpm, conf: 0.8, en: e, ev });
  };
  setInterval(step, every);
  step();
}

// XMLHttpRequest rather than fetch: the engine's fetch does not serve custom
// schemes such as the program's own.
function readJson(url) {
  return new Promise((resolve, reject) => {
    const xhr = new XMLHttpRequest();
    xhr.open('GET', url);
    xhr.responseType = 'text';
    xhr.onload = () => {
      try {
        resolve(JSON.parse(xhr.responseText));
      } catch (e) {
        reject(e);
      }
    };
    xhr.onerror = () => reject(new Error(`cannot read ${url}`));
    xhr.send();
  });
}
