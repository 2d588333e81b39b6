// The package under the other JavaScript runtimes: Deno and Bun (npm's
// deno and bun packages, dev dependencies, or any on PATH) import it from
// its folder and parse with it. Each is skipped with a message when it is
// not installed.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { version } from '../index.js';

const here = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');

function find(name) {
  const local = path.join(here, 'node_modules', '.bin', name);
  if (existsSync(local)) return local;
  for (const dir of (process.env.PATH || '').split(path.delimiter)) {
    if (dir && existsSync(path.join(dir, name))) return path.join(dir, name);
  }
  return null;
}

const script = `
import { parse, detect, version } from ${JSON.stringify(pathToFileURL(path.join(here, 'index.js')).href)};
const r = parse(new TextEncoder().encode('#EXTM3U\\n#EXTINF:-1 group-title="News",Café ☕\\nhttp://x/1\\n'));
const cue = parse('FILE "a.wav" WAVE\\nTRACK 01 AUDIO\\nINDEX 01 00:01:00\\n');
console.log(JSON.stringify([version, r.items[0].title, r.items[0].groupTitle, r.encoding,
  detect('a,http://x/'), cue.cue.tracks[0].indices[0].ms]));
`;

for (const [name, args] of [['deno', ['run', '--allow-read']], ['bun', ['run']]]) {
  const binary = find(name);
  const skip = binary ? false : `${name} is not installed (npm install in wasm/ brings it)`;
  if (skip) console.log(`${name} test skipped: ${skip}`);
  test(`${name} imports the package and parses`, { skip }, (t) => {
    const dir = mkdtempSync(path.join(tmpdir(), `kavlo-${name}-`));
    t.after(() => rmSync(dir, { recursive: true, force: true }));
    const file = path.join(dir, 'main.mjs');
    writeFileSync(file, script);
    const out = execFileSync(binary, [...args, file], {
      cwd: dir, encoding: 'utf8', env: { ...process.env, NO_COLOR: '1', DENO_NO_UPDATE_CHECK: '1' } });
    assert.deepEqual(JSON.parse(out), [version, 'Café ☕', 'News', 'UTF-8', 'streaming-list', 1000]);
  });
}
