#!/usr/bin/env python3
"""Runs the built kavlo command-line tool as a user would."""
import codecs
import json
import os
import pty
import re
import signal
import subprocess
import sys
import tempfile
import threading
import unittest

KAVLO = os.environ.get("KAVLO_BIN", "build/kavlo")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EX = os.path.join(ROOT, "examples")


def run(*args, stdin=b""):
    p = subprocess.run([KAVLO, *args], input=stdin, capture_output=True, timeout=60)
    return p.returncode, p.stdout.decode(), p.stderr.decode()


def run_bytes(*args, **kw):
    p = subprocess.run([KAVLO, *args], capture_output=True, timeout=60, **kw)
    return p.returncode, p.stdout, p.stderr


def read_pty(args, **kw):
    """Runs the tool with standard error on a terminal; returns (status, what the terminal got)."""
    master, slave = pty.openpty()
    p = subprocess.run([KAVLO, *args], stdout=subprocess.PIPE, stderr=slave, timeout=60, **kw)
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
    return p.returncode, seen


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

    def test_utf32_with_its_mark_is_read_whatever_the_name(self):
        sheet = os.path.join(ROOT, "tests", "data", "cue-utf32le.cue")
        for args in ([], ["-e", "UTF-32LE"], ["-w", "-f", "cue"], ["-e", "gbk"]):
            with self.subTest(args):
                rc, out, err = run(*args, sheet)
                self.assertEqual((rc, err), (0, ""))
                doc = json.loads(out)
                self.assertEqual([t["title"] for t in doc["cue"]["tracks"]], ["日本", "Ünder 𝄞"])
        self.assertEqual(json.loads(run("-l", sheet)[1])["encoding"], "UTF-32LE")
        big_endian = b"\0\0\xfe\xff" + "Rádio,http://x/a\n".encode("utf-32-be")
        rc, out, err = run("-l", "-", stdin=big_endian)
        line = json.loads(out)
        self.assertEqual((rc, line["encoding"], line["result"]["items"][0]["title"]), (0, "UTF-32BE", "Rádio"))
        rc, out, err = run("-", stdin=b"\xff\xfe\0\0A\0")
        self.assertEqual((rc, out, err), (1, "", "kavlo: -: utf32le fail\n"))

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
        self.assertTrue(lines[2]["error"].startswith("io: "))
        self.assertEqual([l["result"] is None for l in lines], [False, True, True, False],
                         "a failure carries no document")
        self.assertIn(f"kavlo: {hls}: HLS manifest detected", err)
        self.assertIn(f"kavlo: {missing}: io: No such file or directory", err)

    def test_stdin_format_and_encoding(self):
        with open(ex("stations-gbk.txt"), "rb") as f:
            gbk = f.read()
        rc, out, _ = run("--encoding=", "-", stdin=gbk)  # no name: the library's chain
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

    def test_warnings_are_diagnostics_with_their_lines(self):
        # FILE:LINE: MESSAGE for what a line raised or lost, FILE: MESSAGE
        # for the whole text.
        text = "#EXTM3U\n#EXTINF:1.5,Caf\xe9\n/a\n/b\x00c\n".encode("latin-1")
        rc, _, err = run("-w", "-e", "", "-", stdin=text)
        self.assertEqual((rc, err.splitlines()), (0, [
            "-: encoding: CP1252 fallback", "-:2: m3u: fraction of the EXTINF duration dropped",
            "-:4: m3u: line cut at a NUL byte", "-:4: m3u: bare path accepted"]))

    def test_warnings_pretty_help_and_version(self):
        rc, out, err = run("-w", "-p", ex("radio.txt"))
        self.assertEqual(err, f"{ex('radio.txt')}:6: streaming: dropped non-http URL\n")
        self.assertIn('\n  "format": "streaming-list"', out)
        self.assertEqual(json.loads(out), json.loads(run(ex("radio.txt"))[1]))
        rc, out, _ = run("--help")
        self.assertEqual(rc, 0)
        for word in ("--encoding", "--format", "--pretty", "--warnings", "--version", "detect",
                     "0  every", "1  a file", "2  usage", "3  HLS", "4  invalid", "5  a file", "6  out",
                     "--lines", "or standard output could not be written"):
            self.assertIn(word, out)
        self.assertRegex(run("-V")[1], r"^kavlo \d+\.\d+\.\d+\n$")


