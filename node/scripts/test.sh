#!/usr/bin/env bash
# Runs the package's tests with `node --test` (with `install`, the slow test
# that packs and installs the package); exits 77 (skipped) when node or the
# built addon is missing.
here=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v node >/dev/null; then
  echo "node not found: skipping the Node.js package tests"
  exit 77
fi
if [ ! -f "$here/build/Release/kavlo.node" ]; then
  echo "the addon is not built (make test builds it when node, npm and the Node.js headers are present): skipping"
  exit 77
fi
cd "$here" || exit 1
if [ "${1:-}" = install ]; then
  exec node --test test/install/
fi
exec node --test test/*.test.js
