// What page.js needs, made of what the light host gives the page as
// `qxHost`: now(), setTimeout(), clearTimeout(), size(), postMessage() and
// present(), which takes the whole picture and the rectangle that changed.
// The program finds what changed itself: element reads of a typed array cost
// its script engine far more than the comparison costs in native code.
export function lightHost(q) {
  return {
    comparesPictures: true,
    now: () => q.now(),
    setTimeout: (fn, ms) => q.setTimeout(fn, ms),
    clearTimeout: (id) => q.clearTimeout(id),
    present: (buf, r) => q.present(buf.data.buffer, buf.w, buf.h, r.x, r.y, r.w, r.h),
    post: (body) => q.postMessage(body),
    size: () => q.size(),
  };
}
