// Letter-coded pixel art turned into sprites with a one-pixel dark outline.
import { rgb, OUTLINE } from './pixels.js';

export const REQUIRED_FRAMES = ['idle', 'idle2', 'run1', 'run2', 'sleep', 'attack'];
export const OPTIONAL_FRAMES = ['crouch', 'leap', 'walk1', 'walk2', 'skid', 'sleep2'];
export const MAX_W = 40;
export const MAX_H = 32;

const HEX_COLOUR = /^#?([0-9a-fA-F]{3}|[0-9a-fA-F]{6})$/;

// Colour text ("#rrggbb" or "#rgb") to a packed colour, or null.
export function parseColour(text) {
  if (typeof text !== 'string') return null;
  const m = HEX_COLOUR.exec(text.trim());
  if (!m) return null;
  let h = m[1];
  if (h.length === 3) h = h[0] + h[0] + h[1] + h[1] + h[2] + h[2];
  return rgb('#' + h);
}

// Rows of characters (one per pixel, "." transparent) and a map from character
// to packed colour, to a sprite {w, h, px} one pixel larger on every side, with
// the outline drawn around the coloured pixels (four neighbours, not diagonal).
export function spriteFromRows(rows, colours, w, h) {
  const W = w + 2, H = h + 2;
  const px = new Uint32Array(W * H);
  rows.forEach((row, y) => {
    const chars = Array.from(row);
    for (let x = 0; x < Math.min(w, chars.length); x++) {
      const c = colours[chars[x]];
      if (c) px[(y + 1) * W + x + 1] = c;
    }
  });
  const filled = px.slice();
  for (let y = 0; y < H; y++)
    for (let x = 0; x < W; x++) {
      if (filled[y * W + x]) continue;
      if ((x > 0 && filled[y * W + x - 1]) || (x < W - 1 && filled[y * W + x + 1]) ||
          (y > 0 && filled[(y - 1) * W + x]) || (y < H - 1 && filled[(y + 1) * W + x]))
        px[y * W + x] = OUTLINE;
    }
  // The rows actually used, so that callers can stand a sprite on its lowest pixel.
  let bottom = 0, top = H;
  for (let y = 0; y < H; y++)
    for (let x = 0; x < W; x++)
      if (px[y * W + x]) { bottom = y; if (top === H) top = y; break; }
  return { w: W, h: H, px, top, bottom };
}

function isPlainObject(v) {
  return v !== null && typeof v === 'object' && !Array.isArray(v);
}

// Turns one creature object (the JSON form the host sends) into what the scene
// draws: outlined sprites for every known frame it has, missing optional poses
// filled from the nearest required one. Throws an Error with a readable message
// when the object cannot be drawn at all.
export function decodeCreature(obj) {
  if (!isPlainObject(obj)) throw new Error('a familiar is not an object');
  const name = typeof obj.name === 'string' && obj.name.trim() ? obj.name.trim().slice(0, 40) : 'Buddy';
  if (!isPlainObject(obj.palette)) throw new Error(`familiar "${name}" has no palette`);
  if (!isPlainObject(obj.frames)) throw new Error(`familiar "${name}" has no frames`);
  const colours = {};
  for (const [k, v] of Object.entries(obj.palette)) {
    const c = parseColour(v);
    if (c && k !== '.' && Array.from(k).length === 1) colours[k] = c;
  }
  const known = REQUIRED_FRAMES.concat(OPTIONAL_FRAMES);
  const raw = {};
  for (const f of known) {
    const rows = obj.frames[f];
    if (rows === undefined || rows === null) continue;
    if (!Array.isArray(rows) || rows.some((r) => typeof r !== 'string'))
      throw new Error(`familiar "${name}": frame "${f}" is not a list of rows`);
    if (rows.length) raw[f] = rows.slice(0, MAX_H).map((r) => Array.from(r).slice(0, MAX_W).join(''));
  }
  if (!raw.idle) throw new Error(`familiar "${name}" has no "idle" frame`);
  let w = 1, h = 1;
  for (const rows of Object.values(raw)) {
    h = Math.max(h, rows.length);
    for (const r of rows) w = Math.max(w, Array.from(r).length);
  }
  // Same size for every frame: pad on the right and at the top; stand every pose
  // except the leap on its lowest drawn row.
  const frames = {};
  for (const [f, rows0] of Object.entries(raw)) {
    let rows = rows0.slice();
    while (rows.length < h) rows.unshift('');
    if (f !== 'leap') {
      let blank = 0;
      while (blank < rows.length && !/[^.]/.test(rows[rows.length - 1 - blank])) blank++;
      if (blank < rows.length) rows = Array(blank).fill('').concat(rows.slice(0, rows.length - blank));
    }
    frames[f] = spriteFromRows(rows, colours, w, h);
  }
  const fallback = {
    idle2: 'idle', run1: 'idle', run2: 'run1', sleep: 'idle', attack: 'idle',
    crouch: 'idle', leap: 'run1', walk1: 'run1', walk2: 'run2', skid: 'idle', sleep2: 'sleep',
  };
  for (const f of known) if (!frames[f]) frames[f] = frames[fallback[f]];
  const attacks = Array.isArray(obj.attacks) ? obj.attacks.filter((a) => typeof a === 'string').map((a) => a.toLowerCase()) : [];
  const has = {};
  for (const f of known) has[f] = Boolean(raw[f]);
  const sound = typeof obj.sound === 'string' ? obj.sound.toUpperCase().replace(/[^A-Z!]/g, '').slice(0, 7) : '';
  return {
    name,
    w: w + 2,
    h: h + 2,
    frames,
    has,
    attacks,
    sound: sound || 'ROAR!',
  };
}

