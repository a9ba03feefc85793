// The page as both renderer hosts run it: the scene, the global `qx`, and
// the frame loop that draws 15 times a second while anything moves (and at
// once for a beat) and a few times a second while the party sleeps. Only the
// part of a picture that differs from the one shown goes to the host.
//
// The host gives:
//   now()                 monotonic milliseconds
//   setTimeout(fn, ms)    a one-shot timer, returning an id
//   clearTimeout(id)
//   present(buf, rect)    show rect {x, y, w, h} of the PixelBuffer `buf`
//   comparesPictures      true when present() should get every picture whole
//   post(body)            a message to the program ("ready", "error")
//   size()                {W, H}: the window before the program configures it
//
// Frames come from timers, never from a display's frame callback, which would
// keep an engine's frame machinery running even on frames that draw nothing.
// Only what Qt's own script engine (V4, Qt 6.4) runs belongs here and in
// everything it imports.
import { Scene } from './scene.js';
import { createQx, FrameTimer, FramePacer } from './api.js';

export function startPage(host) {
  const clock = () => host.now() / 1000;
  const scene = new Scene(clock());
  const timer = new FrameTimer();
  const pacer = new FramePacer();
  let pending = null; // {slow, id}: the timer of the next frame
  let lastKey = null;
  let shownW = 0;
  let shownH = 0;

  function frame() {
    pending = null;
    const t0 = host.now();
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
    scene.draw();
    const buf = scene.buf;
    if (buf.w !== shownW || buf.h !== shownH) {
      // A new size: the host starts from an empty picture.
      shownW = buf.w;
      shownH = buf.h;
      pacer.forget();
    }
    // An unchanged picture leaves the host alone: nothing to repaint. A host
    // that compares pictures itself, in native code where it costs little,
    // is given each one whole.
    const r = host.comparesPictures ? { x: 0, y: 0, w: buf.w, h: buf.h } : pacer.changed(buf.px, buf.w);
    if (r) host.present(buf, r);
    lastKey = key;
    timer.record(t0, host.now() - t0);
  }

  // At the pacer's rate while anything moves; while the party sleeps, only
  // when the picture is next due to change.
  function schedule() {
    if (pending) return;
    const slow = scene.slow();
    let delay;
    if (slow) {
      if (scene.still() && lastKey !== null) return; // drawn once asleep; nothing will move until a call wakes it
      delay = Math.max(20, Math.ceil((scene.nextVisualChange() - clock()) * 1000) + 2);
    } else {
      delay = pacer.wait(host.now());
    }
    pending = { slow, id: host.setTimeout(frame, delay) };
  }

  // A tick with sound must not wait for the slow timer, and a beat is drawn
  // at once when the pacer allows it; a new configuration or new familiars
  // (`changed`) are drawn at once.
  function wake(beat = false, changed = false) {
    lastKey = null;
    const now = host.now();
    const drawBeat = changed ? pacer.take(now) : beat && !scene.slow() && pacer.due(now, true);
    if (pending && (pending.slow || drawBeat)) {
      host.clearTimeout(pending.id);
      pending = null;
    }
    if (drawBeat) draw(now);
    schedule();
  }

  const { qx, fail } = createQx(scene, host.post, clock, {
    wake,
    report: () => timer.report(host.now()),
  });

  // Before the program configures the page, fill the window it was given.
  try {
    const { W, H } = host.size();
    qx.config({ W: Math.max(32, W | 0), H: Math.max(32, H | 0) });
  } catch (e) {
    fail(e.message);
  }
  schedule();
  return { qx, fail, scene };
}
