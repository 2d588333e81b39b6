"""The Python module over the built library."""
import ctypes
import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import unittest

import kavlo

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EX = os.path.join(ROOT, "examples")
CASES = os.path.join(ROOT, "tests", "cases")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def load_cases():
    """(title, input bytes, format, encoding) of every case file entry."""
    out = []
    pattern = re.compile(r"### (.*?)\n<!-- meta=(\{.*?\}) -->\n```[\w+-]*\n(.*?)```\n", re.S)
    for name in sorted(os.listdir(CASES)):
        text = read(os.path.join(CASES, name)).decode("utf-8")
        for title, meta, body in pattern.findall(text):
            meta = json.loads(meta)
            if "file" in meta:
                data = read(os.path.join(ROOT, "tests", "data", meta["file"]))
            elif meta.get("escape"):
                data = unescape(body.replace("\n", ""))
            else:
                data = body.encode("utf-8")
            fmt = meta.get("format", "auto")
            out.append((f"{name}: {title}", data, fmt if isinstance(fmt, str) else int(fmt), meta.get("encoding")))
    assert len(out) > 20, "case files not found"
    return out


def unescape(s):
    out, i = bytearray(), 0
    simple = {"t": 9, "r": 13, "n": 10, "0": 0, "\\": 92}
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            if s[i + 1] == "x":
                out.append(int(s[i + 2:i + 4], 16))
                i += 4
                continue
            if s[i + 1] in simple:
                out.append(simple[s[i + 1]])
                i += 2
                continue
        out += s[i].encode("utf-8")
        i += 1
    return bytes(out)


def accessors():
    """The library the module uses, with the accessors declared."""
    lib = ctypes.CDLL(os.environ.get("KAVLO_TEST_LIBRARY", "libkavlo.so.0"))
    s, i, i64 = ctypes.c_char_p, ctypes.c_int, ctypes.c_int64
    for name, res, args in [
        ("kavlo_item_count", i, []), ("kavlo_item_location", s, [i]), ("kavlo_item_title", s, [i]),
        ("kavlo_item_duration_ms", i, [i]), ("kavlo_item_release_date", i, [i]),
        ("kavlo_item_attr_count", i, [i]), ("kavlo_item_attr_key", s, [i, i]), ("kavlo_item_attr", s, [i, s]),
        ("kavlo_m3u_is_imdb_date_playlist", i, []), ("kavlo_cue_meta", s, [s]), ("kavlo_cue_track_count", i, []),
        ("kavlo_cue_track_field", s, [i, s]), ("kavlo_cue_track_index_count", i, [i]),
        ("kavlo_cue_track_index_number", i, [i, i]), ("kavlo_cue_track_index_frames", i64, [i, i]),
        ("kavlo_cue_track_index_ms", i, [i, i]), ("kavlo_warning_count", i, []), ("kavlo_warning", s, [i]),
        ("kavlo_detected_format", i, []), ("kavlo_result_json", s, []), ("kavlo_result_json_full", s, []),
    ]:
        fn = getattr(lib, name)
        fn.restype, fn.argtypes = res, args
    return lib


LIB = accessors()


class Pairs(dict):
    """A JSON object that keeps its members in order, repeated names too."""

    def __init__(self, pairs):
        super().__init__(pairs)
        self.pairs = list(pairs)


def text(b):
    return None if b is None else b.decode("utf-8", "surrogateescape")


# Members of the full document that the module does not carry yet: an
# item's alternates, label, groups, request headers and catch-up settings,
# the list's title, EPG addresses and diagnostics.
UNCARRIED = {"items": ("alternates", "label", "groups", "http", "catchup"), "": ("title", "epg", "diagnostics")}


def stripped(text):
    """The full document as ordered pairs, without the members the module
    does not carry."""
    if text == "{}":
        return text
    doc = json.loads(text, object_pairs_hook=list)
    root = [(k, v) for k, v in doc if k not in UNCARRIED[""]]
    for n, (k, v) in enumerate(root):
        if k == "items":
            root[n] = (k, [[(ik, iv) for ik, iv in item if ik not in UNCARRIED["items"]] for item in v])
    return root


