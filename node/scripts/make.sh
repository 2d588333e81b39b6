#!/usr/bin/env bash
# Builds the addon for `make`: installs node-addon-api from npm when it is
# missing and compiles against the library in the given build directory.
# Without node, npm or the Node.js headers it says so and does nothing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
libdir=${1:?usage: make.sh BUILD_DIR}
skip() {
  echo "node: $1; the Node.js package is not built and its tests are skipped"
  exit 0
}
command -v node >/dev/null || skip "node not found"
command -v npm >/dev/null || skip "npm not found"
headers=$(node -p "require('path').resolve(process.execPath, '..', '..', 'include', 'node', 'node_api.h')")
[ -n "${npm_config_nodedir:-}" ] || [ -f "$headers" ] || skip "no Node.js headers at ${headers%/*}"
cd "$here"
if [ ! -f node_modules/node-addon-api/package.json ]; then
  npm install --ignore-scripts --no-audit --no-fund --no-package-lock --loglevel=error ||
    skip "node-addon-api could not be installed from npm"
fi
status=0
KAVLO_LIB_DIR=$libdir KAVLO_INCLUDE_DIR=$(dirname "$here")/include node scripts/build.js || status=$?
[ "$status" -ne 77 ] || skip "the addon cannot be built here (see above)"
exit "$status"
