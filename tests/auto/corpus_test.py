#!/usr/bin/env python3
"""The library's encoding guess on legacy playlists made at test time: how
many come back as their original text when parsed in the encoding guessed
(the library's own chain where it names none, or where the named
conversion fails), next to the library's chain alone. And the tool's -e
auto on the same texts."""
import collections
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpus  # noqa: E402

KAVLO = os.environ.get("KAVLO_BIN", "build/kavlo")
GUESS = os.environ.get("KAVLO_GUESS_BIN", "build/tests/kavlo_guess_probe")


def batch(args, paths):
    """The JSON Lines objects of one run over all paths, by file name."""
    p = subprocess.run([KAVLO, "-l", *args, *paths], capture_output=True, timeout=120)
    return {line["file"]: line for line in map(json.loads, p.stdout.decode().splitlines())}


def guesses(paths):
    """The library's guess for each path, "" for none."""
    p = subprocess.run([GUESS, *paths], capture_output=True, check=True, timeout=120)
    return {path: name for name, path in (line.split("\t", 1) for line in p.stdout.decode().splitlines())}


def guessed(paths, chain):
    """Each path parsed as the guess says: in the encoding guessed, else (no
    guess, or the bytes are not valid in it) by the library's chain."""
    names = guesses(paths)
    lines = {}
    for name in sorted(set(names.values()) - {""}):
        lines.update(batch(["-e", name], [p for p in paths if names[p] == name]))
    return {p: lines[p] if p in lines and lines[p]["status"] != "decode" else chain[p] for p in paths}


class Corpus(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.samples = corpus.make(cls.dir.name)
        paths = [s.path for s in cls.samples]
        cls.chain = batch(["--encoding="], paths)
        cls.guess = guessed(paths, cls.chain)
        cls.auto = batch(["-e", "auto"], paths)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def right(self, lines, sample):
        line = lines[sample.path]
        return line["status"] == "ok" and corpus.strings_of(line["result"]) == sample.strings

    def test_guess_reads_nine_in_ten_back(self):
        rows = collections.defaultdict(lambda: [0, 0, 0])  # guess right, chain right, count
        for s in self.samples:
            for key in (s.encoding, "short texts" if s.kind.startswith("short") else "long texts", "all"):
                rows[key][0] += self.right(self.guess, s)
                rows[key][1] += self.right(self.chain, s)
                rows[key][2] += 1
        print("\ntexts back as written    guess   library's chain", file=sys.stderr)
        for key in [*corpus.ENCODINGS, "long texts", "short texts", "all"]:
            auto, chain, count = rows[key]
            print(f"  {key:<20} {auto:3d}/{count:<3d}  {chain:3d}/{count}", file=sys.stderr)
        auto, chain, count = rows["all"]
        self.assertGreaterEqual(auto / count, 0.90, f"guess {auto}/{count}, chain {chain}/{count}")

    def test_tool_parses_every_text_and_names_its_encoding(self):
        # With -e auto a wrong guess never fails a parse: the chain takes over.
        for s in self.samples:
            line = self.auto[s.path]
            self.assertEqual(line["status"], "ok", s.path)
            self.assertIsInstance(line["encoding"], str, s.path)
            self.assertTrue(line["encoding"], s.path)
        self.assertNotIn("encoding", next(iter(self.chain.values())))

    def test_warnings_name_the_guess(self):
        sample = next(s for s in self.samples if s.encoding == "KOI8-R" and s.kind == "list")
        p = subprocess.run([KAVLO, "-w", sample.path], capture_output=True, timeout=60)
        self.assertEqual(p.stderr.decode(), f"{sample.path}: encoding: KOI8-R (auto)\n")
        self.assertEqual(corpus.strings_of(json.loads(p.stdout)), sample.strings)
        # UTF-8 text is not guessed at, and says nothing more.
        utf8 = os.path.join(self.dir.name, "utf8.txt")
        with open(utf8, "w", encoding="utf-8") as f:
            f.write("Радио,http://198.51.100.1/\n")
        p = subprocess.run([KAVLO, "-w", "-l", utf8], capture_output=True, timeout=60)
        self.assertEqual((p.stderr, json.loads(p.stdout)["encoding"]), (b"", "UTF-8"))


if __name__ == "__main__":
    unittest.main()
