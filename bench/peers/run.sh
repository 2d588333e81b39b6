#!/usr/bin/env bash
# kavlo next to other parsers on the same generated inputs: the two npm IPTV
# playlist parsers (installed into bench/peers/node_modules) and Debian's
# libcue. Optional; not part of the tests or CI.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
data=${1:-$root/bench/data}
runs=${RUNS:-5}
kavlo_bench=$root/build/bench/kavlo_bench

dpkg-query -W -f='${Status}' libcue-dev 2>/dev/null | grep -q 'install ok installed' ||
  apt-get install -y -qq --no-install-recommends libcue-dev >/dev/null
command -v node >/dev/null || apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
[ -d "$here/node_modules" ] || (cd "$here" && npm install --no-audit --no-fund --silent)
cc -O2 -o "$here/libcue_peer" "$here/libcue_peer.c" $(pkg-config --cflags --libs libcue)

m3u=$data/m3u-16MB.m3u
cue=$data/cue-16MB.cue
{
  RUNS=$runs node "$here/node_peers.mjs" "$m3u"
  RUNS=$runs "$here/libcue_peer" "$cue" 2>/dev/null
} > "$here/peers.tsv"

printf '%-22s %-16s %10s %10s %8s\n' parser input "MB/s" "kavlo" "kavlo/x"
while IFS=$'\t' read -r name file mbps count; do
  k=$("$kavlo_bench" --file "$file" "$runs")
  printf '%-22s %-16s %10s %10s %7.0fx   (%s entries)\n' "$name" "$(basename "$file")" "$mbps" "$k" \
    "$(awk -v a="$k" -v b="$mbps" 'BEGIN { print a / b }')" "$count"
done < "$here/peers.tsv"
