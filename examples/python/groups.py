"""Counts the entries of an IPTV playlist per group."""
import collections
import sys

import kavlo

if len(sys.argv) != 2:
    sys.exit(f"usage: {sys.argv[0]} PLAYLIST")
try:
    result = kavlo.parse_file(sys.argv[1])
except kavlo.KavloError as e:
    sys.exit(f"{sys.argv[1]}: {e.message}")
groups = collections.Counter(item.attr("group-title") or "-" for item in result.items)
for group, count in sorted(groups.items()):
    print(f"{group}\t{count}")
