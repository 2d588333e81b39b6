// Each entry's referrer and user agent, as a player reads them from kavlo's
// full document, against what iptv-playlist-parser (npm) reports for the
// same list. Optional: exits 77 (skipped) when node cannot load that
// package, which `make bench-peers` installs under bench/peers.
//
// usage: node iptv_peer.mjs KAVLO_BIN PLAYLIST [MODULES_DIR]
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const [kavloBin, playlist, modules = path.join(here, '..', '..', 'bench', 'peers')] = process.argv.slice(2);

let parser;
try {
  parser = createRequire(path.join(modules, 'package.json'))('iptv-playlist-parser');
} catch {
  console.log('iptv-playlist-parser is not installed (make bench-peers): skipped');
  process.exit(77);
}

const run = spawnSync(kavloBin, ['--full', playlist], { encoding: 'utf8' });
if (run.status !== 0) {
  console.error(`kavlo --full failed (${run.status}): ${run.stderr}`);
  process.exit(1);
}
const kavlo = JSON.parse(run.stdout);
const peer = parser.parse(readFileSync(playlist, 'utf8'));

const lower = (s) => s.toLowerCase();
// In order of precedence, lowest first: #EXTINF attributes, #EXTVLCOPT
// options (the last one of a key wins), request headers after "|".
function fromKavlo(item) {
  const http = { referrer: '', 'user-agent': '' };
  for (const [key, value] of Object.entries(item.attrs ?? {})) {
    if (lower(key) === 'referrer' && value) http.referrer = value;
    if (lower(key) === 'user-agent' && value) http['user-agent'] = value;
  }
  for (const o of item.options ?? []) {
    if (lower(o.tag) !== 'extvlcopt') continue;
    if (lower(o.key) === 'http-referrer' && o.value) http.referrer = o.value;
    if (lower(o.key) === 'http-user-agent' && o.value) http['user-agent'] = o.value;
  }
  for (const [key, value] of Object.entries(item.headers ?? {})) {
    if (lower(key) === 'referer' && value) http.referrer = value;
    if (lower(key) === 'user-agent' && value) http['user-agent'] = value;
  }
  return http;
}

let failures = 0;
const fail = (msg) => {
  console.error(msg);
  ++failures;
};
if (kavlo.items.length !== peer.items.length)
  fail(`entries: kavlo ${kavlo.items.length}, iptv-playlist-parser ${peer.items.length}`);
let withOptions = 0;
kavlo.items.forEach((item, i) => {
  const other = peer.items[i];
  if (!other) return;
  if (item.location !== other.url) fail(`entry ${i + 1}: location ${item.location} against ${other.url}`);
  const mine = fromKavlo(item);
  for (const key of ['referrer', 'user-agent'])
    if (mine[key] !== other.http[key])
      fail(`entry ${i + 1} (${item.title}): ${key} ${JSON.stringify(mine[key])} against ${JSON.stringify(other.http[key])}`);
  if (mine.referrer || mine['user-agent']) ++withOptions;
});
if (withOptions === 0) fail('no entry carries a referrer or a user agent');
console.log(`${kavlo.items.length} entries, ${withOptions} with a referrer or user agent: ` +
            (failures ? `${failures} differences` : 'all agree with iptv-playlist-parser'));
process.exit(failures ? 1 : 0);