class Detect(unittest.TestCase):
    def test_detect_names_formats(self):
        self.assertEqual(run("detect", ex("album.cue"))[1], "cue\n")
        rc, out, _ = run("detect", ex("iptv.m3u"), ex("radio.txt"), "-", stdin=b"#EXTM3U\n#EXT-X-ENDLIST\n")
        self.assertEqual(out, f"{ex('iptv.m3u')}\tm3u\n{ex('radio.txt')}\tstreaming-list\n-\tm3u8-hls\n")
        rc, out, err = run("detect", "/nonexistent/x")
        self.assertEqual((rc, out), (5, "error\n"))

    def test_every_file_has_a_line_and_the_first_failure_sets_the_status(self):
        with tempfile.TemporaryDirectory() as d:
            rc, out, err = run("detect", "-l", "/nonexistent/x", d, ex("album.cue"))
        self.assertEqual((rc, out), (5, f"/nonexistent/x\terror\n{d}\terror\n{ex('album.cue')}\tcue\n"))
        self.assertEqual(err, f"kavlo: /nonexistent/x: io: No such file or directory\nkavlo: {d}: io: Is a directory\n")


class Progress(unittest.TestCase):
    def test_progress_only_on_a_terminal(self):
        files = [ex("iptv.m3u"), ex("album.cue"), ex("radio.txt")]
        self.assertEqual(run(*files)[2], "", "no progress when stderr is a pipe")
        rc, seen = read_pty(files)
        self.assertEqual(rc, 0)
        self.assertIn(b"3/3 files", seen)

    def test_progress_line_is_cleared_before_other_output(self):
        files = [ex("album.cue"), ex("iptv.m3u"), "/nonexistent/x.m3u", ex("radio.txt")]
        rc, seen = read_pty(["-w", *files])
        self.assertEqual(rc, 5)
        self.assertIn(b"1/4 files", seen)
        seen = seen.replace(b"\r\n", b"\n")  # the terminal's own line ends
        self.assertIsNone(re.search(rb"MB/s[^\r]", seen), seen)
        text = re.sub(rb"\r\x1b\[K(\d+/\d+ files, [\d.]+ MB/s)?", b"", seen).decode()
        self.assertIn(f"\n{ex('iptv.m3u')}:2: m3u: ignored tag\n", text)
        self.assertIn("\nkavlo: /nonexistent/x.m3u: io: No such file or directory\n", text)


