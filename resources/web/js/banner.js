// The song banner: when a new track starts, a parchment banner drops in at
// the top of the card with the title (and the artist) in the pixel font,
// stays a few seconds and rolls up again. The methods are the Scene's own
// (scene.js installs them) and read its state.
import { OUTLINE } from './pixels.js';
import { C } from './palette.js';
import { drawText, textWidth, GLYPH_H } from './font.js';

export const BANNER_S = 6;
const DROP_S = 0.3; // sliding in, and again rolling up
const MAX_TEXT = 5000;

// The song of a qx.nowPlaying call: {title, artist} with text values, or
// null for none. Anything else throws, leaving the scene as it was.
export function parseSong(arg) {
  if (arg === null || arg === undefined) return null;
  if (typeof arg !== 'object' || typeof arg.title !== 'string') {
    throw new Error('qx.nowPlaying expects {title, artist} or null');
  }
  const artist = typeof arg.artist === 'string' ? arg.artist : '';
  return { title: arg.title.slice(0, MAX_TEXT), artist: artist.slice(0, MAX_TEXT) };
}

// What the font can draw: accents dropped where the engine can split them
// off, line breaks and tabs as spaces, runs of spaces as one.
export function bannerText(text) {
  let t = String(text);
  try {
    t = t.normalize('NFD').replace(/[\u0300-\u036f]/g, '');
  } catch (e) {
    // An engine without normalize draws accented letters as "?".
  }
  return t.replace(/\s+/g, ' ').trim().toUpperCase();
}

// `text` cut to at most `width` pixels, ending in ".." when cut.
export function fitText(text, width) {
  if (textWidth(text) <= width) return text;
  const n = Math.max(0, Math.floor((width + 1) / 6) - 2);
  return text.slice(0, n).replace(/\s+$/, '') + '..';
}

export const bannerDrawing = {
  showSong(song, now) {
    this.song = song ? { title: song.title, artist: song.artist, from: now, until: now + BANNER_S } : null;
  },

  // The song while its banner is up, else null.
  songShown(now = this.now) {
    return this.song && now < this.song.until ? this.song : null;
  },

  drawBanner(buf, now) {
    const song = this.songShown(now);
    if (!song) return;
    const pad = 4;
    const maxW = Math.max(20, this.w - 16);
    // Title and artist on two lines where the card is tall enough, else on one.
    const two = song.artist !== '' && this.h >= 48;
    const line = two || song.artist === '' ? song.title : `${song.title} - ${song.artist}`;
    const first = fitText(bannerText(line) || '?', maxW - 2 * pad - 8);
    const second = two ? fitText(bannerText(song.artist), maxW - 2 * pad) : '';
    const bw = Math.min(maxW, Math.max(textWidth(first) + 8, textWidth(second)) + 2 * pad);
    const bh = (two ? 2 * GLYPH_H + 3 : GLYPH_H) + 2 * pad - 1;
    const top = this.strip ? 2 : 5;
    // Drops in from above the card and rolls up again at the end.
    const age = now - song.from, left = song.until - now;
    const shown = Math.min(1, age / DROP_S, left / DROP_S);
    const y = Math.round(top - (1 - shown) * (bh + top + 2));
    const x = Math.round((this.w - bw) / 2);
    // Rods at both ends, a dark rim, parchment.
    buf.fill(x - 3, y + 1, bw + 6, 2, OUTLINE);
    buf.fill(x - 2, y + 1, 1, 2, C.leafBrown);
    buf.fill(x + bw + 1, y + 1, 1, 2, C.leafBrown);
    buf.fill(x, y, bw, bh, OUTLINE);
    buf.fill(x + 1, y + 1, bw - 2, bh - 2, C.paleYellow);
    buf.fill(x + 1, y + bh - 3, bw - 2, 1, C.moonShade);
    // A note before the title.
    const ny = y + pad;
    const nx = x + pad;
    buf.fill(nx + 3, ny, 1, 5, C.earthDark);
    buf.fill(nx + 4, ny, 2, 1, C.earthDark);
    buf.fill(nx + 1, ny + 4, 3, 2, C.earthDark);
    drawText(buf, first, nx + 8, ny, OUTLINE);
    if (two) drawText(buf, second, x + Math.round((bw - textWidth(second)) / 2), ny + GLYPH_H + 3, C.earth);
  },
};
