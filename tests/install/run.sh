#!/usr/bin/env bash
# Every way a host takes kavlo in, each against that way's files only:
# the installed tree (a C host through pkg-config, without yyjson's .pc,
# and the C++ example through find_package), the build tree
# (-Dkavlo_DIR=<build dir>), and kavlo's sources inside a host project,
# by add_subdirectory and by FetchContent. Also runs the installed tool,
# checks the man page, builds the static library for a C host (pkg-config
# --static) and a CMake host, and uninstalls.
set -euo pipefail
build=$1
src=$2
stage=$(mktemp -d)
# Installing from the build tree rewrites its install manifest, which
# `make uninstall` reads: the developer's own is put back afterwards.
manifest=$build/install_manifest.txt
if [ -f "$manifest" ]; then cp "$manifest" "$stage/manifest"; fi
restore() {
  if [ -f "$stage/manifest" ]; then cp "$stage/manifest" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$stage"
}
trap restore EXIT
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

cmake --install "$build" --prefix "$stage/usr" >/dev/null
pc=$(find "$stage" -name kavlo.pc)
libdir=$(dirname "$(dirname "$pc")")
test -L "$libdir/libkavlo.so" && test -L "$libdir/libkavlo.so.0"
test -f "$stage/usr/include/kavlo.h" && test -f "$stage/usr/include/kavlo.hpp"
test -f "$stage/usr/share/man/man1/kavlo.1"
test -f "$stage/usr/share/doc/kavlo/LICENSE"
for h in kavlo.h kavlo.hpp kavlo_auto.h; do
  grep -q 'SPDX-License-Identifier: MIT' "$stage/usr/include/$h"
