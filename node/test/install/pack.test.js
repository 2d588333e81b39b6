'use strict';
// The package installs without a built library: `npm pack` of a copy of the
// sources (no build/, no node_modules), its tarball installed into a new
// project, and the package directory installed from another folder. Slow:
// each install compiles the engine.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, spawnSync } = require('node:child_process');

const root = path.resolve(__dirname, '..', '..', '..');
const npm = spawnSync('npm', ['--version'], { stdio: 'ignore' }).status === 0;

function files(dir, skip, base = dir, out = []) {
  for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
    const p = path.join(dir, e.name);
    if (skip.includes(path.relative(base, p))) continue;
    if (e.isDirectory()) files(p, skip, base, out);
    else out.push(path.relative(base, p));
  }
  return out.sort();
}

function run(cwd, ...args) {
  return execFileSync('npm', [...args, '--prefer-offline', '--no-audit', '--no-fund', '--loglevel=error'],
    { cwd, encoding: 'utf8', stdio: ['ignore', 'pipe', 'inherit'] });
}

const check = `const k = require('kavlo');
const r = k.parse(Buffer.from('#EXTM3U\\n#EXTINF:-1 group-title="G",T\\nhttp://x/\\n'));
console.log([k.version, r.items[0].groupTitle, r.items[0].location, r.encoding].join(' '));`;

test('npm pack gives a tarball that installs and works in a new project', { skip: !npm && 'npm not found', timeout: 900000 }, () => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-pack-'));
  try {
    const clone = path.join(tmp, 'clone');
    const skip = ['node/build', 'node/node_modules', 'node/deps'];
    for (const part of ['CMakeLists.txt', 'src', 'include', 'node']) {
      fs.cpSync(path.join(root, part), path.join(clone, part),
        { recursive: true, filter: (p) => !skip.includes(path.relative(root, p)) });
    }
    const before = files(clone, []);
    const tarball = run(path.join(clone, 'node'), 'pack', '--pack-destination', tmp).trim().split('\n').pop();
    assert.deepEqual(files(clone, []), before, 'npm pack leaves the sources as they were');

    const project = path.join(tmp, 'project');
    fs.mkdirSync(project);
    fs.writeFileSync(path.join(project, 'package.json'), '{"name": "project", "private": true}\n');
    run(project, 'install', path.join(tmp, tarball));
    const version = require('../../package.json').version;
    assert.equal(execFileSync(process.execPath, ['-e', check], { cwd: project, encoding: 'utf8' }).trim(),
      `${version} G http://x/ UTF-8`);

    // From another folder, the package directory itself (npm links it): it
    // builds there, and adds nothing else to the sources.
    const other = path.join(tmp, 'other');
    fs.mkdirSync(other);
    fs.writeFileSync(path.join(other, 'package.json'), '{"name": "other", "private": true}\n');
    run(other, 'install', path.join(clone, 'node'));
    assert.equal(execFileSync(process.execPath, ['-e', check], { cwd: other, encoding: 'utf8' }).trim(),
      `${version} G http://x/ UTF-8`);
    assert.deepEqual(files(clone, ['node/build']), before);
  } finally {
    fs.rmSync(tmp, { recursive: true, force: true });
  }
});
