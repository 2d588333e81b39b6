'use strict';
// Builds the addon with node-gyp against the Node.js headers installed with
// the running node (PREFIX/include/node), so that nothing is downloaded.
// npm_config_nodedir, when set, names another header tree. Installed from a
// directory (`npm install path/to/node`, which npm links without installing
// the package's dependencies), node-addon-api is fetched with npm into a
// temporary directory outside the package when no copy is found.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const here = path.resolve(__dirname, '..');

function fail(message, status = 1) {
  console.error(`kavlo: ${message}`);
  process.exit(status);
}

// Exit status for "cannot be built on this machine" (headers or node-gyp
// missing), which `make` reports as a skip.
const unavailable = 77;

function nodeDir() {
  const configured = process.env.npm_config_nodedir;
  if (configured) return configured;
  const prefix = path.resolve(path.dirname(process.execPath), '..');
  if (fs.existsSync(path.join(prefix, 'include', 'node', 'node_api.h'))) return prefix;
  return fail(`no Node.js headers in ${path.join(prefix, 'include', 'node')}; install them ` +
    '(on Debian: libnode-dev) or set npm_config_nodedir', unavailable);
}

// node-gyp: the one npm hands to install scripts, the one bundled with npm
// next to this node, Debian's, or one on the PATH.
function nodeGyp() {
  const candidates = [
    process.env.npm_config_node_gyp,
    path.resolve(path.dirname(process.execPath), '..', 'lib', 'node_modules', 'npm', 'node_modules',
      'node-gyp', 'bin', 'node-gyp.js'),
    '/usr/share/nodejs/node-gyp/bin/node-gyp.js',
  ];
  for (const c of candidates) if (c && fs.existsSync(c)) return [process.execPath, c];
  return ['node-gyp'];
}

const env = { ...process.env };
let fetched = null;
if (spawnSync(process.execPath, [path.join(__dirname, 'config.js'), 'napi'], { stdio: 'ignore' }).status !== 0) {
  fetched = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-napi-'));
  const version = require(path.join(here, 'package.json')).dependencies['node-addon-api'];
  const npm = process.env.npm_execpath ? [process.execPath, process.env.npm_execpath] : ['npm'];
  const got = spawnSync(npm[0], [...npm.slice(1), 'install', '--prefix', fetched, '--no-save', '--no-package-lock',
    '--ignore-scripts', '--no-audit', '--no-fund', '--loglevel=error', `node-addon-api@${version}`], { stdio: 'inherit' });
  if (got.status !== 0) fail('node-addon-api could not be installed', unavailable);
  env.KAVLO_NAPI_DIR = path.join(fetched, 'node_modules', 'node-addon-api');
}

const [cmd, ...pre] = nodeGyp();
const args = [...pre, 'rebuild', `--nodedir=${nodeDir()}`, '--loglevel=warn'];
if (process.env.JOBS) args.push(`--jobs=${process.env.JOBS}`);
const r = spawnSync(cmd, args, { cwd: here, stdio: 'inherit', env });
if (fetched) fs.rmSync(fetched, { recursive: true, force: true });
if (r.error) fail(`node-gyp: ${r.error.message}`, r.error.code === 'ENOENT' ? unavailable : 1);
process.exit(r.status === null ? 1 : r.status);
