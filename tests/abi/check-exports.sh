#!/bin/sh
# Fails when the shared library defines a dynamic symbol other than the
# ones listed in exported-symbols.txt.
set -eu
lib=$1
expected=$2
actual=$(nm -D --defined-only "$lib" | awk '{ print $3 }' | sort)
if [ "$actual" != "$(sort "$expected")" ]; then
  echo "exported symbols differ from $expected:" >&2
  printf '%s\n' "$actual" | diff "$expected" - >&2 || true
  exit 1
fi
echo "exports: $(printf '%s\n' "$actual" | wc -l) symbols, as listed"