class OutputForms(unittest.TestCase):
    def test_lines_option_gives_json_lines_for_any_number_of_files(self):
        rc, out, _ = run("-l", ex("iptv.m3u"))
        self.assertEqual(out.count("\n"), 1)
        line = json.loads(out)
        self.assertEqual((rc, line["file"], line["status"], line["result"]["item_count"]),
                         (0, ex("iptv.m3u"), "ok", 5))
        self.assertEqual(line["result"], json.loads(run(ex("iptv.m3u"))[1]))
        for args in (["--lines"], []):
            rc, out, _ = run(*args, ex("radio.txt"), ex("album.cue"))
            self.assertEqual([json.loads(l)["status"] for l in out.splitlines()], ["ok", "ok"])
        rc, out, _ = run("-l", "-p", ex("radio.txt"))
        self.assertIn('\n  "result": {\n    "format": "streaming-list"', out)

    def test_full_document_in_place_of_the_ordinary_one(self):
        ordinary = json.loads(run(ex("iptv.m3u"))[1])
        rc, out, _ = run("--full", ex("iptv.m3u"))
        full = json.loads(out)
        self.assertEqual(rc, 0)
        self.assertEqual(full["header"], {"x-tvg-url": "https://epg.example.org/guide.xml.gz"})
        self.assertEqual(full["version"], run("-V")[1].split()[1])
        self.assertEqual(full["items"][1]["options"],
                         [{"tag": "EXTVLCOPT", "key": "http-user-agent", "value": "ExamplePlayer/1.0"}])
        self.assertEqual([it["line"] for it in full["items"]], [4, 7, 10, 12, 13])
        self.assertEqual(full["items"][1]["http"], {"user-agent": "ExamplePlayer/1.0"})
        for item in full["items"]:
            for added in ("line", "options", "groups", "http"):
                item.pop(added, None)
        del full["version"], full["header"], full["title"], full["epg"], full["diagnostics"]
        self.assertEqual(full, ordinary)
        # The wrapper of JSON Lines is unchanged around it; detect refuses it.
        rc, out, _ = run("--full", "-l", ex("album.cue"))
        line = json.loads(out)
        self.assertEqual((rc, list(line)), (0, ["file", "status", "code", "error", "encoding", "result"]))
        self.assertIn("version", line["result"])
        rc, _, err = run("detect", "--full", ex("album.cue"))
        self.assertEqual(rc, 2)
        self.assertIn("kavlo: detect does not take --full\n", err)

    def test_failure_prints_no_document(self):
        with tempfile.TemporaryDirectory() as d:
            unreadable = os.path.join(d, "locked.m3u")
            with open(unreadable, "w") as f:
                f.write("#EXTM3U\n/a.mp3\n")
            os.chmod(unreadable, 0)
            hls = os.path.join(d, "live.m3u8")
            with open(hls, "w") as f:
                f.write("#EXTM3U\n#EXT-X-ENDLIST\n")
            cases = [("/nonexistent/x.m3u", 5, "io: No such file or directory"),
                     (d, 5, "io: Is a directory"),
                     (hls, 3, "HLS manifest detected; not parsed as playlist items")]
            if os.geteuid() != 0:
                cases.append((unreadable, 5, "io: Permission denied"))
            for path, code, error in cases:
                with self.subTest(path):
                    rc, out, err = run(path)
                    self.assertEqual((rc, out), (code, ""))
                    self.assertEqual(err, f"kavlo: {path}: {error}\n")
                    rc, out, _ = run("-l", path)
                    self.assertEqual(json.loads(out), {"file": path, "status": kavlo_status(code), "code": code,
                                                       "error": error, "result": None})

    def test_names_that_are_not_utf8_stay_valid_json_and_recoverable(self):
        with open(ex("radio.txt"), "rb") as f:
            data = f.read()
        with tempfile.TemporaryDirectory() as d:
            names = [b"bad\xff\xfename.txt", b"back\\slash\xc3.txt", b"caf\xc3\xa9\\x41.txt", b'q"\t.txt']
            paths = [os.path.join(os.fsencode(d), n) for n in names]
            for path in paths:
                with open(path, "wb") as f:
                    f.write(data)
            rc, out, _ = run_bytes("-l", *paths)
        lines = [json.loads(l) for l in out.decode("utf-8").splitlines()]
        self.assertEqual([l["status"] for l in lines], ["ok"] * 4)
        self.assertEqual([l.get("file_escaped", False) for l in lines], [True, True, False, False])
        for path, line in zip(paths, lines):
            name = line["file"].encode("utf-8")
            if line.get("file_escaped"):
                name = codecs.escape_decode(name)[0]
            self.assertEqual(name, path)
        self.assertEqual(lines[0]["file"], os.path.join(d, "bad\\xff\\xfename.txt"))


def kavlo_status(code):
    return {0: "ok", 1: "decode", 3: "format", 4: "invalid", 5: "io", 6: "nomem"}[code]


class Streams(unittest.TestCase):
    def test_pipes_fifos_and_dev_stdin_are_read_as_streams(self):
        with open(ex("album.cue"), "rb") as f:
            cue = f.read()
        expected = json.loads(run(ex("album.cue"))[1])
        rc, out, err = run_bytes("/dev/stdin", input=cue)
        self.assertEqual((rc, json.loads(out)), (0, expected))
        r, w = os.pipe()  # what a shell makes of <(cat album.cue)
        os.write(w, cue)
        os.close(w)
        rc, out, err = run_bytes(f"/dev/fd/{r}", pass_fds=(r,))
        os.close(r)
        self.assertEqual((rc, json.loads(out)), (0, expected), err)
        with tempfile.TemporaryDirectory() as d:
            fifo = os.path.join(d, "fifo")
            os.mkfifo(fifo)
            def feed():
                with open(fifo, "wb") as f:
                    f.write(cue)

            for args in ([fifo], ["-f", "cue", fifo], ["detect", fifo]):
                writer = threading.Thread(target=feed)
                writer.start()
                rc, out, err = run_bytes(*args)
                writer.join()
                with self.subTest(args):
                    self.assertEqual(rc, 0, err)
                    if args[0] == "detect":
                        self.assertEqual(out, b"cue\n")
                    else:
                        self.assertEqual(json.loads(out), expected)