def same_document(case, text, library_text):
    """The module's text is the library's byte for byte, or when the library
    wrote members the module does not carry, the same without them."""
    if library_text == "{}" or stripped(library_text) == json.loads(library_text, object_pairs_hook=list):
        case.assertEqual(text, library_text)
    else:
        case.assertEqual(stripped(text), stripped(library_text))


class BulkAgainstAccessors(unittest.TestCase):
    """Every case file parsed through the module equals what the
    accessors of the library give for the same parse."""

    def check_same(self, r):
        L = LIB
        self.assertEqual(int(r.format), L.kavlo_detected_format())
        self.assertEqual(r.imdb_date_playlist, bool(L.kavlo_m3u_is_imdb_date_playlist()))
        self.assertEqual(len(r.items), L.kavlo_item_count())
        for i, item in enumerate(r.items):
            self.assertEqual((item.location, item.title, item.duration_ms, item.release_date),
                             (text(L.kavlo_item_location(i)), text(L.kavlo_item_title(i)),
                              L.kavlo_item_duration_ms(i), L.kavlo_item_release_date(i)))
            keys = [L.kavlo_item_attr_key(i, a) for a in range(L.kavlo_item_attr_count(i))]
            self.assertEqual([a.key for a in item.attr_list], [text(k) for k in keys])
            for k in keys:
                self.assertEqual(item.attr(text(k)), text(L.kavlo_item_attr(i, k)))
                self.assertEqual(item.attrs[text(k)], next(a.value for a in item.attr_list if a.key == text(k)))
        self.assertEqual(r.cue[:5], tuple(text(L.kavlo_cue_meta(k)) for k in
                                          (b"TITLE", b"PERFORMER", b"SONGWRITER", b"CATALOG", b"CDTEXTFILE")))
        self.assertEqual(len(r.tracks), L.kavlo_cue_track_count())
        keys = (b"DATATYPE", b"TITLE", b"PERFORMER", b"SONGWRITER", b"ISRC", b"FILE", b"FLAGS")
        for t, track in enumerate(r.tracks):
            self.assertEqual(track[1:8], tuple(text(L.kavlo_cue_track_field(t, k)) for k in keys))
            self.assertEqual(track.indices, [
                kavlo.Index(L.kavlo_cue_track_index_number(t, x), L.kavlo_cue_track_index_frames(t, x),
                            L.kavlo_cue_track_index_ms(t, x)) for x in range(L.kavlo_cue_track_index_count(t))])
        self.assertEqual(r.warnings, [text(L.kavlo_warning(w)) for w in range(L.kavlo_warning_count())])
        doc = json.loads(L.kavlo_result_json(), object_pairs_hook=Pairs)
        if doc:
            self.assertEqual([t.number for t in r.tracks], [t["number"] for t in doc.get("cue", {}).get("tracks", [])])
            # The document keeps a repeated key's own value; so does attr_list.
            for item, obj in zip(r.items, doc["items"]):
                self.assertEqual([tuple(a) for a in item.attr_list], obj.get("attrs", Pairs([])).pairs)
        return doc

    def test_case_files(self):
        for title, data, fmt, enc in load_cases():
            with self.subTest(title):
                try:
                    r = kavlo.parse(data, format=fmt, encoding=enc)
                except kavlo.KavloError:
                    continue
                self.check_same(r)
                # The module's own rendering of a result the library no
                # longer holds equals the library's document.
                for full in (False, True):
                    library_text = (LIB.kavlo_result_json_full if full else LIB.kavlo_result_json)().decode("utf-8")
                    same_document(self, kavlo._render_json(r, full), library_text)
                    same_document(self, r.to_json(full), library_text)

    def test_examples_through_the_file_entry_point(self):
        for name in sorted(os.listdir(EX)):
            path = os.path.join(EX, name)
            if os.path.isfile(path):
                with self.subTest(name):
                    self.check_same(kavlo.parse_file(path))

    def test_repeated_keys_keep_their_own_values_in_the_list(self):
        r = kavlo.parse('#EXTM3U\n#EXTINF:-1 a="1" A="2" b="3" a="4",T\n/x\n')
        item = r.items[0]
        self.assertEqual(item.attr_list, [kavlo.Attr("a", "1"), kavlo.Attr("A", "2"), kavlo.Attr("b", "3"),
                                          kavlo.Attr("a", "4")])
        self.assertEqual(item.attrs, {"a": "1", "A": "2", "b": "3"})
        self.assertEqual(item.attr("A"), "1")


