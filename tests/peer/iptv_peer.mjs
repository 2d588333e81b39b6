// Each entry's referrer and user agent, as kavlo's full document gives
// them in "http", against what iptv-playlist-parser (npm) reports for the
// same lists. Every difference must follow from one of the rules below, in
// which kavlo reads a list as players do and the peer does not; one that
// none explains fails the run. Optional: exits 77 (skipped) when node cannot
// load that package, which `make bench-peers` installs under bench/peers.
//
// usage: node iptv_peer.mjs KAVLO_BIN PLAYLIST... [MODULES_DIR]
//   A PLAYLIST ending in .md is a case file: each of its m3u fences is read
//   as a list of its own.
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
let modules = path.join(here, '..', '..', 'bench', 'peers');
if (args.length > 2 && statSync(args[args.length - 1], { throwIfNoEntry: false })?.isDirectory())
  modules = args.pop();
const [kavloBin, ...playlists] = args;

let parser;
try {
  parser = createRequire(path.join(modules, 'package.json'))('iptv-playlist-parser');
} catch {
  console.log('iptv-playlist-parser is not installed (make bench-peers): skipped');
  process.exit(77);
}

// The m3u fences of a case file, with the file's escapes decoded.
function caseLists(file) {
  const text = readFileSync(file, 'utf8');
  const out = [];
  const fence = /### (.*?)\n<!-- meta=(\{.*?\}) -->\n```m3u\n([\s\S]*?)```\n/g;
  for (let m; (m = fence.exec(text));) {
    const meta = JSON.parse(m[2]);
    if ((meta.status ?? 'KAVLO_OK') !== 'KAVLO_OK' || meta.file) continue;
    let body = m[3];
    if (meta.escape) {
      body = body.replace(/\n/g, '').replace(/\\(x[0-9A-Fa-f]{2}|.)/g, (_, e) =>
        e[0] === 'x' ? String.fromCharCode(parseInt(e.slice(1), 16)) :
        ({ n: '\n', r: '\r', t: '\t', '0': '\0' })[e] ?? e);
      body = Buffer.from(body, 'latin1').toString('utf8');
    }
    out.push({ name: `${path.basename(file)}: ${m[1]}`, text: body });
  }
  return out;
}

