#!/usr/bin/env bash
# Builds the addon for `make`: node-addon-api from npm when neither it nor
# Debian's copy is there, then node-gyp over the engine's sources in this
# checkout. Without node, npm or the Node.js headers it says so and does
# nothing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
skip() {
  echo "node: $1; the Node.js package is not built and its tests are skipped"
  exit 0
}
command -v node >/dev/null || skip "node not found"
command -v npm >/dev/null || skip "npm not found"
headers=$(node -p "require('path').resolve(process.execPath, '..', '..', 'include', 'node', 'node_api.h')")
[ -n "${npm_config_nodedir:-}" ] || [ -f "$headers" ] || skip "no Node.js headers at ${headers%/*}"
cd "$here"
if ! node scripts/config.js napi >/dev/null 2>&1; then
  npm install --ignore-scripts --no-audit --no-fund --no-package-lock --loglevel=error ||
    skip "node-addon-api could not be installed from npm"
fi
# Up to date: nothing of the package or the engine is newer than the addon.
addon=build/Release/kavlo.node
if [ -f "$addon" ] && [ -z "$(find binding.gyp src lib scripts ../src ../include ../CMakeLists.txt -newer "$addon" -print -quit)" ]; then
  exit 0
fi
status=0
node scripts/build.js || status=$?
[ "$status" -ne 77 ] || skip "the addon cannot be built here (see above)"
exit "$status"
