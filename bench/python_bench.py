#!/usr/bin/env python3
"""The Python module on the generated inputs.

1. The 64 MB inputs: kavlo.parse_file plus one pass over the whole result
   (every item's location, title and attributes; every track's fields and
   indices), its peak memory, the library's own parse of the same file
   (a playlist handle through ctypes), and iptv-playlist-parser in node
   when node is there.
2. Writing: the entries of the 16 MB M3U list written as M3U text, by
   kavlo.write() from the items and by Result.to_text().
3. Threads: four 16 MB files parsed with kavlo.parse_file one after the
   other, and through a ThreadPoolExecutor of 2 workers.

Usage: python_bench.py DATA_DIR [RUNS]   (the module must be importable)

Each run is a fresh process; the figures are medians over RUNS runs.
"""
import os
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = r"""
import os, resource, sys, time
import kavlo
mode, paths = sys.argv[1], sys.argv[2:]
cpu = lambda: sum(os.times()[:2])
c0 = cpu()  # the timed part only: imports are done
if mode == "library":
    import ctypes
    lib = ctypes.CDLL("libkavlo.so.0")  # the one the module loaded
    lib.kavlo_playlist_new.restype = ctypes.c_void_p
    lib.kavlo_playlist_parse_file.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
    p = lib.kavlo_playlist_new()
    t0 = time.perf_counter()
    rc = lib.kavlo_playlist_parse_file(p, paths[0].encode(), b"auto")
    assert rc == 0, rc
    n = 0
elif mode == "pass":
    t0 = time.perf_counter()
    r = kavlo.parse_file(paths[0])
    n = 0
    for item in r.items:
        n += len(item.location) + len(item.title) + len(item.attrs)
    for t in r.tracks:
        n += t.number + len(t.title or "") + len(t.performer or "") + len(t.file or "")
        n += len(t.isrc or "") + len(t.flags or "") + len(t.datatype or "") + len(t.songwriter or "")
        for x in t.indices:
            n += x.number + x.frames + x.ms
elif mode.startswith("spin"):
    # The machine's share: the same pure-Python loop twice, one after the
    # other or in two processes at once.
    import multiprocessing

    def spin(n):
        s = 0
        for i in range(n):
            s += i
        return s

    jobs = [3_000_000] * 2
    if mode == "spin-seq":
        t0 = time.perf_counter()
        n = sum(map(spin, jobs))
    else:
        with multiprocessing.Pool(2) as pool:
            pool.map(spin, [1, 1])
            t0 = time.perf_counter()
            n = sum(pool.map(spin, jobs))
elif mode.startswith("write"):
    # Writing the entries of a list: kavlo.write() of its items (read
    # before the clock starts), or the library's writer of the result.
    r = kavlo.parse_file(paths[0])
    items = list(r.items)
    t0 = time.perf_counter()
    n = len(kavlo.write(items) if mode == "write-items" else r.to_text())
elif mode == "sequential":
    t0 = time.perf_counter()
    n = sum(len(kavlo.parse_file(p).items) for p in paths)
else:
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(2) as pool:
        pool.submit(int).result()  # the workers are up before the clock starts
        t0 = time.perf_counter()
        n = sum(pool.map(lambda p: len(kavlo.parse_file(p).items), paths))
t = time.perf_counter() - t0
print(t, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024, cpu() - c0, n)
"""


def run(mode, paths, runs):
    """Medians of the wall time, the peak RSS and the CPU time (user and
    system, all threads, from the start of the process)."""
    times, peaks, cpus = [], [], []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", CHILD, mode, *paths], check=True, capture_output=True,
                             text=True).stdout.split()
        times.append(float(out[0]))
        peaks.append(int(out[1]))
        cpus.append(float(out[2]))
    return statistics.median(times), statistics.median(peaks), statistics.median(cpus)


def baseline_rss():
    out = subprocess.run([sys.executable, "-c", "import resource, kavlo; "
                          "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024)"],
                         check=True, capture_output=True, text=True).stdout
    return int(out)


def node_peer(path, runs):
    """Seconds iptv-playlist-parser takes on the file (median), or None."""
    peers = os.path.join(HERE, "peers")
    if not shutil.which("node"):
        return None
    if not os.path.isdir(os.path.join(peers, "node_modules")):
        if not shutil.which("npm"):
            return None
        subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--silent"], cwd=peers, check=False)
    out = subprocess.run(["node", os.path.join(peers, "node_peers.mjs"), path], capture_output=True, text=True,
                         env=dict(os.environ, RUNS=str(runs))).stdout
    for line in out.splitlines():
        name, _, mbps, _ = line.split("\t")
        if name == "iptv-playlist-parser":
            return os.path.getsize(path) / 1e6 / float(mbps)
    return None


def main():
    data = sys.argv[1] if len(sys.argv) > 1 else "bench/data"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    subprocess.run([sys.executable, os.path.join(HERE, "gen_inputs.py"), data, "16", "64"], check=True)
    base = baseline_rss()
    print(f"python {sys.version.split()[0]}, {runs} runs each, medians; RSS is the process peak "
          f"(the interpreter with kavlo imported alone: {base / 1e6:.0f} MB)")
    print(f"{'input':<16} {'size':>7} {'library':>8} {'python':>8} {'target':>7} {'cpu':>6} {'peak RSS':>9} "
          f"{'x file':>7} {'node peer':>10}")
    for name, limit_s, peer in (("m3u-64MB.m3u", 0.6, True), ("cue-64MB.cue", 1.5, False)):
        path = os.path.join(data, name)
        size = os.path.getsize(path)
        lib_t, _, _ = run("library", [path], runs)
        py_t, peak, py_cpu = run("pass", [path], runs)
        node = node_peer(path, runs) if peer else None
        print(f"{name:<16} {size / 1e6:>5.0f}MB {lib_t:>7.2f}s {py_t:>7.2f}s {limit_s:>6.1f}s {py_cpu:>5.2f}s "
              f"{peak / 1e6:>7.0f}MB {peak / size:>6.1f}x {(f'{node:.2f}s' if node else '-'):>10}")
    m3u16 = os.path.join(data, "m3u-16MB.m3u")
    items_t, _, _ = run("write-items", [m3u16], runs)
    text_t, _, _ = run("write-text", [m3u16], runs)
    print(f"write: the entries of {os.path.basename(m3u16)} as M3U text: kavlo.write(items) "
          f"{items_t:.3f}s, Result.to_text() {text_t:.3f}s")
    files = [os.path.join(data, f) for f in ("m3u-16MB.m3u", "cue-16MB.cue", "streaming-16MB.txt",
                                             "streaming-utf16-16MB.txt")]
    spin_seq, _, _ = run("spin-seq", [], runs)
    spin_par, _, _ = run("spin-par", [], runs)
    seq, _, _ = run("sequential", files, runs)
    par, _, par_cpu = run("threads", files, runs)
    print(f"threads: parse_file of {', '.join(os.path.basename(f) for f in files)}: "
          f"one after the other {seq:.3f}s, ThreadPoolExecutor(2) {par:.3f}s, "
          f"{seq / par:.2f}x faster (target 1.60x); the threads used {par_cpu:.3f}s of CPU")
    print(f"control: a pure-Python loop twice, in two processes at once, {spin_seq / spin_par:.2f}x faster than one "
          "after the other (about 2x when the machine has two cores free)")
    print("cpu: user and system time of the timed part, all threads; on a machine whose cores are busy "
          "with other work, wall times grow beyond it")

if __name__ == "__main__":
    main()
