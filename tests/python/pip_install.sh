#!/usr/bin/env bash
# Packaging as the README gives it, with no network: `pip wheel ./python`
# makes a wheel that carries the library; a fresh venv installs it with
# --no-index and uses it from another folder with nothing set. Then: the
# message of a venv that lacks 'wheel', the build with Debian's wheel files
# and build isolation, and a build outside a checkout against the library
# `make install` put under a prefix.
# Usage: pip_install.sh PYTHON SOURCE_DIR BUILD_DIR
set -euo pipefail
python=$1 src=$2 build=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export KAVLO_BUILD_DIR=$build PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INDEX=1
cd "$src"
fail() { echo "$*" >&2; exit 1; }

# A venv's Python in another folder, with none of the test's variables.
use() {
  local py=$1
  shift
  (cd "$tmp/elsewhere" && env -u KAVLO_LIBRARY -u PYTHONPATH -u LD_LIBRARY_PATH -u KAVLO_BUILD_DIR "$py" "$@")
}
mkdir "$tmp/elsewhere"
check='
import kavlo, os, sys
r = kavlo.parse_file(sys.argv[1])
here = os.path.dirname(os.path.realpath(kavlo.__file__))
assert os.path.exists(os.path.join(here, "py.typed")) and os.path.exists(os.path.join(here, "__init__.pyi"))
lib = [l.split()[-1] for l in open("/proc/self/maps") if "libkavlo" in l][0]
print(r, r.items[0].title, os.path.dirname(lib) == here)'

# 1. The wheel, built by a venv that sees Debian's setuptools and wheel.
"$python" -m venv --system-site-packages "$tmp/build-env"
"$tmp/build-env/bin/pip" wheel --quiet --no-build-isolation -w "$tmp/dist" ./python
wheel=$(echo "$tmp"/dist/kavlo-*.whl)
"$python" -c "import sys, zipfile; names = zipfile.ZipFile(sys.argv[1]).namelist(); \
assert 'kavlo/libkavlo.so.0' in names and 'kavlo/__init__.pyi' in names, names" "$wheel"

# 2. Installed into a fresh venv of its own, used from another folder.
"$python" -m venv "$tmp/env"
"$tmp/env/bin/pip" install --quiet --no-index "$wheel"
out=$(use "$tmp/env/bin/python" -c "$check" "$src/examples/iptv.m3u")
echo "$out"
expected='<kavlo.Result format=m3u items=5 warnings=3> News One HD True'
[ "$out" = "$expected" ] || fail "expected: $expected"

# 3. That venv has setuptools but no 'wheel': the build says what to do.
if "$tmp/env/bin/pip" wheel --no-build-isolation -w "$tmp/dist2" ./python > "$tmp/no-wheel.txt" 2>&1; then
  fail "built without the wheel package"
fi
grep -q "apt-get install python3-wheel" "$tmp/no-wheel.txt" || { cat "$tmp/no-wheel.txt" >&2; fail "no advice"; }

# 4. With build isolation, from Debian's wheel files (python3-*-whl).
if ls /usr/share/python-wheels/wheel-*.whl > /dev/null 2>&1; then
  "$tmp/env/bin/pip" wheel --quiet --find-links /usr/share/python-wheels -w "$tmp/dist3" ./python
  ls "$tmp"/dist3/kavlo-*.whl > /dev/null
else
  echo "skipped: no /usr/share/python-wheels/wheel-*.whl (python3-wheel-whl)"
fi

# 5. Outside a checkout: the library of `make install`, found with
# pkg-config and linked where it lies.
prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" > /dev/null
cp -r python "$tmp/pkgsrc"
rm -rf "$tmp/pkgsrc/build" "$tmp"/pkgsrc/*.egg-info "$tmp"/pkgsrc/kavlo/*.so*
"$python" -m venv --system-site-packages "$tmp/env2"
env -u KAVLO_BUILD_DIR PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name kavlo.pc)")" \
  "$tmp/env2/bin/pip" install --quiet --no-build-isolation "$tmp/pkgsrc"
out=$(use "$tmp/env2/bin/python" -c "$check" "$src/examples/iptv.m3u")
[ "$out" = "${expected% True} False" ] || fail "from the prefix: $out"
links=$(ldd "$tmp"/env2/lib/python3*/site-packages/kavlo/_kavlo*.so)
[[ $links == *"libkavlo.so.0 => $prefix/"* ]] || fail "not linked to the prefix: $links"
echo "packaging: wheel, fresh venv, advice, isolated build and prefix build all work"