class LargeFiles(unittest.TestCase):
    """Files of 1 MiB and more are mapped rather than read."""

    @staticmethod
    def m3u(entries):
        return b"#EXTM3U\n" + b"".join(b"#EXTINF:3 tvg-id=\"%d\",Caf\xc3\xa9 %d\n/x/%d\n" % (i, i, i)
                                        for i in range(entries))

    def test_same_documents_as_the_bytes_read_from_standard_input(self):
        big = self.m3u(40000)
        self.assertGreater(len(big), 1 << 20)
        texts = [big, big.decode().encode("utf-16"), big.decode().encode("cp1252"),
                 b"no playlist\n" * 100000]
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "big")
            for text in texts:
                with open(path, "wb") as f:
                    f.write(text)
                for args in ([], ["-w"], ["-l"], ["--full"], ["-e", "latin1"], ["-f", "m3u"]):
                    with self.subTest(args=args, size=len(text)):
                        # The file's name in messages and wrappers stands for "-".
                        rc, out, err = run_bytes(*args, path)
                        named = (rc, out.replace(path.encode(), b"-"), err.replace(path.encode(), b"-"))
                        self.assertEqual(named, run_bytes(*args, "-", input=text))

    def test_a_file_cut_and_rewritten_meanwhile_gives_a_state_it_had(self):
        # Every state of the file is a prefix of the text at least half as
        # long: each run parses one such prefix, and none dies of a bus error.
        text = self.m3u(60000)
        half = text.rindex(b"\n", 0, len(text) // 2) + 1
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "moving.m3u")
            with open(path, "wb") as f:
                f.write(text)
            stop = threading.Event()

            def churn():
                while not stop.is_set():
                    os.truncate(path, half)
                    with open(path, "r+b") as f:
                        f.write(text)

            writer = threading.Thread(target=churn)
            writer.start()
            try:
                for _ in range(20):
                    rc, out, err = run_bytes(path)
                    self.assertEqual(rc, 0, err)
                    count = json.loads(out)["item_count"]
                    self.assertTrue(text[:half].count(b"\n/x/") <= count <= 60000, count)
            finally:
                stop.set()
                writer.join()


