// The light host's page: the program runs the scene in its own script engine
// and paints the pixels itself. The program makes the exported `qx` the
// global one.
import { startPage } from './page.js';
import { lightHost } from './light-host.js';

/* global qxHost */
export const { qx } = startPage(lightHost(qxHost));

qxHost.postMessage({ ready: true });