// ---------------------------------------------------------------------------
// The house cast. Warriors share one body drawn in role letters; each kind
// brings its own colours and weapon.
// h hair or helmet, s skin, e eye, a armour or robe, t trim and belt,
// l legs, b boots, g gear (hat, plume, hood)

const BODY = {
  stand: [
    '................',
    '................',
    '.....gg.........',
    '.....hhhhh......',
    '....hhhhhhh.....',
    '....hhsssss.....',
    '....hsssess.....',
    '....hssssss.....',
    '.....sssss......',
    '.....aaaaa......',
    '....aaaaaas.....',
    '....aatttas.....',
    '.....aaaaa......',
    '.....ll.ll......',
    '.....ll.ll......',
    '.....bb.bbb.....',
  ],
  step: [
    '................',
    '................',
    '................',
    '.....gg.........',
    '.....hhhhh......',
    '....hhhhhhh.....',
    '....hhsssss.....',
    '....hsssess.....',
    '....hssssss.....',
    '.....sssss......',
    '.....aaaaas.....',
    '....aaaaaas.....',
    '....aatttaa.....',
    '....ll...ll.....',
    '...ll.....ll....',
    '...bb.....bbb...',
  ],
  windup: [
    '................',
    '................',
    '....gg..........',
    '....hhhhh.......',
    '...hhhhhhh......',
    '...hhsssss......',
    '...hsssess......',
    '...hssssss......',
    '....sssss.......',
    '...saaaaa.......',
    '...saaaaaa......',
    '....atttaa......',
    '....aaaaaa......',
    '....ll..ll......',
    '...ll....ll.....',
    '...bb....bbb....',
  ],
  strike: [
    '................',
    '................',
    '................',
    '......gg........',
    '......hhhhh.....',
    '.....hhhhhhh....',
    '.....hhsssss....',
    '.....hsssess....',
    '.....hssssss....',
    '......sssss.....',
    '.....aaaaaass...',
    '....aaaaaaa.....',
    '....aatttaa.....',
    '....ll...ll.....',
    '...ll.....ll....',
    '..bb......bbb...',
  ],
  sleep: [
    '................',
    '................',
    '................',
    '................',
    '................',
    '................',
    '................',
    '................',
    '................',
    '................',
    '................',
    '..hhhh..........',
    '.hhssss.aaaaa...',
    '.hsssssaaattaall',
    '.hhssss.aaaaalbb',
    '..hhhh..........',
  ],
};

// Where the weapon hand is in each pose, and the weapon's angle in degrees
// (0 = pointing right, 90 = down).
export const HANDS = {
  stand: { x: 11, y: 11, a: -60 },
  step: { x: 11, y: 11, a: -50 },
  windup: { x: 4, y: 9, a: -150 },
  strike: { x: 13, y: 10, a: 10 },
  sleep: { x: 13, y: 14, a: 0 },
};

