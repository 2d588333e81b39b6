'use strict';
// Answers binding.gyp: where the engine's sources are (deps/kavlo in a
// packed tarball, which prepack.js fills, else the checkout this package
// sits in), node-addon-api's headers, and whether uchardet is there.
//   config.js sources | include | napi | defines | cflags | libs
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const here = path.resolve(__dirname, '..');

function engineRoot() {
  for (const dir of [path.join(here, 'deps', 'kavlo'), path.resolve(here, '..')]) {
    if (fs.existsSync(path.join(dir, 'include', 'kavlo.h')) && fs.existsSync(path.join(dir, 'src'))) return dir;
  }
  throw new Error('the engine sources (src/, include/) are neither in deps/kavlo nor around this package');
}

// The engine's C++ sources, relative to this package (as gyp wants them).
function sources(dir, out = []) {
  for (const e of fs.readdirSync(dir, { withFileTypes: true }).sort((a, b) => (a.name < b.name ? -1 : 1))) {
    const p = path.join(dir, e.name);
    if (e.isDirectory()) sources(p, out);
    else if (e.name.endsWith('.cpp')) out.push(path.relative(here, p));
  }
  return out;
}

// node-addon-api: the one build.js fetched, the one npm installed next to
// this package, one the consumer's project has, or Debian's.
function napiInclude() {
  if (process.env.KAVLO_NAPI_DIR) return process.env.KAVLO_NAPI_DIR;
  const bases = [here, process.env.INIT_CWD].filter(Boolean);
  for (const base of bases) {
    try {
      return path.dirname(require.resolve('node-addon-api/napi.h', { paths: [base] }));
    } catch {
      // not there
    }
  }
  const debian = '/usr/share/nodejs/node-addon-api';
  if (fs.existsSync(path.join(debian, 'napi.h'))) return debian;
  throw new Error('node-addon-api not found: install it (npm install node-addon-api, or Debian\'s node-addon-api)');
}

function pkgConfig(...args) {
  try {
    return execFileSync('pkg-config', args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] }).trim();
  } catch {
    return null;
  }
}

const withUchardet = pkgConfig('--exists', 'uchardet') !== null;
const answers = {
  sources: () => sources(path.join(engineRoot(), 'src')).join('\n'),
  include: () => path.join(engineRoot(), 'include'),
  napi: napiInclude,
  defines: () => (withUchardet ? 'KAVLO_WITH_UCHARDET' : ''),
  cflags: () => (withUchardet ? pkgConfig('--cflags', 'uchardet') : ''),
  libs: () => (withUchardet ? pkgConfig('--libs', 'uchardet') : ''),
  // The engine's version: deps/kavlo/VERSION, or the checkout's CMakeLists.txt.
  version: () => {
    const root = engineRoot();
    const file = path.join(root, 'VERSION');
    if (fs.existsSync(file)) return fs.readFileSync(file, 'utf8').trim();
    return fs.readFileSync(path.join(root, 'CMakeLists.txt'), 'utf8').match(/project\(kavlo VERSION ([0-9.]+)/)[1];
  },
};

const what = process.argv[2];
if (!answers[what]) {
  console.error(`usage: config.js ${Object.keys(answers).join('|')}`);
  process.exit(2);
}
try {
  console.log(answers[what]());
} catch (e) {
  console.error(`kavlo: ${e.message}`);
  process.exit(1);
}
