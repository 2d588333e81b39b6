'use strict';
// npm pack's prepack and postpack: `pack.js in` copies the engine's sources
// (src/, include/ and its version) from the checkout into deps/kavlo, so that
// the tarball builds anywhere; `pack.js out` removes them again.
const fs = require('node:fs');
const path = require('node:path');

const here = path.resolve(__dirname, '..');
const root = path.resolve(here, '..');
const deps = path.join(here, 'deps');

fs.rmSync(deps, { recursive: true, force: true });
if (process.argv[2] === 'in') {
  const into = path.join(deps, 'kavlo');
  for (const dir of ['src', 'include']) {
    fs.cpSync(path.join(root, dir), path.join(into, dir), {
      recursive: true,
      filter: (p) => !/\.(txt|map)$/.test(p) && !p.endsWith('.in'),
    });
  }
  const version = fs.readFileSync(path.join(root, 'CMakeLists.txt'), 'utf8').match(/project\(kavlo VERSION ([0-9.]+)/)[1];
  fs.writeFileSync(path.join(into, 'VERSION'), `${version}\n`);
}
