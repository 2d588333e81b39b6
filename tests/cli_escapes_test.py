#!/usr/bin/env python3
"""Control bytes through the tool's JSON Lines wrapper (kavlo -l): in file
names, which the tool writes itself, and in titles, locations and request
headers, which the library's documents carry (the ordinary one and, with
--full, the full one). Every line must be JSON whose strings read back as
the bytes stored, with no raw control byte in it, and the library's part
must be escaped as yyjson's writer escapes."""
import json
import os
import subprocess
import tempfile
import unittest

KAVLO = os.environ.get("KAVLO_BIN", "build/kavlo")

CONTROLS = [*range(0x20), 0x7F]
# Lengths the library's writer treats apart: shorter than its 16-byte
# block, one block, longer, ending at the edge of the second, past it.
LENGTHS = [1, 2, 15, 16, 17, 31, 32, 33, 48]
WHITE = b" \t\n\v\f\r"


def texts(byte):
    """Strings of each length with `byte` at the start, middle and end."""
    for n in LENGTHS:
        for at in sorted({0, n // 2, n - 1}):
            t = bytearray(b"abcdefghijklmnopqrstuvwxyz"[k % 26] for k in range(n))
            t[at] = byte
            yield bytes(t)


def yyjson_string(b):
    """A string as yyjson's writer writes it: the quote, the backslash and
    the control codes escaped (the short forms where JSON has them, else
    \\u00XX in capitals), DEL and everything else as it is."""
    short = {0x22: '\\"', 0x5C: "\\\\", 0x08: "\\b", 0x09: "\\t", 0x0A: "\\n", 0x0C: "\\f", 0x0D: "\\r"}
    return '"' + "".join(short.get(c, f"\\u{c:04X}" if c < 0x20 else chr(c)) for c in b) + '"'


def stored(line):
    """A line as the store keeps it: trimmed, and cut at a NUL."""
    return line.strip(WHITE).split(b"\0")[0]


def run(args, paths):
    p = subprocess.run([KAVLO, "-l", *args, *paths], capture_output=True, timeout=60)
    lines = p.stdout.split(b"\n")
    assert lines[-1] == b"", "the output ends with a line feed"
    return lines[:-1]


class Escapes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def assert_json_line(self, line):
        raw = next((i for i, c in enumerate(line) if c < 0x20), None)
        self.assertIsNone(raw, raw is not None and line[max(0, raw - 40):raw + 20])
        return json.loads(line)

    def test_file_names(self):
        # Any byte but NUL and "/" can be in a name; the tool escapes it.
        paths = []
        for byte in CONTROLS[1:]:
            for t in texts(byte):
                path = os.path.join(os.fsencode(self.dir.name), b"%02x-" % byte + t)
                with open(path, "wb") as f:
                    f.write(b"Radio,http://198.51.100.1/\n")
                paths.append(path)
        lines = run([], paths)
        self.assertEqual(len(lines), len(paths))
        for path, line in zip(paths, lines):
            obj = self.assert_json_line(line)
            self.assertEqual(obj["file"], path.decode(), line)
            self.assertNotIn("file_escaped", obj)
            self.assertEqual(obj["status"], "ok")

    def test_titles_locations_and_headers(self):
        for byte in CONTROLS:
            if byte in (0x0A, 0x0D):
                continue  # they end the line; the file names have them
            with self.subTest(byte=f"{byte:02x}"):
                path = os.path.join(self.dir.name, f"titles-{byte:02x}.m3u")
                entries = [(b"#EXTINF:-1," + t, b"http://h/" + t + b"|User-Agent=" + t) for t in texts(byte)]
                with open(path, "wb") as f:
                    f.write(b"#EXTM3U\n" + b"".join(e + b"\n" + loc + b"\n" for e, loc in entries))
                for args in ([], ["--full"]):
                    (line,) = run(args, [path])
                    obj = self.assert_json_line(line)
                    items = obj["result"]["items"]
                    self.assertEqual(len(items), len(entries))
                    for (extinf, loc), item in zip(entries, items):
                        title, location = stored(extinf.split(b",", 1)[1]), stored(loc)
                        self.assertEqual(item["title"].encode(), title)
                        self.assertEqual(item["location"].encode(), location)
                        self.assertIn(b'"title":' + yyjson_string(title).encode() + b',"location":' +
                                      yyjson_string(location).encode() + b",", line)
                        if args and b"|" in location:
                            url, _, header = location.partition(b"|")
                            agent = header.partition(b"=")[2]
                            self.assertEqual((item["url"].encode(), item["headers"]["User-Agent"].encode()),
                                             (url, agent))
                            self.assertIn(b'"url":' + yyjson_string(url).encode() +
                                          b',"headers":{"User-Agent":' + yyjson_string(agent).encode() + b"}", line)
                        elif args:
                            self.assertNotIn("url", item)


if __name__ == "__main__":
    unittest.main()
