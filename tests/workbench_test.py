#!/usr/bin/env python3
"""Runs the playlist workbench of the kavlo tool (convert, filter, merge) as a
user would, and checks its lists against the tool's own JSON, selected with
jq where jq says what should be kept."""
import csv
import io
import json
import os
import subprocess
import tempfile
import unittest

KAVLO = os.environ.get("KAVLO_BIN", "build/kavlo")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Groups from attributes and from #EXTGRP, neighbours of "News" that must
# not pass, a title with a comma in quotes, options and request headers.
IPTV = """#EXTM3U x-tvg-url="http://epg/guide.xml"
#EXTINF:-1 tvg-id="a" tvg-name="A" tvg-logo="http://l/a.png" group-title="News",A One
#EXTVLCOPT:http-user-agent=UA/1
http://s/a|Referer=http://r/
#EXTINF:-1 group-title="News HD",B
https://s/b
#EXTGRP:News
#EXTINF:5 tvg-id="c",C "x, y"
https://s/c
#EXTINF:-1 group-title="news",D
http://s/d
#EXTINF:-1 group-title="Sport",E
rtsp://s/e
#EXTINF:-1 tvg-name="Dup",A again
http://s/a|Referer=http://r/
#EXTINF:-1 group-title="News",F
udp://@239.0.0.1:1234
"""

RADIO = """News,#genre#
One,http://r/1
Two,http://r/2
Music,#genre#
Three,http://s/c
One again,http://r/1
"""


def run(*args, stdin=b"", cwd=None):
    p = subprocess.run([KAVLO, *args], input=stdin, capture_output=True, timeout=60, cwd=cwd)
    return p.returncode, p.stdout.decode(), p.stderr.decode()


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def jq(expr, text):
    p = subprocess.run(["jq", "-c", expr], input=text.encode(), capture_output=True, timeout=60, check=True)
    return [json.loads(line) for line in p.stdout.decode().splitlines()]


