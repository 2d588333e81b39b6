'use strict';
// Prints the directory of kavlo's header (`include`) or of libkavlo.so
// (`lib`) for binding.gyp. In order: the environment (KAVLO_INCLUDE_DIR,
// KAVLO_LIB_DIR), the source tree this package sits in (include/ and the
// main build's build/), then the installed library through pkg-config.
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const root = path.resolve(__dirname, '..', '..');
const what = process.argv[2];
const wanted = { include: 'kavlo.h', lib: 'libkavlo.so' }[what];
if (!wanted) {
  console.error('usage: locate.js include|lib');
  process.exit(2);
}

function pkgConfig(variable) {
  try {
    return execFileSync('pkg-config', [`--variable=${variable}`, 'kavlo'], {
      encoding: 'utf8',
      stdio: ['ignore', 'pipe', 'ignore'],
    }).trim();
  } catch {
    return '';
  }
}

const candidates = [];
const env = process.env[what === 'include' ? 'KAVLO_INCLUDE_DIR' : 'KAVLO_LIB_DIR'];
if (env) candidates.push(env);
candidates.push(what === 'include' ? path.join(root, 'include') : path.join(root, 'build'));
const installed = pkgConfig(what === 'include' ? 'includedir' : 'libdir');
if (installed) candidates.push(installed);

for (const dir of candidates) {
  if (fs.existsSync(path.join(dir, wanted))) {
    console.log(path.resolve(dir));
    process.exit(0);
  }
}
console.error(`kavlo: ${wanted} not found in ${candidates.join(', ')}; build the library first ` +
  `(make) or install it, or set ${what === 'include' ? 'KAVLO_INCLUDE_DIR' : 'KAVLO_LIB_DIR'}`);
process.exit(1);
