// kavlo's WebAssembly package next to the Node.js addon and
// iptv-playlist-parser, in one process, on a generated M3U list: the
// median time of each parse returning JavaScript objects, the entries each
// finds, and whether the WebAssembly package finds the same entries (their
// URLs, in order) as the peer. Titles are not compared: the peer keeps the
// text after the first comma of an #EXTINF line, kavlo the text after the
// last one.
//
// Usage: node --expose-gc bench/wasm/bench.mjs FILE [RUNS]
import { readFileSync, existsSync, statSync } from 'node:fs';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';
import path from 'node:path';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const require = createRequire(import.meta.url);
const wasm = await import(path.join(root, 'wasm', 'index.js'));
const peer = require(path.join(root, 'bench', 'peers', 'node_modules', 'iptv-playlist-parser'));
let addon = null;
if (existsSync(path.join(root, 'node', 'build', 'Release', 'kavlo.node'))) addon = require(path.join(root, 'node'));

const file = process.argv[2];
const runs = Number(process.argv[3] || 5);
const bytes = readFileSync(file);
const text = bytes.toString('utf8');
const mb = bytes.length / 1e6;

const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];

function timed(parse) {
  globalThis.gc?.();
  const t0 = process.hrtime.bigint();
  const result = parse();
  return [Number(process.hrtime.bigint() - t0) / 1e9, result];
}

// The parsers take turns, so that a change in the machine's load falls on
// all of them; each ratio is the median of the ratios of the turns.
const rows = [
  ['wasm parse(Buffer)', () => wasm.parse(bytes).items],
  ['wasm parse(string)', () => wasm.parse(text).items],
  ...(addon ? [['addon parse(Buffer)', () => addon.parse(bytes).items]] : []),
  ['iptv-playlist-parser', () => peer.parse(text).items],
];
const peerRow = rows.length - 1;
const times = rows.map(() => []);
const counts = [];
let same = null;
for (let i = 0; i < runs; ++i) {
  rows.forEach(([, parse], r) => {
    const [seconds, items] = timed(parse);
    times[r].push(seconds);
    counts[r] = items.length;
    if (i === 0 && r === 0) same = items.map((it) => it.location);
    if (i === 0 && r === peerRow) {
      same = same.length === items.length && items.every((it, j) => same[j] === it.url);
    }
  });
}
const wasmFile = path.join(root, 'wasm', 'dist', 'kavlo-core.wasm');
console.log(`${path.basename(file)}: ${mb.toFixed(1)} MB, median of ${runs} runs, parsers in turns; ` +
  `kavlo-core.wasm ${statSync(wasmFile).size} bytes, ${gzipSync(readFileSync(wasmFile), { level: 9 }).length} gzipped`);
rows.forEach(([name], r) => {
  const s = median(times[r]);
  console.log(`${name.padEnd(22)} ${s.toFixed(3).padStart(7)} s ${(mb / s).toFixed(1).padStart(8)} MB/s ` +
    `${String(counts[r]).padStart(8)} entries`);
});
const ratio = (r) => median(times[peerRow].map((t, i) => t / times[r][i])).toFixed(1);
console.log(`against iptv-playlist-parser: wasm parse(Buffer) ${ratio(0)}x as fast, parse(string) ${ratio(1)}x` +
  `${addon ? `, the addon ${ratio(2)}x` : ' (the addon is not built: make node)'}; ` +
  `the same entries (count and URLs): ${same}`);
