// The light host's page: the program runs the scene in its own script engine
// and paints the pixels itself. `qxHost` is what the program gives the page:
// now(), setTimeout(), clearTimeout(), size(), postMessage() and present().
// The program makes the exported `qx` the global one.
import { startPage } from './page.js';

/* global qxHost */
const host = qxHost;

export const { qx } = startPage({
  now: () => host.now(),
  setTimeout: (fn, ms) => host.setTimeout(fn, ms),
  clearTimeout: (id) => host.clearTimeout(id),
  present: (buf, r) => host.present(buf.data.buffer, buf.w, buf.h, r.x, r.y, r.w, r.h),
  post: (body) => host.postMessage(body),
  size: () => host.size(),
});
host.postMessage({ ready: true });