export const WARRIOR_KINDS = {
  knight: {
    colours: { h: '#c8d0e0', s: '#f2c29a', e: '#120d1c', a: '#5a74c8', t: '#ffd24a', l: '#2e3358', b: '#6a4a34', g: '#e8384a' },
    weapon: 'sword',
  },
  archer: {
    colours: { h: '#3f9a4a', s: '#f2c29a', e: '#120d1c', a: '#6a8a3a', t: '#8a5a34', l: '#3b2a36', b: '#5a3a24', g: '#2f7a3a' },
    weapon: 'bow',
  },
  mage: {
    colours: { h: '#7a4ad0', s: '#f2c29a', e: '#120d1c', a: '#5b3aa0', t: '#ffd24a', l: '#3b2a6a', b: '#2a1f3e', g: '#a35cff' },
    weapon: 'staff',
  },
  barbarian: {
    colours: { h: '#d8602a', s: '#e0a87a', e: '#120d1c', a: '#8a5a34', t: '#c8d0e0', l: '#4e3324', b: '#3b2418', g: '#d8602a' },
    weapon: 'axe',
  },
};
export const WARRIOR_ORDER = ['knight', 'archer', 'mage', 'barbarian'];

const warriorCache = new Map();

// The five poses of one kind of warrior, as outlined 18x18 sprites.
export function warriorSprites(kind) {
  if (warriorCache.has(kind)) return warriorCache.get(kind);
  const def = WARRIOR_KINDS[kind];
  const colours = {};
  for (const [k, v] of Object.entries(def.colours)) colours[k] = rgb(v);
  const poses = {};
  for (const [pose, rows] of Object.entries(BODY)) {
    let r = rows;
    if (kind === 'mage') r = mageHat(rows);
    if (kind === 'knight') r = rows.map((row) => row.replace(/g/g, '.'));
    poses[pose] = spriteFromRows(r, colours, 16, 16);
  }
  if (kind === 'knight') {
    // A red plume on the helmet.
    for (const pose of Object.keys(poses)) if (pose !== 'sleep') addPlume(poses[pose], rows(pose), colours.g);
  }
  warriorCache.set(kind, poses);
  return poses;
  function rows(p) { return BODY[p]; }
}

function mageHat(rows) {
  // A tall pointed hat: the gear letters become the hat's brim and tip.
  const out = rows.slice();
  const gi = rows.findIndex((r) => r.includes('g'));
  if (gi < 0) return out;
  const gx = rows[gi].indexOf('g');
  const put = (y, x, ch) => { if (y >= 0) out[y] = out[y].slice(0, x) + ch + out[y].slice(x + 1); };
  put(gi, gx, 'g'); put(gi, gx + 1, 'g'); put(gi, gx + 2, 'g');
  put(gi - 1, gx + 1, 'g'); put(gi - 1, gx, 'g');
  put(gi - 2, gx, 'g');
  const hy = gi + 1;
  out[hy] = out[hy].replace(/h/g, 'g');
  return out;
}

function addPlume(sprite, rows, colour) {
  const gi = rows.findIndex((r) => r.includes('g'));
  if (gi < 0) return;
  const gx = rows[gi].indexOf('g');
  const W = sprite.w;
  sprite.px[(gi + 1) * W + gx + 1] = colour;
  sprite.px[(gi + 1) * W + gx] = colour;
}

// ---------------------------------------------------------------------------
// Monsters: two frames each, drawn facing left (they come at the party).

