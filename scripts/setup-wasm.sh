#!/usr/bin/env bash
# Installs what the WebAssembly build (`make wasm`) and its tests need, from
# Debian's packages: emscripten (with its clang, lld, binaryen and node), and
# chromium for the browser test of the demo page. Safe to run again: it does
# nothing when all is in place. `make test` does not need any of it.
#
#   scripts/setup-wasm.sh            emscripten and chromium
#   scripts/setup-wasm.sh --no-browser   emscripten only
set -euo pipefail

packages=(emscripten gzip python3)
# node may come from elsewhere than Debian (with its own npm); only a
# machine without it gets Debian's.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
case "${1:-}" in
  --no-browser) ;;
  "") packages+=(chromium) ;;
  *) echo "usage: $0 [--no-browser]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0


if [ "$(id -u)" -ne 0 ]; then
  echo "setup-wasm: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
