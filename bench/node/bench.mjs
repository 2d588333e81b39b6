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
import { monitorEventLoopDelay } from 'node:perf_hooks';

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

function timed(parse) {
  globalThis.gc?.();
  const t0 = process.hrtime.bigint();
  const result = parse();
  return [Number(process.hrtime.bigint() - t0) / 1e9, result];
}

// The parsers take turns, so that a change in the machine's load falls on
// all of them; the ratios are the medians of the ratios of each turn.
const rows = [
  ['kavlo parse(Buffer)', () => kavlo.parse(bytes).items],
  ['kavlo parse(string)', () => kavlo.parse(text).items],
  ['iptv-playlist-parser', () => peer.parse(text).items],
];
const times = rows.map(() => []);
const counts = [];
let sameUrls = true;
for (let i = 0; i < runs; ++i) {
  const urls = [];
  rows.forEach(([, parse], r) => {
    const [seconds, items] = timed(parse);
    times[r].push(seconds);
    counts[r] = items.length;
    if (i === 0) urls[r] = r === 2 ? items.map((it) => it.url) : items.map((it) => it.location);
  });
  if (i === 0) sameUrls = urls[0].length === urls[2].length && urls[0].every((u, j) => u === urls[2][j]);
}
console.log(`${path.basename(file)}: ${mb.toFixed(1)} MB, median of ${runs} runs, parsers in turns`);
rows.forEach(([name], r) => {
  const s = median(times[r]);
  console.log(`${name.padEnd(22)} ${s.toFixed(3).padStart(7)} s ${(mb / s).toFixed(1).padStart(8)} MB/s ` +
    `${String(counts[r]).padStart(8)} entries`);
});
const ratio = (r) => median(times[2].map((t, i) => t / times[r][i])).toFixed(1);
console.log(`kavlo parse(Buffer) is ${ratio(0)}x as fast as iptv-playlist-parser, parse(string) ${ratio(1)}x; ` +
  `same entry count: ${counts[0] === counts[2]}, same URLs: ${sameUrls}`);

// A 10 ms timer set as parseAsync starts; its lateness is how long the event
// loop was held. The longest stall of the loop until the promise settles is
// measured too (the objects of the result are made on the main thread, in
// slices).
const late = [];
const stalls = [];
for (let i = 0; i < runs; ++i) {
  globalThis.gc?.();
  const delay = monitorEventLoopDelay({ resolution: 1 });
  delay.enable();
  const t0 = performance.now();
  let fired = 0;
  const timer = new Promise((resolve) => setTimeout(() => { fired = performance.now() - t0; resolve(); }, 10));
  const result = await kavlo.parseAsync(bytes);
  const settled = performance.now() - t0;
  await timer;
  delay.disable();
  late.push(fired);
  stalls.push(delay.max / 1e6);
  if (i === 0) console.log(`parseAsync: ${result.items.length} entries in ${settled.toFixed(0)} ms`);
}
console.log(`10 ms timer during parseAsync fired after ${median(late).toFixed(1)} ms (median; max ` +
  `${Math.max(...late).toFixed(1)} ms); longest event-loop stall until it settled ${median(stalls).toFixed(1)} ms (median)`);
