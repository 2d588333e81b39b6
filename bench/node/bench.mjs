// kavlo's Node.js package, in one process:
// 1. parse() of the 64 MB M3U list next to iptv-playlist-parser: the median
//    time of each parse returning JavaScript objects, with one pass reading
//    every entry's URL and title, and the entries each finds;
// 2. parseFileAsync() of the four 16 MB inputs, all four at once against
//    one after another, and how late a 10 ms timer set as they start fires.
//
// Usage: node --expose-gc bench/node/bench.mjs DATA_DIR [RUNS]
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

const dir = process.argv[2];
const runs = Number(process.argv[3] || 5);
const file = path.join(dir, 'm3u-64MB.m3u');
const bytes = readFileSync(file);
const text = bytes.toString('utf8');
const mb = bytes.length / 1e6;

const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];

// Every entry's URL and title, so that nothing is left unread.
function walk(items, url, title) {
  let n = 0;
  for (const it of items) n += it[url].length + it[title].length;
  return n;
}

// Wall-clock seconds, and the CPU seconds of the whole process (V8's
// collector threads included), which a loaded machine disturbs less.
const cpuNow = () => { const u = process.cpuUsage(); return (u.user + u.system) / 1e6; };
function timed(parse) {
  globalThis.gc?.();
  const c0 = cpuNow();
  const t0 = process.hrtime.bigint();
  const result = parse();
  return [Number(process.hrtime.bigint() - t0) / 1e9, result, cpuNow() - c0];
}

// The parsers take turns, so that a change in the machine's load falls on
// all of them; the ratios are the medians of the ratios of each turn.
const rows = [
  ['kavlo parse(Buffer)', () => { const { items } = kavlo.parse(bytes); walk(items, 'location', 'title'); return items; }],
  ['kavlo parse(string)', () => { const { items } = kavlo.parse(text); walk(items, 'location', 'title'); return items; }],
  ['iptv-playlist-parser', () => { const { items } = peer.parse(text); walk(items, 'url', 'name'); return items; }],
];
const times = rows.map(() => []);
const cpus = rows.map(() => []);
const counts = [];
let sameUrls = true;
for (let i = 0; i < runs; ++i) {
  const urls = [];
  rows.forEach(([, parse], r) => {
    const [seconds, items, cpu] = timed(parse);
    times[r].push(seconds);
    cpus[r].push(cpu);
    counts[r] = items.length;
    if (i === 0) urls[r] = items.map((it) => (r === 2 ? it.url : it.location));
  });
  if (i === 0) sameUrls = urls[0].length === urls[2].length && urls[0].every((u, j) => u === urls[2][j]);
}
console.log(`${path.basename(file)}: ${mb.toFixed(1)} MB, median of ${runs} runs, parsers in turns`);
rows.forEach(([name], r) => {
  const s = median(times[r]);
  console.log(`${name.padEnd(22)} ${s.toFixed(3).padStart(7)} s ${(mb / s).toFixed(1).padStart(8)} MB/s ` +
    `${median(cpus[r]).toFixed(3).padStart(7)} s CPU ${String(counts[r]).padStart(8)} entries`);
});
const ratio = (t, r) => median(t[2].map((x, i) => x / t[r][i])).toFixed(1);
console.log(`kavlo parse(Buffer) is ${ratio(times, 0)}x as fast as iptv-playlist-parser (CPU ${ratio(cpus, 0)}x), ` +
  `parse(string) ${ratio(times, 1)}x (CPU ${ratio(cpus, 1)}x); ` +
  `same entry count: ${counts[0] === counts[2]}, same URLs: ${sameUrls}`);

// Four files at once against one after another, in turns; a 10 ms timer set
// as the four start, and the longest stall of the event loop until they all
// settle.
const files = ['m3u-16MB.m3u', 'streaming-16MB.txt', 'cue-16MB.cue', 'streaming-utf16-16MB.txt'].map((f) => path.join(dir, f));
const serial = [];
const parallel = [];
const late = [];
const stalls = [];
for (let i = 0; i < runs; ++i) {
  globalThis.gc?.();
  let t0 = performance.now();
  for (const f of files) await kavlo.parseFileAsync(f);
  serial.push(performance.now() - t0);
  globalThis.gc?.();
  const delay = monitorEventLoopDelay({ resolution: 1 });
  delay.enable();
  t0 = performance.now();
  let fired = 0;
  const timer = new Promise((resolve) => setTimeout(() => { fired = performance.now() - t0; resolve(); }, 10));
  const results = await Promise.all(files.map((f) => kavlo.parseFileAsync(f)));
  parallel.push(performance.now() - t0);
  await timer;
  delay.disable();
  late.push(fired);
  stalls.push(delay.max / 1e6);
  if (i === 0) console.log(`parseFileAsync of ${files.length} files: ${results.map((r) => r.items.length).join(', ')} entries`);
}
console.log(`one after another ${median(serial).toFixed(0)} ms, all at once ${median(parallel).toFixed(0)} ms: ` +
  `${median(serial.map((s, i) => s / parallel[i])).toFixed(2)}x (medians)`);
console.log(`10 ms timer during them fired after ${median(late).toFixed(1)} ms (median; max ` +
  `${Math.max(...late).toFixed(1)} ms); longest event-loop stall ${median(stalls).toFixed(1)} ms (median)`);