class Results(unittest.TestCase):
    def test_values_outlive_later_parses(self):
        first = kavlo.parse_file(os.path.join(EX, "imdb.m3u"))
        cue = kavlo.parse_file(os.path.join(EX, "album.cue"))
        expected = first.to_json()
        kavlo.parse(b"Name,http://x/\n")
        self.assertTrue(first.imdb_date_playlist)
        self.assertEqual(first.items[2].release_date, 19820625)
        self.assertEqual([t.number for t in cue.tracks], [1, 2, 3])
        self.assertEqual(cue.to_json(), json.dumps(json.loads(cue.to_json()), ensure_ascii=False,
                                                   separators=(",", ":")))
        self.assertEqual(first.to_json(), expected)

    def test_document_members_survive_later_parses(self):
        # What only the full document holds is read when first asked for,
        # or before the next parse: both ways give the same values.
        data = (b'#EXTM3U x-tvg-url="http://e/g.xml"\n#EXTVLCOPT:http-referrer=http://r/\n#KODIPROP:k=v\n'
                b'#EXTINF:-1 tvg-id="a",A\nhttp://x/a|User-Agent=UA&Referer=R\n#EXTINF:-1,B\n/b\n')
        now = kavlo.parse(data)
        expected = list(now.items) + [now.header, stripped(now.to_json(True))]
        for touch_before in (False, True):
            with self.subTest(touch_before=touch_before):
                later = kavlo.parse(data)
                if touch_before:
                    later.items[1]
                kavlo.parse_file(os.path.join(EX, "album.cue"))
                kavlo.parse(b"x,http://y/\n")
                self.assertEqual(list(later.items) + [later.header, stripped(later.to_json(True))], expected)
        item = now.items[0]
        self.assertEqual((item.line, item.url, item.headers), (5, "http://x/a", {"User-Agent": "UA", "Referer": "R"}))
        self.assertEqual(item.options, (kavlo.Option("EXTVLCOPT", "http-referrer", "http://r/"),
                                        kavlo.Option("KODIPROP", "k", "v")))
        self.assertEqual(now.header, {"x-tvg-url": "http://e/g.xml"})
        self.assertEqual(kavlo.parse("新闻,#genre#\nA,http://x/a\n").items[0].group, "新闻")

    def test_cue_sheet(self):
        r = kavlo.parse_file(os.path.join(EX, "album.cue"))
        self.assertEqual((r.cue.title, r.cue.performer, r.cue.catalog), ("Night Set", "The Quartet", "0724385263021"))
        self.assertEqual(r.tracks[1].flags, "DCP")
        self.assertEqual(r.tracks[1].indices, [kavlo.Index(0, 17870, 238266), kavlo.Index(1, 18000, 240000)])
        self.assertEqual(r.tracks[0].isrc, "USRC16100001")
        self.assertIsNone(r.tracks[2].performer)

    def test_sequences_index_slice_and_compare(self):
        r = kavlo.parse(b"#EXTM3U\n/a\n/b\n/c\n")
        self.assertEqual(len(r.items), 3)
        self.assertEqual(r.items[-1].location, "/c")
        self.assertEqual([i.location for i in r.items[::2]], ["/a", "/c"])
        self.assertEqual(r.items, list(r.items))
        with self.assertRaises(IndexError):
            r.items[3]
        self.assertEqual(list(r.tracks), [])

    def test_readable_forms(self):
        r = kavlo.parse(b'#EXTM3U\n#EXTINF:5 group-title="G",T\n/a\n')
        self.assertEqual(repr(r), "<kavlo.Result format=m3u items=1 warnings=0>")
        self.assertEqual(repr(r.items[0]), "Item(location='/a', title='T', duration_ms=5000, attrs={'group-title': 'G'}, line=3)")
        self.assertEqual([str(f) for f in kavlo.Format], ["auto", "m3u", "m3u8-hls", "streaming-list", "cue",
                                                          "unknown"])
        self.assertEqual(f"{kavlo.Format.CUE}", "cue")
        self.assertRegex(kavlo.__version__, r"^\d+\.\d+\.\d+$")

    def test_records_compare_and_pickle_by_value(self):
        import pickle
        r = kavlo.parse_file(os.path.join(EX, "album.cue"))
        for rec in (r.items[0], r.tracks[1]):
            self.assertEqual(pickle.loads(pickle.dumps(rec)), rec)
        parsed = kavlo.parse(b'#EXTM3U\n#EXTINF:5 k="v",T\n/a\n').items[0]
        self.assertEqual(kavlo.Item("/a", "T", 5000, attrs={"k": "v"}, line=parsed.line), parsed)


