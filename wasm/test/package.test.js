// The tarball of `npm pack` installs into a project of its own without a
// compiler or a network, and parses there; it carries the module and no
// more than the package needs.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const quiet = ['--no-audit', '--no-fund', '--loglevel=error'];

test('npm pack gives a tarball that installs and parses anywhere', (t) => {
  const work = mkdtempSync(path.join(tmpdir(), 'kavlo-wasm-pack-'));
  t.after(() => rmSync(work, { recursive: true, force: true }));
  const packed = JSON.parse(execFileSync('npm', ['pack', '--json', '--pack-destination', work, ...quiet],
    { cwd: here, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] }));
  const files = packed[0].files.map((f) => f.path).sort();
  for (const f of ['index.js', 'index.d.ts', 'lib/core.js', 'dist/kavlo-core.mjs', 'dist/kavlo-core.wasm',
    'dist/lib/result.js', 'dist/lib/options.js', 'package.json']) {
    assert.ok(files.includes(f), `${f} is in the tarball`);
  }
  assert.deepEqual(files.filter((f) => /^(test|src|demo|scripts|node_modules)\//.test(f)), []);
  const manifest = JSON.parse(readFileSync(path.join(here, 'package.json'), 'utf8'));
  assert.equal(Object.keys(manifest.dependencies ?? {}).length, 0, 'nothing to fetch at install');
  assert.ok(!['preinstall', 'install', 'postinstall'].some((s) => manifest.scripts?.[s]), 'nothing to build');

  const project = path.join(work, 'project');
  execFileSync('mkdir', [project]);
  writeFileSync(path.join(project, 'package.json'), JSON.stringify({ name: 'user', private: true, type: 'module' }));
  execFileSync('npm', ['install', '--offline', ...quiet, path.join(work, packed[0].filename)],
    { cwd: project, stdio: ['ignore', 'pipe', 'pipe'] });
  writeFileSync(path.join(project, 'main.js'), `
import { parse, detect, KavloError } from 'kavlo-wasm';
const r = parse(new TextEncoder().encode('#EXTM3U\\n#EXTINF:-1 group-title="News",One\\nhttp://x/1\\n'));
let error = null;
try { parse('#EXTM3U\\n#EXT-X-ENDLIST\\n'); } catch (e) { error = e instanceof KavloError && e.code; }
console.log(JSON.stringify([r.items[0].title, r.items[0].groupTitle, detect('a,http://x/'), error]));
`);
  const out = execFileSync(process.execPath, ['main.js'], { cwd: project, encoding: 'utf8' });
  assert.deepEqual(JSON.parse(out), ['One', 'News', 'streaming-list', 'ERR_FORMAT']);
});