class Workbench(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.m3u = self.file("iptv.m3u", IPTV)
        self.txt = self.file("radio.txt", RADIO)

    def tearDown(self):
        self.dir.cleanup()

    def file(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def items(self, text, fmt="auto"):
        """The entries of a list the tool wrote, read back by the tool, without their lines."""
        rc, out, err = run("--full", "-f", fmt, "-", stdin=text.encode())
        self.assertEqual((rc, err), (0, ""), text)
        return jq(".items[] | del(.line)", out)

    def test_filter_group_keeps_what_jq_selects(self):
        for path, fmt in ((self.m3u, "m3u"), (self.txt, "streaming-list")):
            with self.subTest(fmt):
                rc, doc, _ = run("--full", path)
                want = jq('.items[] | select((.attrs["group-title"] // .group) == "News") | del(.line)', doc)
                self.assertTrue(want)
                rc, out, err = run("filter", "--group", "News", path)
                self.assertEqual((rc, err), (0, ""))
                self.assertEqual(self.items(out, fmt), want)

    def test_dedupe_keeps_the_first_of_each_location(self):
        rc, out, err = run("merge", "--dedupe", self.m3u, self.txt, "--to", "m3u")
        self.assertEqual((rc, err), (0, ""))
        got = self.items(out)
        everything = [i for p in (self.m3u, self.txt) for i in jq(".items[] | del(.line)", run("--full", p)[1])]
        first = {}
        for item in everything:
            first.setdefault(item["location"], item)
        self.assertEqual([i["location"] for i in got], list(first))
        self.assertEqual([i["title"] for i in got], [i["title"] for i in first.values()])
        self.assertEqual(got[0]["options"], [{"tag": "EXTVLCOPT", "key": "http-user-agent", "value": "UA/1"}])
        # Without --dedupe, every entry in order; the first file's header.
        rc, out, _ = run("merge", self.m3u, self.txt, "--to", "m3u")
        self.assertEqual(len(self.items(out)), len(everything))
        self.assertTrue(out.startswith('#EXTM3U x-tvg-url="http://epg/guide.xml"\n'))

    def test_filters_combine(self):
        rc, doc, _ = run("--full", self.m3u)
        cases = [
            (["--scheme", "https", "--scheme", "RTSP"],
             '.items[] | select(.location | test("^(https|rtsp)://"))'),
            (["--match", "^(A|B)"], '.items[] | select((.title | test("^(A|B)")) or (.location | test("^(A|B)")))'),
            (["--match", "s/[cd]$"], '.items[] | select(.location | test("s/[cd]$"))'),
            (["--attr", "tvg-id"], '.items[] | select(.attrs["tvg-id"] != null)'),
            (["--attr", "TVG-NAME=Dup"], '.items[] | select(.attrs["tvg-name"] == "Dup")'),
            (["--group", "News", "--group", "Sport", "--scheme", "http"],
             '.items[] | select((.attrs["group-title"] == "News" or .attrs["group-title"] == "Sport")'
             ' and (.location | startswith("http://")))'),
        ]
        for args, select in cases:
            with self.subTest(args):
                rc, out, err = run("filter", *args, self.m3u)
                self.assertEqual((rc, err), (0, ""))
                self.assertEqual(self.items(out), jq(select + " | del(.line)", doc))

    def test_formats(self):
        rc, doc, _ = run(self.m3u)
        items = json.loads(doc)["items"]
        rc, out, err = run("convert", "--to", "csv", self.m3u)
        self.assertEqual((rc, err), (0, ""))
        self.assertIn("\r\n", out)
        rows = list(csv.reader(io.StringIO(out, newline="")))
        self.assertEqual(rows[0], ["location", "title", "duration_ms", "tvg-id", "tvg-name", "tvg-logo", "group-title"])
        self.assertEqual([r[:3] for r in rows[1:]], [[i["location"], i["title"], str(i["duration_ms"])] for i in items])
        self.assertEqual([r[6] for r in rows[1:]], [i.get("attrs", {}).get("group-title", "") for i in items])
        self.assertEqual(rows[3][1], 'C "x, y"')
        rc, out, _ = run("convert", "--to", "jsonl", self.m3u)
        self.assertEqual([json.loads(line) for line in out.splitlines()], items)
        rc, out, _ = run("convert", "--to", "json", "--full", self.m3u)
        self.assertEqual(json.loads(out), json.loads(run("--full", self.m3u)[1]))
        # A streaming list keeps the entries with stream URLs, and groups.
        rc, out, _ = run("convert", "--to", "txt", self.m3u)
        self.assertEqual(out.splitlines()[:2], ["News,#genre#", "A One,http://s/a|Referer=http://r/"])
        self.assertNotIn("udp://", out)
        # A CUE sheet in and out, with its flags.
        rc, out, _ = run("convert", "--to", "cue", "--bom", "--crlf", os.path.join(ROOT, "examples", "album.cue"))
        self.assertEqual(rc, 0)
        self.assertTrue(out.startswith("\ufeffTITLE \"Night Set\"\r\n"))

    def test_output_is_replaced_whole_or_not_at_all(self):
        out = os.path.join(self.dir.name, "out.m3u")
        with open(out, "w") as f:
            f.write("old\n")
        os.chmod(out, 0o640)
        rc, stdout, err = run("filter", "--group", "Sport", self.m3u, "-o", out)
        self.assertEqual((rc, stdout, err), (0, "", ""))
        self.assertEqual(read(out).splitlines()[-1], "rtsp://s/e")
        self.assertEqual(os.stat(out).st_mode & 0o777, 0o640)
        before = read(out)
        # A file that fails, a format that cannot be written: OUT stays, no
        # temporary file is left.
        for args, status in (([self.m3u, os.path.join(self.dir.name, "missing")], 5),
                             (["--to", "cue", self.m3u], 3)):
            rc, _, err = run("merge", *args, "-o", out)
            self.assertEqual(rc, status, err)
            self.assertEqual(read(out), before)
            self.assertEqual(sorted(os.listdir(self.dir.name)), ["iptv.m3u", "out.m3u", "radio.txt"])
        # In place: every file is read before OUT is replaced.
        rc, _, err = run("filter", "--scheme", "rtsp", out, "-o", out)
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(read(out).splitlines()[-2:], ['#EXTINF:-1 group-title="Sport",E', "rtsp://s/e"])
        rc, _, err = run("convert", "--to", "m3u", self.m3u, "-o", os.path.join(self.dir.name, "no", "such.m3u"))
        self.assertEqual(rc, 5)
        self.assertIn("No such file or directory", err)

    def test_standard_input_and_statuses(self):
        rc, out, err = run("convert", "--to", "m3u", "-", stdin=RADIO.encode())
        self.assertEqual((rc, err), (0, ""))
        self.assertIn("#EXTGRP:News\n#EXTINF:-1,One\nhttp://r/1\n", out)
        cue = os.path.join(ROOT, "examples", "album.cue")
        cases = [
            (["convert", self.m3u], 2, "convert needs --to FORMAT"),
            (["convert", "--to", "xml", self.m3u], 2, "unknown output format: xml"),
            (["convert", "--group", "x", "--to", "m3u", self.m3u], 2, "convert does not take --group"),
            (["merge", "--match", "x", self.m3u], 2, "merge does not take --match"),
            (["filter", "--match", "(", self.m3u], 2, "--match '('"),
            (["filter", "-e", "bogus", self.m3u], 2, "unknown encoding 'bogus'"),
            (["filter"], 2, "no input file"),
            (["convert", "--to", "cue", self.m3u], 3, "not from an M3U list"),
            (["merge", cue, self.m3u], 3, "an M3U list does not join a CUE sheet"),
            (["filter", "-f", "m3u", self.txt], 3, "Missing header"),
            (["filter", os.path.join(self.dir.name, "missing")], 5, "No such file"),
        ]
        for args, status, message in cases:
            with self.subTest(args):
                rc, out, err = run(*args)
                self.assertEqual((rc, out), (status, ""))
                self.assertIn(message, err)
        # Tracks of a CUE sheet become entries of another format.
        rc, out, err = run("merge", cue, self.m3u, "--to", "m3u")
        self.assertEqual((rc, err), (0, ""))
        self.assertTrue(out.startswith("#EXTM3U\n#EXTINF:-1,Opening\nNight Set - side a.flac\n"))

    def test_help_examples_run(self):
        rc, out, err = run("filter", "--help")
        self.assertEqual((rc, err), (0, ""))
        examples = [l.strip() for l in out.split("Examples:\n")[1].splitlines() if l.startswith("  kavlo ")]
        self.assertGreaterEqual(len(examples), 3)
        for line in examples:
            with self.subTest(line):
                p = subprocess.run(["bash", "-c", line.replace("kavlo", KAVLO, 1)], cwd=ROOT,
                                   capture_output=True, timeout=60)
                self.assertEqual((p.returncode, p.stderr), (0, b""))
                self.assertTrue(p.stdout)


if __name__ == "__main__":
    unittest.main()