const MONSTERS = {
  slime: {
    colours: { g: '#5fcf52', d: '#2f8f46', w: '#ffffff', e: '#120d1c', l: '#b8ff9a' },
    frames: [
      [
        '..........',
        '..........',
        '...gggg...',
        '..gllggg..',
        '.glgggggg.',
        '.gweggweg.',
        'ggeegeeggg',
        'gggggggggg',
        'dggggggggd',
        '.dddddddd.',
      ],
      [
        '..........',
        '..........',
        '..........',
        '...gggg...',
        '.gllggggg.',
        'glggggggg.',
        'gweggggweg',
        'geegggeegg',
        'gggggggggg',
        'dddddddddd',
      ],
    ],
    hp: 3, speed: 9, fly: 0,
  },
  bat: {
    colours: { b: '#5a3a8a', d: '#3a2460', r: '#ff4a5a', w: '#e8e4ff' },
    frames: [
      [
        'b..........b',
        'bb........bb',
        'bbb.b..b.bbb',
        '.bbbbbbbbbb.',
        '..bbrbbrbb..',
        '...bbbbbb...',
        '....bwwb....',
        '.....bb.....',
      ],
      [
        '............',
        '............',
        '....b..b....',
        '..bbbbbbbb..',
        '.bbbrbbrbbb.',
        'bbdbbbbbbdbb',
        'bd..bwwb..db',
        'd....bb....d',
      ],
    ],
    hp: 2, speed: 16, fly: 1,
  },
  goblin: {
    colours: { g: '#7ab648', d: '#4e7a2e', e: '#ffe84a', c: '#8a5a34', k: '#120d1c', w: '#c8d0e0' },
    frames: [
      [
        '............',
        '..g.....g...',
        '..gggggggg..',
        '..geggegg...',
        '..gggggggg..',
        '...gkkkgg...',
        '....gggg....',
        '..cccccccg..',
        '.gccccccc...',
        '..ccccccc...',
        '...dd..dd...',
        '...dd..dd...',
      ],
      [
        '............',
        '............',
        '..g.....g...',
        '..gggggggg..',
        '..geggegg...',
        '..gggggggg..',
        '...gkkkgg...',
        '..cgggggc...',
        '.gccccccc...',
        '..ccccccc...',
        '..dd....dd..',
        '.dd......dd.',
      ],
    ],
    hp: 4, speed: 11, fly: 0,
  },
  knightmare: {
    // The boss: a horned brute, twice a common monster's size.
    colours: { r: '#b8324a', d: '#7a1f36', h: '#f4eed0', e: '#ffe84a', k: '#120d1c', a: '#52506e', s: '#8a7a84' },
    frames: [
      [
        '......................',
        '..h.................h.',
        '..hh..............hh..',
        '...hh..rrrrrrrr..hh...',
        '....hhrrrrrrrrrrhh....',
        '.....rrrrrrrrrrrr.....',
        '....rrreerrrreerrr....',
        '....rrrkerrrrkerrr....',
        '....rrrrrrrrrrrrrr....',
        '....rrkhkhkhkhkrrr....',
        '.....rrkkkkkkkkrr.....',
        '...aaarrrrrrrrrraaa...',
        '..aasaaaaaaaaaaaasaa..',
        '..aassaaaaaaaaaassaa..',
        '..rrr.aaaaaaaaaa.rrr..',
        '..rrr.aaassssaaa.rrr..',
        '..rr..aaaaaaaaaa..rr..',
        '......ddddd.ddddd.....',
        '......ddddd.ddddd.....',
        '......dddd...dddd.....',
        '.....sssss...sssss....',
        '......................',
      ],
      [
        '......................',
        '......................',
        '..h.................h.',
        '..hh..............hh..',
        '...hh..rrrrrrrr..hh...',
        '....hhrrrrrrrrrrhh....',
        '.....rrrrrrrrrrrr.....',
        '....rrreerrrreerrr....',
        '....rrrkerrrrkerrr....',
        '....rrrrrrrrrrrrrr....',
        '....rrkhkhkhkhkrrr....',
        '...aaarkkkkkkkkraaa...',
        '..aasaaaaaaaaaaaasaa..',
        '..aassaaaaaaaaaassaa..',
        '..rrr.aaaaaaaaaa.rrr..',
        '..rrr.aaassssaaa.rrr..',
        '..rr..aaaaaaaaaa..rr..',
        '......ddddd.ddddd.....',
        '.....ddddd...ddddd....',
        '.....dddd.....dddd....',
        '....sssss.....sssss...',
        '......................',
      ],
    ],
    hp: 14, speed: 6, fly: 0, boss: true,
  },
};
export const MONSTER_KINDS = Object.keys(MONSTERS);

const monsterCache = new Map();
export function monsterDef(kind) {
  if (monsterCache.has(kind)) return monsterCache.get(kind);
  const d = MONSTERS[kind];
  const colours = {};
  for (const [k, v] of Object.entries(d.colours)) colours[k] = rgb(v);
  const frames = d.frames.map((rows) => spriteFromRows(rows, colours, rows[0].length, rows.length));
  const def = { kind, frames, hp: d.hp, speed: d.speed, fly: d.fly, boss: Boolean(d.boss) };
  monsterCache.set(kind, def);
  return def;
}

// A tent for the camp: 24 x 16.
const TENT = [
  '...........tt...........',
  '..........tllt..........',
  '.........tllddt.........',
  '........tllldddt........',
  '.......tlllldddtt.......',
  '......tllllldddddt......',
  '.....tlllllkdddddt......',
  '....tllllllkkddddddt....',
  '...tlllllllkkkdddddt....',
  '..tllllllllkkkkdddddt...',
  '..tlllllllkkkkkddddddt..',
  '.tllllllllkkkkkkdddddt..',
  'tllllllllkkkkkkkdddddddt',
  'tttttttttttttttttttttttt',
];
let tentSprite = null;
export function tent() {
  if (!tentSprite)
    tentSprite = spriteFromRows(TENT, { t: rgb('#4e3324'), l: rgb('#b8864a'), d: rgb('#7a5236'), k: rgb('#1b1228') }, 24, TENT.length);
  return tentSprite;
}
