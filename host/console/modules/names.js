// Champions and spells have no names or pictures of their own here: each id
// gets a made-up name and a colour that stay the same on every load.

const ONSETS = ["b", "d", "f", "g", "k", "l", "m", "n", "p", "r", "s", "t", "v", "z", "th", "sh", "kr", "dr", "vel", "mor"];
const VOWELS = ["a", "e", "i", "o", "u", "ae", "ia", "ou", "y"];
const CODAS = ["", "", "n", "r", "s", "th", "x", "l", "sk", "nd"];

// A small integer hash (mulberry32's mixing step): neighbouring ids land far
// apart, so champion 7 and champion 8 do not look alike.
function mix(seed) {
  let t = (seed + 0x6d2b79f5) >>> 0;
  t = Math.imul(t ^ (t >>> 15), t | 1);
  t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
  return (t ^ (t >>> 14)) >>> 0;
}

function generatedName(id, salt) {
  let state = mix(id * 7919 + salt);
  const next = (n) => {
    state = mix(state);
    return state % n;
  };
  const syllables = 2 + next(2);
  let name = "";
  for (let i = 0; i < syllables; i++) {
    name += ONSETS[next(ONSETS.length)] + VOWELS[next(VOWELS.length)];
    if (i === syllables - 1) name += CODAS[next(CODAS.length)];
  }
  return name.charAt(0).toUpperCase() + name.slice(1);
}

export function championName(id) {
  return id > 0 ? generatedName(id, 1) : "—";
}

export function championColour(id) {
  if (!(id > 0)) return "hsl(220 10% 40%)";
  const h = mix(id) % 360;
  return `hsl(${h} 65% 45%)`;
}

export function spellName(id) {
  return id > 0 ? generatedName(id, 2) : "—";
}

// A skin id is the champion's id times 1000 plus the skin's number.
export function skinName(skinId) {
  const champion = Math.floor(skinId / 1000);
  const number = skinId % 1000;
  return number === 0 ? `${championName(champion)} (base)` : `${championName(champion)} skin ${number}`;
}
