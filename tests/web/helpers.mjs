// Shared set-up for the page's tests: the page's modules and the built-in creature.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
export const web = path.join(root, 'resources', 'web');
export const load = (p) => import(pathToFileURL(path.join(web, 'js', p)).href);
export const tobble = () => JSON.parse(fs.readFileSync(path.join(web, 'creatures', 'tobble.json'), 'utf8'));

// A minimal creature: `rows` for idle, a copy for every other required frame.
export function creature(rows, extra = {}) {
  const frames = {};
  for (const f of ['idle', 'idle2', 'run1', 'run2', 'sleep', 'attack']) frames[f] = rows;
  return Object.assign({ name: 'Test', palette: { a: '#ff0000', b: '#00ff00' }, frames, attacks: ['zap'], sound: 'HI!' }, extra);
}

// The exact texts the host evaluates, run against a page object `qx`.
export function evaluate(qx, text) {
  return new Function('qx', text)(qx);
}
