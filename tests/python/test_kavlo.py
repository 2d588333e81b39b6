"""The Python module over the built library."""
import os
import subprocess
import sys
import unittest

import kavlo

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EX = os.path.join(ROOT, "examples")


class Parse(unittest.TestCase):
    def test_m3u_items_attributes_and_json(self):
        r = kavlo.parse('#EXTM3U\n#EXTINF:215 tvg-id="a1" group-title="Rock",Live\n/a.mp3\n/b.mp3\n')
        self.assertEqual(r.format, kavlo.Format.M3U)
        self.assertEqual([i.location for i in r.items], ["/a.mp3", "/b.mp3"])
        self.assertEqual(r.items[0].duration_ms, 215000)
        self.assertEqual(r.items[0].attrs, [kavlo.Attr("tvg-id", "a1"), kavlo.Attr("group-title", "Rock")])
        self.assertEqual(r.items[0].attr("GROUP-TITLE"), "Rock")
        self.assertIsNone(r.items[1].attr("group-title"))
        self.assertEqual(r.warnings, ["m3u: bare path accepted"])
        self.assertTrue(r.to_json().startswith('{"format":"m3u","item_count":2,'))

    def test_results_are_values_that_outlive_later_parses(self):
        first = kavlo.parse_file(os.path.join(EX, "imdb.m3u"))
        kavlo.parse(b"Name,http://x/\n")
        self.assertTrue(first.imdb_date_playlist)
        self.assertEqual(first.items[2].release_date, 19820625)

    def test_cue_sheet(self):
        r = kavlo.parse_file(os.path.join(EX, "album.cue"))
        self.assertEqual((r.cue.title, r.cue.performer, r.cue.catalog), ("Night Set", "The Quartet", "0724385263021"))
        self.assertEqual([t.number for t in r.tracks], [1, 2, 3])
        self.assertEqual(r.tracks[1].flags, "DCP")
        self.assertEqual(r.tracks[1].indices, [kavlo.Index(0, 17870, 238266), kavlo.Index(1, 18000, 240000)])
        self.assertEqual(r.tracks[0].isrc, "USRC16100001")
        self.assertIsNone(r.tracks[2].performer)

    def test_format_and_encoding_arguments(self):
        gbk = open(os.path.join(EX, "stations-gbk.txt"), "rb").read()
        r = kavlo.parse(gbk, encoding="gbk")
        self.assertEqual((r.items[0].title, r.warnings), ("中央一台", []))
        r = kavlo.parse(gbk, format="streaming-list")
        self.assertEqual(r.warnings, ["encoding: GBK fallback"])
        self.assertEqual(kavlo.parse("TITLE x\n", format=kavlo.Format.CUE).cue.title, "x")

    def test_failures_raise_with_status_and_message(self):
        cases = [
            (lambda: kavlo.parse("#EXTM3U\n#EXT-X-ENDLIST\n"), kavlo.Status.ERR_FORMAT,
             "HLS manifest detected; not parsed as playlist items"),
            (lambda: kavlo.parse("/a\n", format="m3u"), kavlo.Status.ERR_FORMAT,
             "Not a valid M3U file. Missing header."),
            (lambda: kavlo.parse(b"\xff\xfeA"), kavlo.Status.ERR_DECODE, "utf16le fail"),
            (lambda: kavlo.parse_file("/nonexistent/list.m3u"), kavlo.Status.ERR_IO,
             "io: No such file or directory"),
        ]
        for call, status, message in cases:
            with self.subTest(message):
                with self.assertRaises(kavlo.KavloError) as cm:
                    call()
                self.assertEqual((cm.exception.status, cm.exception.message), (status, message))

    def test_detect(self):
        self.assertEqual(kavlo.detect(b"#EXTM3U\n/a\n"), kavlo.Format.M3U)
        self.assertEqual(kavlo.detect("cam,rtsp://x/"), kavlo.Format.STREAMING_LIST)
        self.assertEqual(kavlo.detect(b""), kavlo.Format.UNKNOWN)

    def test_readme_example_runs(self):
        out = subprocess.run([sys.executable, os.path.join(EX, "python", "groups.py"), os.path.join(EX, "iptv.m3u")],
                             capture_output=True, text=True, check=True).stdout
        self.assertEqual(out, "-\t2\nMusic\t1\nNews\t2\n")
        p = subprocess.run([sys.executable, os.path.join(EX, "python", "groups.py")], capture_output=True, text=True)
        self.assertEqual((p.returncode, p.stdout), (1, ""))
        self.assertRegex(p.stderr, r"^usage: .*groups\.py PLAYLIST\n$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
