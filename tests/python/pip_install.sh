#!/usr/bin/env bash
# The install path of the README: a fresh virtual environment of the
# system's Python (seeing Debian's setuptools and wheel), `pip install
# ./python` with no network, then the module used with no environment
# variables set.
# Usage: pip_install.sh PYTHON SOURCE_DIR BUILD_DIR
set -euo pipefail
python=$1 src=$2 build=$3
venv=$(mktemp -d)
trap 'rm -rf "$venv"' EXIT
cd "$src"
# The library of this build; ./build is where `make` puts it.
if [ "$(cd "$build" && pwd -P)" != "$(cd build 2>/dev/null && pwd -P)" ]; then
  export KAVLO_BUILD_DIR=$build
fi
"$python" -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --quiet --no-build-isolation --no-index --disable-pip-version-check ./python
unset KAVLO_BUILD_DIR
out=$(env -u KAVLO_LIBRARY -u PYTHONPATH -u LD_LIBRARY_PATH \
  "$venv/bin/python" -c "import kavlo; print(kavlo.parse_file('examples/iptv.m3u'))")
echo "$out"
expected='<kavlo.Result format=m3u items=5 warnings=3>'
[ "$out" = "$expected" ] || { echo "expected: $expected" >&2; exit 1; }
# The installed module carries its library and its type information.
"$venv/bin/python" - <<'PY'
import os, kavlo
here = os.path.dirname(kavlo.__file__)
assert os.path.exists(os.path.join(here, "py.typed")), "py.typed not installed"
assert kavlo.__version__ and kavlo.__version__[0].isdigit(), kavlo.__version__
PY

# Without a build tree, the library `make install` put under a prefix,
# found through pkg-config and linked by its path there.
prefix="$venv/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
rm -rf "$venv/env"
"$python" -m venv --system-site-packages "$venv/env"
KAVLO_BUILD_DIR="$venv/none" PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name kavlo.pc)")" \
  "$venv/env/bin/pip" install --quiet --no-build-isolation --no-index --disable-pip-version-check ./python
out=$(env -u KAVLO_LIBRARY -u PYTHONPATH -u LD_LIBRARY_PATH "$venv/env/bin/python" -c \
  "import kavlo, glob, os; print(kavlo.parse_file('examples/iptv.m3u'), glob.glob(os.path.dirname(kavlo.__file__) + '/libkavlo*'))")
[ "$out" = "$expected []" ] || { echo "from the prefix: $out" >&2; exit 1; }
ldd "$venv"/env/lib/python3*/site-packages/kavlo/_kavlo*.so > "$venv/ldd.txt"
grep -q "libkavlo.so.0 => $prefix/" "$venv/ldd.txt" || { cat "$venv/ldd.txt" >&2; exit 1; }
