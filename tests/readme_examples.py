#!/usr/bin/env python3
"""Checks that every code block of the README that names an example file,
with a line `<!-- example: PATH -->` before it, shows that file exactly; the
files themselves are built and run by the other tests."""
import os
import re
import sys

root = sys.argv[1]
readme = open(os.path.join(root, "README.md"), encoding="utf-8").read()
blocks = re.findall(r"<!-- example: (\S+) -->\n```[a-z+]*\n(.*?)```\n", readme, re.S)
if len(blocks) < 3:
    sys.exit(f"only {len(blocks)} marked examples in README.md")
failed = 0
for path, code in blocks:
    with open(os.path.join(root, path), encoding="utf-8") as f:
        if f.read() != code:
            print(f"README.md shows {path} differently from the file")
            failed += 1
print(f"{len(blocks) - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)