// Why kavlo's value differs from the peer's, or undefined. `entry` is the
// peer's item (its raw lines from #EXTINF to the location), `before` the
// tag lines that stand before its #EXTINF, `header` the #EXTM3U line.
const headerName = (key) => (key === 'referrer' ? 'referer' : 'user-agent');
const decoded = (v) => {
  try {
    return decodeURIComponent(v);
  } catch {
    return v;
  }
};
const rules = [
  ['percent-encoded value of Kodi\'s dialect, which kavlo decodes', (e, key, before, header, mine, theirs) =>
    e.url.includes('|') && theirs !== mine && decoded(theirs) === mine],
  ['iptv-org dialect: quoted values after "|", which the peer does not read', (e) => /\|[^|&=]+="/.test(e.url)],
  ['a name twice after "|": kavlo takes the first pair, even when empty', (e, key) =>
    (e.url.slice(e.url.indexOf('|') + 1).match(new RegExp(`(^|[|&])${headerName(key)}=`, 'gi')) ?? []).length > 1],
  ['a pair after "|" that the peer does not read (it reads the text after the last "|" only, values ' +
   'that start with a word character)', (e, key) => {
    const bar = e.url.indexOf('|');
    return bar >= 0 && new RegExp(`(^|[|&])${headerName(key)}=`, 'i').test(e.url.slice(bar + 1));
  }],
  ['"referer=" or "user-agent=" in the URL itself, which the peer takes for a header',
    (e, key) => new RegExp(`${headerName(key)}=`, 'i').test(e.url.split('|')[0])],
  ['a tag line before #EXTINF, which the peer does not read', (e, key, before) =>
    before.some((l) => /^#(EXTVLCOPT|EXTHTTP|KODIPROP)/i.test(l))],
  ['#EXTHTTP:, #KODIPROP headers or the #EXTM3U line\'s attributes, which the peer does not read',
    (e, key, before, header) => /^#(EXTHTTP|KODIPROP)/im.test(e.raw) || /(http-)?(user-agent|referrer|origin)=/i.test(header)],
  ['quotes inside an #EXTVLCOPT value, which the peer removes too', (e) => /#EXTVLCOPT:http-[^\n]*"[^\n]*"[^\n]*"/i.test(e.raw)],
  ['an unquoted attribute, which the peer does not read', (e, key) =>
    new RegExp(`(${key === 'referrer' ? 'referrer' : 'user-agent'})=[^"]`, 'i').test(e.raw.split(/\r?\n/)[0])],
  ['an empty #EXTVLCOPT value', (e) => /#EXTVLCOPT:http-[a-z-]*=\s*$/im.test(e.raw)],
];

const tmp = mkdtempSync(path.join(os.tmpdir(), 'kavlo-peer-'));
const lists = [];
for (const p of playlists) {
  if (p.endsWith('.md')) {
    caseLists(p).forEach((c, n) => {
      const file = path.join(tmp, `case-${lists.length}-${n}.m3u`);
      writeFileSync(file, c.text);
      lists.push({ name: c.name, file });
    });
  } else {
    lists.push({ name: p, file: p });
  }
}

let entries = 0, withValue = 0, agree = 0, onlyMine = 0, unexplained = 0, notUtf8 = 0;
const explained = new Map();
for (const { name, file } of lists) {
  const run = spawnSync(kavloBin, ['--full', file], { encoding: 'utf8', maxBuffer: 1 << 30 });
  if (run.status === 3) continue;  // a list kavlo refuses (no #EXTM3U first)
  if (run.status !== 0) {
    console.error(`${name}: kavlo --full failed (${run.status}): ${run.stderr}`);
    ++unexplained;
    continue;
  }
  const kavlo = JSON.parse(run.stdout);
  let text;
  try {
    // The peer reads UTF-8 only: a list in another encoding is left out.
    text = new TextDecoder('utf-8', { fatal: true }).decode(readFileSync(file));
  } catch {
    ++notUtf8;
    continue;
  }
  let peer;
  try {
    peer = parser.parse(text);
  } catch (e) {
    continue;  // a list the peer refuses
  }
  const lines = text.split(/\r?\n/);
  const header = lines.find((l) => l.trim() !== '') ?? '';
  // The peer keeps only entries with an #EXTINF line: pair them in order
  // by their location.
  let k = 0;
  for (const other of peer.items) {
    if (other.url === undefined) continue;  // an #EXTINF without a location
    // kavlo ends a line at a NUL byte (with a diagnostic).
    const url = other.url.split('\0')[0];
    while (k < kavlo.items.length && kavlo.items[k].location !== url) ++k;
    if (k >= kavlo.items.length) {
      console.error(`${name}: the peer's entry at line ${other.line} (${other.url}) is not kavlo's`);
      ++unexplained;
      break;
    }
    const item = kavlo.items[k++];
    ++entries;
    const mine = { referrer: item.http?.referer ?? '', 'user-agent': item.http?.['user-agent'] ?? '' };
    const theirs = { referrer: other.http.referrer, 'user-agent': other.http['user-agent'] };
    if (!theirs.referrer && !theirs['user-agent']) {
      if (mine.referrer || mine['user-agent']) ++onlyMine;
      continue;
    }
    ++withValue;
    const keys = ['referrer', 'user-agent'].filter((key) => mine[key] !== theirs[key]);
    if (keys.length === 0) {
      ++agree;
      continue;
    }
    // Tag lines between the previous entry's location and this #EXTINF.
    const before = [];
    for (let l = other.line - 2; l >= 0 && lines[l].trim().startsWith('#') && !/^#EXTINF:/.test(lines[l].trim()); --l)
      before.push(lines[l].trim());
    for (const key of keys) {
      const rule = rules.find(([, test]) => test(other, key, before, header, mine[key], theirs[key]));
      if (rule) {
        explained.set(rule[0], (explained.get(rule[0]) ?? 0) + 1);
        if (process.env.KAVLO_PEER_VERBOSE)
          console.log(`${name}: line ${other.line}: ${key} ${JSON.stringify(mine[key])} against ` +
                      `${JSON.stringify(theirs[key])}: ${rule[0]}`);
      } else {
        ++unexplained;
        console.error(`${name}: entry at line ${other.line} (${other.name}): ${key} ` +
                      `${JSON.stringify(mine[key])} against ${JSON.stringify(theirs[key])}`);
      }
    }
  }
}
rmSync(tmp, { recursive: true, force: true });

const share = withValue ? ((100 * agree) / withValue).toFixed(1) : '-';
console.log(`${lists.length} lists, ${entries} entries, ${withValue} with a referrer or user agent from the peer: ` +
            `${agree} agree (${share} %)`);
if (notUtf8) console.log(`${notUtf8} lists not in UTF-8 left out`);
if (onlyMine) console.log(`${onlyMine} further entries with a referrer or user agent from kavlo alone`);
for (const [rule, n] of explained) console.log(`  ${n} x ${rule}`);
if (unexplained) console.log(`${unexplained} differences no rule explains`);
if (withValue === 0) console.log('no entry carries a referrer or a user agent');
process.exit(unexplained || withValue === 0 ? 1 : 0);