class Arguments(unittest.TestCase):
    def test_data_types(self):
        m3u = b"#EXTM3U\n#EXTINF:1,A\n/a\n"
        spread = bytes(b for c in m3u for b in (c, 0))
        for data in (m3u, bytearray(m3u), memoryview(m3u), memoryview(b"xx" + m3u)[2:], m3u.decode(),
                     memoryview(spread)[::2]):
            with self.subTest(type(data).__name__):
                self.assertEqual(kavlo.parse(data).items[0].title, "A")

    def test_text_is_not_decoded_again(self):
        self.assertEqual(kavlo.parse("Café,http://x/").items[0].title, "Café")
        with self.assertRaises(ValueError):
            kavlo.parse("Café,http://x/", encoding="cp1252")
        self.assertEqual(kavlo.parse("Café,http://x/".encode("cp1252"), encoding="cp1252").items[0].title, "Café")

    def test_format_and_encoding_arguments(self):
        gbk = read(os.path.join(EX, "stations-gbk.txt"))
        r = kavlo.parse(gbk, encoding="gbk")
        self.assertEqual((r.items[0].title, r.warnings), ("中央一台", []))
        r = kavlo.parse(gbk, format="Streaming_List")
        self.assertEqual(r.warnings, ["encoding: GBK fallback"])
        self.assertEqual(kavlo.parse("TITLE x\n", format=kavlo.Format.CUE).cue.title, "x")
        self.assertEqual(kavlo.parse("TITLE x\n", format=3).format, kavlo.Format.CUE)

    def test_bad_arguments(self):
        cases = [
            (lambda: kavlo.parse(b"/a", format="pls"), ValueError),
            (lambda: kavlo.parse(b"/a", format=17), ValueError),
            (lambda: kavlo.parse(b"/a", encoding=b"gbk"), TypeError),
            (lambda: kavlo.parse(b"/a", encoding="gb\0k"), ValueError),
            (lambda: kavlo.parse(12), TypeError),
            (lambda: kavlo.parse([1, 2]), TypeError),
            (lambda: kavlo.parse_file(3.5), TypeError),
            (lambda: kavlo.parse_file("a\0b"), ValueError),
            (lambda: kavlo.detect(None), TypeError),
        ]
        for call, exc in cases:
            with self.subTest(exc.__name__):
                with self.assertRaises(exc):
                    call()

    def test_paths(self):
        path = os.path.join(EX, "iptv.m3u")
        import pathlib
        for p in (path, os.fsencode(path), pathlib.Path(path)):
            self.assertEqual(len(kavlo.parse_file(p).items), 5)