class WriteErrors(unittest.TestCase):
    def test_full_disk_and_closed_pipe_are_reported(self):
        for args in (["detect", ex("iptv.m3u")], [ex("iptv.m3u")], ["-l", ex("iptv.m3u"), ex("radio.txt")],
                     ["-p", ex("iptv.m3u")], ["--help"]):
            with self.subTest(args), open("/dev/full", "wb") as full:
                p = subprocess.run([KAVLO, *args], stdout=full, stderr=subprocess.PIPE, timeout=60)
                self.assertEqual((p.returncode, p.stderr.decode()),
                                 (5, "kavlo: standard output: No space left on device\n"))
        # A reader that goes away ends the run as SIGPIPE would: no message,
        # 141 from the shell's view.
        for args in (["-l", *[ex("iptv.m3u")] * 3000], ["detect", *[ex("iptv.m3u")] * 20000]):
            with self.subTest(args[0]):
                p = subprocess.Popen([KAVLO, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                p.stdout.read(10)
                p.stdout.close()
                err = p.stderr.read().decode()
                p.stderr.close()
                self.assertEqual((p.wait(timeout=60), err), (-signal.SIGPIPE, ""))
        sh = subprocess.run(["sh", "-c", '"$0" -l "$1" "$1" "$1" | head -c 1 >/dev/null; echo "$?"', KAVLO,
                             ex("iptv.m3u")], capture_output=True, timeout=60)
        self.assertEqual(sh.stdout, b"0\n")  # head's status; the tool's own is asserted above


class Options(unittest.TestCase):
    def test_clustered_attached_and_any_case_values(self):
        with open(ex("stations-gbk.txt"), "rb") as f:
            gbk = f.read()
        rc, out, err = run("-pw", ex("radio.txt"))
        self.assertEqual((rc, err), (0, f"{ex('radio.txt')}:6: streaming: dropped non-http URL\n"))
        self.assertIn('\n  "format"', out)
        rc, out, _ = run("-egbk", "-", stdin=gbk)
        self.assertEqual((rc, json.loads(out)["items"][0]["title"]), (0, "中央一台"))
        for args in (["-fcue"], ["-f", "CUE"], ["--format=Cue"], ["--form", "cue"]):
            rc, out, _ = run(*args, "-", stdin=b"title x\n")
            self.assertEqual((rc, json.loads(out)["cue"]), (0, {"title": "x", "tracks": []}), args)
        rc, out, _ = run("-f", "M3U", ex("iptv.m3u"))
        self.assertEqual(json.loads(out)["format"], "m3u")
        rc, out, err = run(ex("radio.txt"), "-w", "-l")
        self.assertEqual((rc, json.loads(out)["status"]), (0, "ok"))
        self.assertIn("dropped non-http URL", err)
        self.assertEqual(run("--", "-w")[2], "kavlo: -w: io: No such file or directory\n")

    def test_options_a_mode_cannot_honour_are_refused(self):
        for args, opt in ((["-e", "gbk"], "--encoding"), (["-f", "cue"], "--format"), (["-p"], "--pretty")):
            rc, out, err = run("detect", *args, ex("album.cue"))
            self.assertEqual((rc, out), (2, ""))
            self.assertIn(f"kavlo: detect does not take {opt}\n", err)
        rc, out, _ = run("detect", "-l", ex("album.cue"))
        self.assertEqual((rc, out), (0, f"{ex('album.cue')}\tcue\n"))
        rc, out, err = run("-w", "detect", "-", stdin="中央一台,http://x/".encode("gbk"))
        self.assertEqual((rc, out, err), (0, "streaming-list\n", "-: encoding: GBK fallback\n"))

    def test_refused_options_are_named_as_written(self):
        cue = ex("album.cue")
        for args, message in ((["--full=1", cue], "option takes no value: --full=1"),
                              ([cue, "--lines=x"], "option takes no value: --lines=x"),
                              (["--f", "cue", cue], "ambiguous option: --f"),
                              (["--bogus", cue], "unknown option: --bogus"),
                              (["--full", "-px", cue], "unknown option: -x"),
                              ([cue, "-pe"], "option needs a value: -e"),
                              ([cue, "--enc"], "option needs a value: --enc")):
            with self.subTest(args):
                self.assertEqual(run(*args), (2, "", f"kavlo: {message}\nTry 'kavlo --help'.\n"))

    def test_unknown_encoding_is_named(self):
        rc, out, err = run("-e", "bogus", ex("radio.txt"))
        self.assertEqual((rc, out, err), (2, "", "kavlo: unknown encoding 'bogus'\n"))

    def test_directories_fail_in_detect_too(self):
        rc, out, err = run("detect", EX, ex("album.cue"))
        self.assertEqual((rc, out), (5, f"{EX}\terror\n{ex('album.cue')}\tcue\n"))
        self.assertEqual(err, f"kavlo: {EX}: io: Is a directory\n")


class Hints(unittest.TestCase):
    def test_messages_point_the_way_out(self):
        sheet = b'file "a.wav" wave\ntrack 01 audio\nindex 01 00:00:00\n'
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "lower.cue")
            with open(path, "wb") as f:
                f.write(sheet)
            rc, out, err = run(path)
            self.assertEqual((rc, out), (3, ""))
            self.assertIn("unknown playlist format", err)
            self.assertIn("try -f cue", err)
            rc, out, _ = run("-f", "cue", path)
            self.assertEqual((rc, json.loads(out)["cue"]["tracks"][0]["file"]), (0, "a.wav"))
        rc, out, err = run("-", stdin=b"#EXTM3U\n#EXTINF:1,a\xc0\xafb\n/a.mp3\n")
        self.assertEqual((rc, out), (0, "{}\n"))
        self.assertIn("kavlo: -: no JSON document: the text is not strictly valid UTF-8", err)
        with tempfile.TemporaryDirectory() as d:
            empty = os.path.join(d, "empty.m3u")
            open(empty, "wb").close()
            for args, error in (([], "unknown playlist format"), (["-f", "m3u"], "Not a valid M3U file. Missing header."),
                                (["--encoding="], "unknown playlist format")):
                with self.subTest(args):
                    rc, out, err = run(*args, empty)
                    self.assertEqual((rc, out, err), (3, "", f"kavlo: {empty}: {error} (the file is empty)\n"))
            self.assertEqual(json.loads(run("-l", empty)[1])["error"], "unknown playlist format")
        self.assertEqual(run("-"), (3, "", "kavlo: -: unknown playlist format (standard input is empty)\n"))
        self.assertEqual(run("-f", "cue", "-")[0], 0, "an empty sheet is still a sheet")
        rc, _, err = run("-e", "gb18030", "-", stdin=b"\x81\x30\x81\x30")
        self.assertEqual((rc, err), (1, "kavlo: -: iconv GBK fail (gb18030 is read as GBK)\n"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
