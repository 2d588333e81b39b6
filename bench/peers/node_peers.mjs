// Parses the given files with iptv-playlist-parser and @iptv/playlist and
// prints "name<TAB>file<TAB>MB/s<TAB>items" per parser and file (median of
// RUNS runs, the file already read into a string).
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const runs = Number(process.env.RUNS || 5);
const parsers = [];
try {
  const p = require('iptv-playlist-parser');
  parsers.push(['iptv-playlist-parser', (text) => p.parse(text).items.length]);
} catch (e) { console.error(`iptv-playlist-parser: ${e.message}`); }
try {
  const m = await import('@iptv/playlist');
  const parse = m.parseM3U || m.parse || (m.default && (m.default.parseM3U || m.default.parse));
  parsers.push(['@iptv/playlist', (text) => { const r = parse(text); return (r.channels || r.items || r.segments || []).length; }]);
} catch (e) { console.error(`@iptv/playlist: ${e.message}`); }

for (const file of process.argv.slice(2)) {
  const text = readFileSync(file, 'utf8');
  const mb = Buffer.byteLength(text) / 1e6;
  for (const [name, parse] of parsers) {
    const times = [];
    let items = 0;
    for (let i = 0; i < runs; ++i) {
      const t0 = process.hrtime.bigint();
      items = parse(text);
      times.push(Number(process.hrtime.bigint() - t0) / 1e9);
    }
    times.sort((a, b) => a - b);
    console.log(`${name}\t${file}\t${(mb / times[times.length >> 1]).toFixed(1)}\t${items}`);
  }
}