class Failures(unittest.TestCase):
    def test_raise_with_status_and_message(self):
        with tempfile.TemporaryDirectory() as d:
            cases = [
                (lambda: kavlo.parse("#EXTM3U\n#EXT-X-ENDLIST\n"), kavlo.Status.ERR_FORMAT,
                 "HLS manifest detected; not parsed as playlist items"),
                (lambda: kavlo.parse("/a\n", format="m3u"), kavlo.Status.ERR_FORMAT,
                 "Not a valid M3U file. Missing header."),
                (lambda: kavlo.parse(b"\xff\xfeA"), kavlo.Status.ERR_DECODE, "utf16le fail"),
                (lambda: kavlo.parse(b"\x81\x20,http://x/", encoding="gbk"), kavlo.Status.ERR_DECODE,
                 "iconv GBK fail"),
                (lambda: kavlo.parse(b"a,http://x/", encoding="no-such-encoding"), kavlo.Status.ERR_DECODE, None),
                (lambda: kavlo.parse_file("/nonexistent/list.m3u"), kavlo.Status.ERR_IO,
                 "io: No such file or directory"),
                (lambda: kavlo.parse_file(d), kavlo.Status.ERR_IO, None),
            ]
            for call, status, message in cases:
                with self.subTest(message or status.name):
                    with self.assertRaises(kavlo.KavloError) as cm:
                        call()
                    self.assertEqual(cm.exception.status, status)
                    self.assertTrue(cm.exception.message)
                    if message:
                        self.assertEqual(cm.exception.message, message)

    def test_detect(self):
        self.assertEqual(kavlo.detect(b"#EXTM3U\n/a\n"), kavlo.Format.M3U)
        self.assertEqual(kavlo.detect("cam,rtsp://x/"), kavlo.Format.STREAMING_LIST)
        self.assertEqual(kavlo.detect(bytearray(read(os.path.join(EX, "album.cue")))), kavlo.Format.CUE)
        self.assertEqual(kavlo.detect(b""), kavlo.Format.UNKNOWN)


class Streams(unittest.TestCase):
    """Paths that are not regular files are read as streams."""

    def setUp(self):
        self.data = read(os.path.join(EX, "album.cue"))
        self.expected = kavlo.parse_file(os.path.join(EX, "album.cue")).to_json()

    def test_fifo(self):
        with tempfile.TemporaryDirectory() as d:
            fifo = os.path.join(d, "list.cue")
            os.mkfifo(fifo)

            def writer():
                with open(fifo, "wb") as f:
                    f.write(self.data)

            t = threading.Thread(target=writer)
            t.start()
            r = kavlo.parse_file(fifo)
            t.join()
            self.assertEqual(r.to_json(), self.expected)

    def test_pipe_by_descriptor_path(self):
        rd, wr = os.pipe()
        t = threading.Thread(target=lambda: (os.write(wr, self.data), os.close(wr)))
        t.start()
        try:
            r = kavlo.parse_file(f"/dev/fd/{rd}")
        finally:
            t.join()
            os.close(rd)
        self.assertEqual(r.to_json(), self.expected)

    def test_dev_stdin_in_a_child(self):
        code = "import kavlo; print(kavlo.parse_file('/dev/stdin').to_json())"
        out = subprocess.run([sys.executable, "-c", code], input=self.data, capture_output=True, check=True).stdout
        self.assertEqual(out.decode().strip(), self.expected)

    def test_encoding_applies_to_streams(self):
        data = "Ça,http://x/\n".encode("cp1252")
        rd, wr = os.pipe()
        os.write(wr, data)
        os.close(wr)
        try:
            r = kavlo.parse_file(f"/dev/fd/{rd}", encoding="cp1252")
        finally:
            os.close(rd)
        self.assertEqual((r.items[0].title, r.warnings), ("Ça", []))


class Threads(unittest.TestCase):
    def test_parallel_parses_give_their_own_results(self):
        inputs = [os.path.join(EX, n) for n in ("iptv.m3u", "album.cue", "radio.txt", "imdb.m3u")]
        expected = {p: kavlo.parse_file(p).to_json() for p in inputs}
        data = {p: read(p) for p in inputs}
        errors = []

        def worker(k):
            try:
                for n in range(60):
                    p = inputs[(k + n) % len(inputs)]
                    r = kavlo.parse_file(p) if n % 2 else kavlo.parse(data[p])
                    if kavlo.detect(data[p]) != r.format:
                        errors.append(f"{p}: detect")
                    if r.to_json() != expected[p]:
                        errors.append(f"{p}: {r.to_json()[:80]}")
            except Exception as e:  # reported below
                errors.append(repr(e))

        threads = [threading.Thread(target=worker, args=(k,)) for k in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])


