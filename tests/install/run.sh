#!/usr/bin/env bash
# Every way a host takes kavlo in, each against that way's files only:
# the installed tree (a C host through pkg-config, without yyjson's .pc,
# and the C++ example through find_package), the build tree
# (-Dkavlo_DIR=<build dir>), and kavlo's sources inside a host project,
# by add_subdirectory and by FetchContent. Also runs the installed tool
# and checks the man page.
set -euo pipefail
build=$1
src=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

cmake --install "$build" --prefix "$stage/usr" >/dev/null
pc=$(find "$stage" -name kavlo.pc)
libdir=$(dirname "$(dirname "$pc")")
test -L "$libdir/libkavlo.so" && test -L "$libdir/libkavlo.so.0"
test -f "$stage/usr/include/kavlo.h" && test -f "$stage/usr/include/kavlo.hpp"
test -f "$stage/usr/share/man/man1/kavlo.1"
grep -q '^kavlo ' <<<"$("$stage/usr/bin/kavlo" --version)"

# C99 host through pkg-config, which sees kavlo's .pc alone: a host of
# the shared library needs nothing of kavlo's own dependencies.
export PKG_CONFIG_LIBDIR="$libdir/pkgconfig" PKG_CONFIG_PATH=
cc -std=c99 -Wall -Wextra -Werror "$src/examples/c/print_items.c" \
  $(pkg-config --cflags --libs kavlo) -Wl,-rpath,"$libdir" -o "$stage/print_items"
out=$("$stage/print_items" "$src/examples/iptv.m3u" 2>/dev/null)
grep -q '^m3u, 5 items, UTF-8$' <<<"$out"
# One version everywhere: the library, the tool and pkg-config.
test "$("$stage/usr/bin/kavlo" --version)" = "kavlo $(pkg-config --modversion kavlo)"
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
echo "installed, build tree, add_subdirectory and FetchContent: all work"
