#!/usr/bin/env python3
"""Runs the built kavlo command-line tool as a user would."""
import json
import os
import pty
import subprocess
import sys
import tempfile
import unittest

KAVLO = os.environ.get("KAVLO_BIN", "build/kavlo")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EX = os.path.join(ROOT, "examples")


def run(*args, stdin=b""):
    p = subprocess.run([KAVLO, *args], input=stdin, capture_output=True, timeout=60)
    return p.returncode, p.stdout.decode(), p.stderr.decode()


def ex(name):
    return os.path.join(EX, name)


class Parse(unittest.TestCase):
    def test_each_example_prints_one_document(self):
        expected = {
            "iptv.m3u": ("m3u", 5),
            "imdb.m3u": ("m3u", 3),
            "radio.txt": ("streaming-list", 4),
            "album.cue": ("cue", 3),
            "stations-gbk.txt": ("streaming-list", 3),
            "sheet-utf16.cue": ("cue", 2),
            "chansons-cp1252.m3u": ("m3u", 2),
        }
        for name, (fmt, count) in expected.items():
            with self.subTest(name):
                rc, out, err = run(ex(name))
                self.assertEqual((rc, err), (0, ""))
                self.assertEqual(out.count("\n"), 1)
                doc = json.loads(out)
                self.assertEqual((doc["format"], doc["item_count"]), (fmt, count))
        # The UTF-16 sheet's first line is read, not lost to its mark.
        doc = json.loads(run(ex("sheet-utf16.cue"))[1])
        self.assertEqual(doc["warnings"], ['cue: REM COMMENT "saved by a Windows ripper"'])
        doc = json.loads(run(ex("imdb.m3u"))[1])
        self.assertTrue(doc["imdb_date_playlist"])
        self.assertEqual(doc["items"][0]["release_date"], 19540429)

    def test_batch_is_json_lines_with_status_and_first_failure_wins(self):
        with tempfile.TemporaryDirectory() as d:
            hls = os.path.join(d, "live.m3u8")
            with open(hls, "w") as f:
                f.write("#EXTM3U\n#EXT-X-TARGETDURATION:6\nseg.ts\n")
            missing = os.path.join(d, "missing.m3u")
            rc, out, err = run(ex("radio.txt"), hls, missing, ex("album.cue"))
        lines = [json.loads(l) for l in out.splitlines()]
        self.assertEqual(rc, 3)
        self.assertEqual([l["status"] for l in lines], ["ok", "format", "io", "ok"])
        self.assertEqual([l["code"] for l in lines], [0, 3, 5, 0])
        self.assertEqual(lines[0]["file"], ex("radio.txt"))
        self.assertEqual(lines[0]["result"]["item_count"], 4)
        self.assertEqual(lines[1]["error"], "HLS manifest detected; not parsed as playlist items")
        self.assertEqual(lines[1]["result"]["format"], "m3u8-hls")
        self.assertTrue(lines[2]["error"].startswith("io: "))
        self.assertEqual(lines[2]["result"]["item_count"], 0, "no result carried over")
        self.assertIn(f"kavlo: {hls}: HLS manifest detected", err)
        self.assertIn(f"kavlo: {missing}: io: No such file or directory", err)

    def test_stdin_format_and_encoding(self):
        with open(ex("stations-gbk.txt"), "rb") as f:
            gbk = f.read()
        rc, out, _ = run("-", stdin=gbk)
        self.assertEqual(json.loads(out)["warnings"], ["encoding: GBK fallback"])
        rc, out, _ = run("-e", "gbk", "-", stdin=gbk)
        doc = json.loads(out)
        self.assertEqual((rc, doc["items"][0]["title"]), (0, "中央一台"))
        self.assertNotIn("warnings", doc)
        rc, out, _ = run("--format", "streaming-list", ex("iptv.m3u"))
        self.assertEqual(json.loads(out)["format"], "streaming-list")
        rc, out, _ = run("--format=cue", "-", stdin=b"TITLE x\n")
        self.assertEqual(json.loads(out)["cue"], {"title": "x", "tracks": []})
        rc, out, err = run("-f", "m3u", ex("radio.txt"))
        self.assertEqual(rc, 3)
        self.assertIn("Not a valid M3U file. Missing header.", err)
        rc, _, err = run("-e", "utf-16le", "-", stdin=b"odd")
        self.assertEqual((rc, err), (1, "kavlo: -: iconv UTF-16LE fail\n"))

    def test_usage_errors_exit_2(self):
        for args in ([], ["-x", ex("iptv.m3u")], ["-f", "xml", ex("iptv.m3u")], ["-e"], ["detect"]):
            with self.subTest(args):
                rc, out, err = run(*args)
                self.assertEqual((rc, out), (2, ""))
                self.assertIn("kavlo --help", err)

    def test_warnings_pretty_help_and_version(self):
        rc, out, err = run("-w", "-p", ex("radio.txt"))
        self.assertEqual(err, f"{ex('radio.txt')}: streaming: dropped non-http URL\n")
        self.assertIn('\n  "format": "streaming-list"', out)
        self.assertEqual(json.loads(out), json.loads(run(ex("radio.txt"))[1]))
        rc, out, _ = run("--help")
        self.assertEqual(rc, 0)
        for word in ("--encoding", "--format", "--pretty", "--warnings", "--version", "detect",
                     "0  every", "1  a file", "2  usage", "3  HLS", "4  invalid", "5  a file", "6  out"):
            self.assertIn(word, out)
        self.assertRegex(run("-V")[1], r"^kavlo \d+\.\d+\.\d+\n$")


class Detect(unittest.TestCase):
    def test_detect_names_formats(self):
        self.assertEqual(run("detect", ex("album.cue"))[1], "cue\n")
        rc, out, _ = run("detect", ex("iptv.m3u"), ex("radio.txt"), "-", stdin=b"#EXTM3U\n#EXT-X-ENDLIST\n")
        self.assertEqual(out, f"{ex('iptv.m3u')}\tm3u\n{ex('radio.txt')}\tstreaming-list\n-\tm3u8-hls\n")
        rc, _, err = run("detect", "/nonexistent/x")
        self.assertEqual(rc, 5)


class Progress(unittest.TestCase):
    def test_progress_only_on_a_terminal(self):
        files = [ex("iptv.m3u"), ex("album.cue"), ex("radio.txt")]
        self.assertEqual(run(*files)[2], "", "no progress when stderr is a pipe")
        master, slave = pty.openpty()
        p = subprocess.run([KAVLO, *files], stdout=subprocess.PIPE, stderr=slave, timeout=60)
        os.close(slave)
        seen = b""
        try:
            while True:
                chunk = os.read(master, 4096)
                if not chunk:
                    break
                seen += chunk
        except OSError:
            pass
        os.close(master)
        self.assertEqual(p.returncode, 0)
        self.assertIn(b"3/3 files", seen)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