class Loading(unittest.TestCase):
    def test_kavlo_library_names_the_file_loaded(self):
        import shutil
        with tempfile.TemporaryDirectory() as d:
            copy = os.path.join(d, "libkavlo-copy.so")
            shutil.copyfile(LIB._name, copy)
            code = ("import kavlo; r = kavlo.parse_file('examples/iptv.m3u'); "
                    "maps = open('/proc/self/maps').read(); print(len(r.items), maps.count('libkavlo-copy.so') > 0)")
            out = subprocess.run([sys.executable, "-c", code], cwd=ROOT, capture_output=True, text=True, check=True,
                                 env=dict(os.environ, KAVLO_LIBRARY=copy)).stdout
            self.assertEqual(out, "5 True\n")
            bad = subprocess.run([sys.executable, "-c", "import kavlo"], capture_output=True, text=True,
                                 env=dict(os.environ, KAVLO_LIBRARY=os.path.join(d, "missing.so")))
            self.assertNotEqual(bad.returncode, 0)
            self.assertIn("missing.so", bad.stderr)


class AutoEncoding(unittest.TestCase):
    # Russian station names, written in CP1251 and KOI8-R; read without a
    # name, the library's chain makes Chinese of them.
    NAMES = ["Радио Маяк", "Наше радио", "Европа Плюс"]

    def lines(self, encoding):
        return "".join(f"{n},http://198.51.100.{i}/\n" for i, n in enumerate(self.NAMES)).encode(encoding)

    def test_legacy_text_is_read_in_the_encoding_found(self):
        for encoding, found in (("cp1251", "WINDOWS-1251"), ("koi8-r", "KOI8-R")):
            with self.subTest(encoding):
                r = kavlo.parse(self.lines(encoding), encoding="auto")
                self.assertEqual(([i.title for i in r.items], r.encoding, r.warnings), (self.NAMES, found, []))
                plain = kavlo.parse(self.lines(encoding))
                self.assertNotEqual([i.title for i in plain.items], self.NAMES)
                self.assertIsNone(plain.encoding)

    def test_utf8_marked_and_undecidable_text(self):
        r = kavlo.parse(self.lines("utf-8"), encoding="AUTO")
        self.assertEqual(([i.title for i in r.items], r.encoding), (self.NAMES, "UTF-8"))
        r = kavlo.parse(b"\xff\xfe" + self.lines("utf-16-le"), encoding="auto")
        self.assertEqual(r.encoding, "UTF-16LE")
        # A wrong guess or none at all ends in the library's chain, never in
        # a failure: "café" with é last is not valid in any multi-byte page.
        r = kavlo.parse(b"caf\xe9,http://198.51.100.9/\n", encoding="auto")
        self.assertEqual(r.items[0].title, "café")
        with self.assertRaises(kavlo.KavloError) as e:
            kavlo.parse(b"\xff\xfeA", encoding="auto")
        self.assertEqual(e.exception.status, kavlo.Status.ERR_DECODE)

    def test_files(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "list.txt")
            with open(path, "wb") as f:
                f.write(self.lines("koi8-r"))
            r = kavlo.parse_file(path, encoding="auto")
            self.assertEqual(([i.title for i in r.items], r.encoding), (self.NAMES, "KOI8-R"))
            with self.assertRaises(kavlo.KavloError) as e:
                kavlo.parse_file(os.path.join(d, "missing.txt"), encoding="auto")
            self.assertEqual(e.exception.status, kavlo.Status.ERR_IO)
            self.assertTrue(str(e.exception.message).startswith("io: "))


class Examples(unittest.TestCase):
    def test_readme_example_runs(self):
        out = subprocess.run([sys.executable, os.path.join(EX, "python", "groups.py"), os.path.join(EX, "iptv.m3u")],
                             capture_output=True, text=True, check=True).stdout
        self.assertEqual(out, "-\t2\nMusic\t1\nNews\t2\n")
        p = subprocess.run([sys.executable, os.path.join(EX, "python", "groups.py")], capture_output=True, text=True)
        self.assertEqual((p.returncode, p.stdout), (1, ""))
        self.assertRegex(p.stderr, r"^usage: .*groups\.py PLAYLIST\n$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
