// kavlo's Node.js package next to iptv-playlist-parser, in one process, on
// a generated M3U list: the median time of each parse returning JavaScript
// objects and the number of entries each finds; then how late a 10 ms
// timer fires while parseAsync works on the same list.
//
// Usage: node bench/node/bench.mjs FILE [RUNS]
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import path from 'node:path';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const require = createRequire(import.meta.url);
const kavlo = require(path.join(root, 'node'));
const peer = require(path.join(root, 'bench', 'peers', 'node_modules', 'iptv-playlist-parser'));

const file = process.argv[2];
const runs = Number(process.argv[3] || 5);
const bytes = readFileSync(file);
const text = bytes.toString('utf8');
const mb = bytes.length / 1e6;

function median(xs) {
  const s = [...xs].sort((a, b) => a - b);
  return s[s.length >> 1];
}

function time(parse) {
  const times = [];
  let count = 0;
  for (let i = 0; i < runs; ++i) {
    globalThis.gc?.();
    const t0 = process.hrtime.bigint();
    count = parse();
    times.push(Number(process.hrtime.bigint() - t0) / 1e9);
  }
  return { seconds: median(times), count };
}

const rows = [
  ['kavlo parse(Buffer)', time(() => kavlo.parse(bytes).items.length)],
  ['kavlo parse(string)', time(() => kavlo.parse(text).items.length)],
  ['iptv-playlist-parser', time(() => peer.parse(text).items.length)],
];
console.log(`${path.basename(file)}: ${mb.toFixed(1)} MB, median of ${runs} runs`);
for (const [name, r] of rows) {
  console.log(`${name.padEnd(22)} ${r.seconds.toFixed(3).padStart(7)} s ${(mb / r.seconds).toFixed(1).padStart(8)} MB/s ` +
    `${String(r.count).padStart(8)} entries`);
}
const base = rows[2][1].seconds;
console.log(`kavlo parse(Buffer) is ${(base / rows[0][1].seconds).toFixed(1)}x as fast as iptv-playlist-parser, ` +
  `parse(string) ${(base / rows[1][1].seconds).toFixed(1)}x; same entry count: ${rows[0][1].count === rows[2][1].count}`);

// A 10 ms timer set as parseAsync starts; its lateness is how long the event
// loop was held.
const late = [];
for (let i = 0; i < runs; ++i) {
  const t0 = performance.now();
  let fired = 0;
  const timer = new Promise((resolve) => setTimeout(() => { fired = performance.now() - t0; resolve(); }, 10));
  const result = await kavlo.parseAsync(bytes);
  const settled = performance.now() - t0;
  await timer;
  late.push(fired);
  if (i === 0) console.log(`parseAsync: ${result.items.length} entries in ${settled.toFixed(0)} ms`);
}
console.log(`10 ms timer during parseAsync fired after ${median(late).toFixed(1)} ms (median; max ` +
  `${Math.max(...late).toFixed(1)} ms)`);
