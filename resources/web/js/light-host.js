// What page.js needs, made of what the light host gives the page as
// `qxHost`: now(), setTimeout(), clearTimeout(), size(), postMessage() and
// present(), which takes the whole picture and the rectangle that changed.
export function lightHost(q) {
  return {
    now: () => q.now(),
    setTimeout: (fn, ms) => q.setTimeout(fn, ms),
    clearTimeout: (id) => q.clearTimeout(id),
    present: (buf, r) => q.present(buf.data.buffer, buf.w, buf.h, r.x, r.y, r.w, r.h),
    post: (body) => q.postMessage(body),
    size: () => q.size(),
  };
}
