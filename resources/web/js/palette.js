// The house palette: every colour the page owns comes from here.
import { rgb } from './pixels.js';

const HEX = {
  outline: '#120d1c',
  night0: '#0e0b24', // top of the sky
  night1: '#16133a',
  night2: '#221b4d',
  night3: '#33265e',
  dusk: '#4b2f68', // horizon glow
  glow: '#7a3a6e', // the horizon when the music is loud
  star: '#e8e4ff',
  starDim: '#8f8bc6',
  moon: '#f4eed0',
  moonShade: '#c9c09a',
  hillFar: '#1d1a42',
  hillNear: '#171536',
  tree: '#10122b',
  grass0: '#1d2f3a', // grass at night
  grass1: '#2b4454',
  grassTip: '#3f6270', // blades catching the moonlight
  grassLit: '#4a4636', // grass in the fire light
  grassLit2: '#6a5a3a',
  dirt0: '#2a1f2e',
  dirt1: '#3b2a36',
  stone: '#52506e',
  stoneLit: '#8a7a84',
  log: '#5a3524',
  logLit: '#8c5534',
  ember: '#ff4a2a',
  fire0: '#d8322c', // outer flame
  fire1: '#ff7a22',
  fire2: '#ffc63a',
  fire3: '#fff3b0', // core
  white: '#ffffff',
  paleYellow: '#fff6c8',
  gold: '#ffd24a',
  red: '#e8384a',
  orange: '#ff8a2a',
  green: '#5fcf52',
  leaf: '#2f8f46',
  leafBrown: '#9a6a2e',
  earth: '#7a5236',
  earthDark: '#4e3324',
  cyan: '#62e4ff',
  ice: '#bff4ff',
  water: '#2f8ee8',
  waterDeep: '#1d4fa8',
  violet: '#a35cff',
  yellow: '#ffe84a',
  shadow: '#0b0818',
  steel: '#c8d0e0',
  steelDark: '#7a829a',
  skin: '#f2c29a',
  skinDark: '#c98a64',
};

export const C = {};
for (const [k, v] of Object.entries(HEX)) C[k] = rgb(v);
export const HEX_COLOURS = HEX;
