#!/usr/bin/env bash
# Installs the build into a staging prefix and builds, against that tree
# only, the C example through pkg-config and the C++ example through
# find_package(kavlo); runs both, the installed tool and the man page.
set -euo pipefail
build=$1
src=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

cmake --install "$build" --prefix "$stage/usr" >/dev/null
pc=$(find "$stage" -name kavlo.pc)
libdir=$(dirname "$(dirname "$pc")")
test -L "$libdir/libkavlo.so" && test -L "$libdir/libkavlo.so.0"
test -f "$stage/usr/include/kavlo.h" && test -f "$stage/usr/include/kavlo.hpp"
test -f "$stage/usr/share/man/man1/kavlo.1"
"$stage/usr/bin/kavlo" --version | grep -q '^kavlo '

# C99 host through pkg-config.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -std=c99 -Wall -Wextra -Werror "$src/examples/c/print_items.c" \
  $(pkg-config --cflags --libs kavlo) -Wl,-rpath,"$libdir" -o "$stage/print_items"
out=$("$stage/print_items" "$src/examples/iptv.m3u" 2>/dev/null)
grep -q '^m3u, 5 items$' <<<"$out"
# One version everywhere: the library, the tool and pkg-config.
test "$("$stage/usr/bin/kavlo" --version)" = "kavlo $(pkg-config --modversion kavlo)"
grep -qP '^https://stream.example.org/live/news1/index.m3u8\tNews One HD\tNews$' <<<"$out"

# C++ host through the CMake package.
cmake -S "$src/examples/cpp" -B "$stage/cpp" -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$stage/cpp" >/dev/null
out=$("$stage/cpp/cue_tracks" "$src/examples/album.cue")
grep -q '^The Quartet - Night Set$' <<<"$out"
grep -q '^02 Blue Hour (Night Set - side a.flac at 4:00)$' <<<"$out"
grep -q '^03 Closing Time (Night Set - side b.flac at 0:00)$' <<<"$out"
echo "installed tree: C through pkg-config and C++ through find_package both work"
