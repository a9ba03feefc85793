// Runs trace.js from the web folder copy given as the argument, as the light
// host's test asks, and prints the scene's picture at the end of each case:
// one line of width, height and base64 RGBA.
import path from 'node:path';
import { pathToFileURL } from 'node:url';

globalThis.qxHost = {
  present: () => {},
  caseDone: (buf) => process.stdout.write(`${buf.w} ${buf.h} ${Buffer.from(buf.data.buffer).toString('base64')}\n`),
  postMessage: () => {},
  setTimeout: (fn, ms) => setTimeout(fn, ms),
};
await import(pathToFileURL(path.join(process.argv[2], 'js', 'trace.js')).href);