done
# The library does not link yyjson, so its package does not ask for it.
if grep -l yyjson "$libdir"/cmake/kavlo/*.cmake "$pc"; then exit 1; fi
grep -q '^kavlo ' <<<"$("$stage/usr/bin/kavlo" --version)"

# C99 host through pkg-config, which sees kavlo's .pc alone: a host of
# the shared library needs nothing of kavlo's own dependencies. (Only
# here: the builds of kavlo's sources below find uchardet through it.)
staged_pkg_config() { PKG_CONFIG_LIBDIR="$libdir/pkgconfig" PKG_CONFIG_PATH= pkg-config "$@"; }
cc -std=c99 -Wall -Wextra -Werror "$src/examples/c/print_items.c" \
  $(staged_pkg_config --cflags --libs kavlo) -Wl,-rpath,"$libdir" -o "$stage/print_items"
out=$("$stage/print_items" "$src/examples/iptv.m3u" 2>/dev/null)
grep -q '^m3u, 5 items, UTF-8$' <<<"$out"
# One version everywhere: the library, the tool and pkg-config.
test "$("$stage/usr/bin/kavlo" --version)" = "kavlo $(staged_pkg_config --modversion kavlo)"
grep -qP '^https://stream.example.org/live/news1/index.m3u8\tNews One HD\tNews$' <<<"$out"

# The C++ example prints the album's tracks, however it was built.
check_cue_tracks() {
  local out
  out=$("$1/cue_tracks" "$src/examples/album.cue")
  grep -q '^The Quartet - Night Set$' <<<"$out"
  grep -q '^02 Blue Hour (Night Set - side a.flac at 4:00)$' <<<"$out"
  grep -q '^03 Closing Time (Night Set - side b.flac at 0:00)$' <<<"$out"
}

# C++ host through the installed CMake package.
cmake "${gen[@]}" -S "$src/examples/cpp" -B "$stage/cpp" -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$stage/cpp" >/dev/null
check_cue_tracks "$stage/cpp"

# The same host against the build tree.
cmake "${gen[@]}" -S "$src/examples/cpp" -B "$stage/tree" -Dkavlo_DIR="$build" >/dev/null
cmake --build "$stage/tree" >/dev/null
# Whole output first: grep -q stops reading at its match, and under
# pipefail the writer's broken pipe would fail the script.
grep -q " => $build/libkavlo.so" <<<"$(ldd "$stage/tree/cue_tracks")"
check_cue_tracks "$stage/tree"

# kavlo's sources inside a host project, built without optimisation or
# debug information: only whether it builds and links matters here.
# kavlo's warning options stay with its own sources.
for how in subdirectory fetchcontent; do
  cmake "${gen[@]}" -S "$src/tests/install/consumer" -B "$stage/$how" -DKAVLO_HOW=$how \
    -DKAVLO_SOURCE="$src" -DCMAKE_BUILD_TYPE= -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
  cmake --build "$stage/$how" >/dev/null
  check_cue_tracks "$stage/$how"
  python3 - "$stage/$how/compile_commands.json" <<'PY'
import json, sys
cmds = json.load(open(sys.argv[1]))
host = [c["command"] for c in cmds if c["file"].endswith("cue_tracks.cpp")]
engine = [c["command"] for c in cmds if c["file"].endswith("decode.cpp")]
assert host and engine, "missing compile commands"
assert "-Wall" in engine[0], engine[0]
for flag in ("-Wall", "-Wextra", "-pedantic", "-Werror"):
    assert flag not in host[0].split(), f"{flag} leaked into the host: {host[0]}"
PY
done
# Uninstalling removes every file the install put there, and kavlo's own
# directories.
cmake --build "$build" --target uninstall >/dev/null
left=$(find "$stage/usr" -not -type d)
test -z "$left" || { echo "left after uninstall: $left"; exit 1; }
test ! -e "$libdir/cmake/kavlo" && test ! -e "$stage/usr/share/doc/kavlo"

# The static library, built on its own (library only, no optimisation),
# through the same package files. Its hosts carry no dependency on
# libkavlo.so; pkg-config --static gives what it links (the C++ runtime,
# and the private dependencies of the library, whose .pc files are then
# needed too: the system's directories stay in the search path).
cmake "${gen[@]}" -S "$src" -B "$stage/static-build" -DKAVLO_BUILD_STATIC=ON -DKAVLO_BUILD_TESTS=OFF \
  -DKAVLO_BUILD_TOOLS=OFF -DKAVLO_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE= >/dev/null
cmake --build "$stage/static-build" >/dev/null
cmake --install "$stage/static-build" --prefix "$stage/static" >/dev/null
spc=$(find "$stage/static" -name kavlo.pc)
slib=$(dirname "$(dirname "$spc")")
test -f "$slib/libkavlo.a" && test -z "$(find "$stage/static" -name 'libkavlo.so*')"
if grep -l yyjson "$slib"/cmake/kavlo/*.cmake "$spc"; then exit 1; fi
unset PKG_CONFIG_LIBDIR
export PKG_CONFIG_PATH="$slib/pkgconfig"
cc -std=c99 -Wall -Wextra -Werror "$src/examples/c/print_items.c" \
  $(pkg-config --cflags kavlo) $(pkg-config --static --libs kavlo) -o "$stage/print_items_static"
out=$("$stage/print_items_static" "$src/examples/iptv.m3u" 2>/dev/null)
grep -q '^m3u, 5 items, UTF-8$' <<<"$out"
if grep -q libkavlo <<<"$(ldd "$stage/print_items_static")"; then exit 1; fi
cmake "${gen[@]}" -S "$src/examples/cpp" -B "$stage/cpp-static" -DCMAKE_PREFIX_PATH="$stage/static" >/dev/null
cmake --build "$stage/cpp-static" >/dev/null
if grep -q libkavlo <<<"$(ldd "$stage/cpp-static/cue_tracks")"; then exit 1; fi
check_cue_tracks "$stage/cpp-static"
cmake --build "$stage/static-build" --target uninstall >/dev/null
test -z "$(find "$stage/static" -not -type d)"

echo "installed (shared and static), build tree, add_subdirectory, FetchContent, uninstall: all work"
