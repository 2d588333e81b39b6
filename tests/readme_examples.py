#!/usr/bin/env python3
"""Checks the examples of the README and the man page.

Every code block of the README that names an example file, with a line
`<!-- example: PATH -->` before it, must show that file exactly; the files
themselves are built and run by the other tests. The shell block after
`<!-- run: TOOL -->` and the EXAMPLES of docs/kavlo.1 are run line by line
from the source tree with TOOL (or kavlo) standing for the built tool named
by KAVLO_BIN: each must succeed, write no error, and whatever it writes as
JSON must parse (the workbench's lists must not be empty)."""
import json
import os
import re
import shlex
import subprocess
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
passed = len(blocks) - failed


def check_output(cmd, out):
    """The JSON a command writes must parse: one document, or JSON Lines."""
    lexer = shlex.shlex(cmd, posix=True, punctuation_chars=True)
    lexer.commenters = "#"
    tokens = list(lexer)
    # The words of the last command of a pipeline, which writes the output.
    words = tokens[len(tokens) - tokens[::-1].index("|"):] if "|" in tokens else tokens
    if "jq" in cmd or "detect" in words:
        return
    if {"convert", "filter", "merge"} & set(words):
        # The workbench writes the format it is asked for.
        to = words[words.index("--to") + 1] if "--to" in words else None
        if "-o" in words:
            if out:
                raise ValueError("output on standard output despite -o")
        elif to == "json":
            json.loads(out)
        elif to == "jsonl":
            for line in out.splitlines():
                json.loads(line)
        elif not out:
            raise ValueError("no output")
        return
    if "-p" in words or "--pretty" in words:
        json.loads(out)
        return
    lines = out.splitlines()
    if not lines:
        raise ValueError("no output")
    for line in lines:
        doc = json.loads(line)
        if "-l" in words or "--lines" in words:
            if doc["status"] != "ok" or not isinstance(doc["result"], dict):
                raise ValueError(f"not a successful JSON Lines object: {line[:80]}")


def run_lines(where, tool, lines):
    global passed, failed
    kavlo = os.environ.get("KAVLO_BIN")
    if not kavlo:
        print(f"{where}: not run, KAVLO_BIN is not set")
        return
    kavlo = os.path.abspath(kavlo)
    if len(lines) < 3:
        print(f"{where}: only {len(lines)} commands")
        failed += 1
    for line in lines:
        cmd = re.sub(rf"(^|(?<=[\s(|])){re.escape(tool)}(?=\s)", shlex.quote(kavlo), line)
        p = subprocess.run(["bash", "-o", "pipefail", "-c", cmd], cwd=root, capture_output=True,
                           timeout=60, text=True)
        try:
            if p.returncode != 0 or "kavlo:" in p.stderr:
                raise ValueError(f"status {p.returncode}: {p.stderr.strip()}")
            check_output(line, p.stdout)
            passed += 1
        except ValueError as e:
            print(f"{where}: `{line}` failed: {e}")
            failed += 1


for tool, code in re.findall(r"<!-- run: (\S+) -->\n```sh\n(.*?)```\n", readme, re.S):
    run_lines("README.md", tool, [l for l in code.splitlines() if l.strip()])

man = open(os.path.join(root, "docs", "kavlo.1"), encoding="utf-8").read()
examples = re.search(r"^\.SH EXAMPLES\n(?:.*\n)*?\.nf\n((?:.*\n)*?)\.fi\n", man, re.M)
man_lines = [l.replace("\\-", "-").replace("\\e", "\\") for l in examples.group(1).splitlines()] if examples else []
run_lines("docs/kavlo.1", "kavlo", man_lines)

# The figures of tests/auto/corpus_test.py, told in both documents: the
# README's table of the test's draw and its ten further draws, and the man
# page's sentence, must give the same numbers.
def corpus_figures():
    row = {k: re.search(rf"^\| {k} texts \((\d+)\) \| (\d+) \|", readme, re.M) for k in ("long", "short")}
    draws = re.search(r"\((\d+)% of the long texts, (\d+)% of the short\s+ones\)", readme)
    flat = re.sub(r"\s+", " ", man)
    told = re.search(r"(\d+) of (\d+) long texts and (\d+) of (\d+) short ones come back as written "
                     r"\(over ten other draws of its generator, (\d+)% and (\d+)%\)", flat)
    if not (all(row.values()) and draws and told):
        return "the corpus figures are missing from README.md or docs/kavlo.1"
    readme_says = (row["long"][2], row["long"][1], row["short"][2], row["short"][1], *draws.groups())
    if readme_says != told.groups():
        return f"README.md gives the corpus figures {readme_says}, docs/kavlo.1 {told.groups()}"
    return None


problem = corpus_figures()
if problem:
    print(problem)
    failed += 1
else:
    passed += 1

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
