#!/usr/bin/env python3
"""End-to-end figures of the command-line tool on the 64 MB inputs.

For each input: the median wall time of `kavlo FILE > /dev/null`, from
process start to exit, in MB/s of input, and the tool's peak memory. Then
one batch of the three files as JSON Lines against the sum of the
single-file times.

Usage: cli.py KAVLO DATADIR [RUNS]   (RUNS default 5)
"""
import os
import statistics
import subprocess
import sys
import time

FILES = ["m3u-64MB.m3u", "streaming-64MB.txt", "cue-64MB.cue"]


def run_once(argv):
    """Wall seconds, peak RSS in MB and exit status of one run."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    secs = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return secs, usage.ru_maxrss / 1e3, proc.returncode


def measure(argv, runs):
    results = [run_once(argv) for _ in range(runs)]
    return (statistics.median(r[0] for r in results), max(r[1] for r in results),
            max(abs(r[2]) for r in results))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    tool, data = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    paths = [os.path.join(data, f) for f in FILES]
    paths = [p for p in paths if os.path.exists(p)]
    if not paths:
        sys.exit(f"no 64 MB inputs in {data}")
    print(f"\nkavlo FILE > /dev/null, process start to exit (median of {runs} runs):")
    print(f"{'input':<22} {'MB':>6} | {'seconds':>8} {'MB/s':>7} | {'peak RSS MB':>11}")
    total_secs = total_bytes = 0
    for p in paths:
        size = os.path.getsize(p)
        secs, rss, rc = measure([tool, p], runs)
        total_secs += secs
        total_bytes += size
        note = f"  (exit status {rc})" if rc else ""
        print(f"{os.path.basename(p):<22} {size / 1e6:6.1f} | {secs:8.3f} {size / 1e6 / secs:7.0f} | {rss:11.1f}{note}")
    secs, rss, rc = measure([tool] + paths, runs)
    note = f"  (exit status {rc})" if rc else ""
    print(f"{'batch, JSON Lines':<22} {total_bytes / 1e6:6.1f} | {secs:8.3f} {total_bytes / 1e6 / secs:7.0f} | "
          f"{rss:11.1f}{note}")
    print(f"batch against the sum of the single files: {secs:.3f} s / {total_secs:.3f} s = {secs / total_secs:.2f}x")


if __name__ == "__main__":
    main()
