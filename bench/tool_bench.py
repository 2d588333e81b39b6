#!/usr/bin/env python3
"""The kavlo tool end to end, from process start to exit, writing to /dev/null:
each 64 MB input alone (the library's text written as it stands), then the
three as one JSON Lines batch against the sum of the single runs.

Usage: tool_bench.py KAVLO DATADIR [RUNS]   (medians of RUNS runs, default 5)
"""
import os
import statistics
import subprocess
import sys
import time

INPUTS = [("extended M3U", "m3u-64MB.m3u"), ("streaming list", "streaming-64MB.txt"),
          ("CUE sheets", "cue-64MB.cue")]


def seconds(args, runs):
    times = []
    with open(os.devnull, "wb") as null:
        for _ in range(runs):
            t = time.perf_counter()
            subprocess.run(args, stdout=null, check=True)
            times.append(time.perf_counter() - t)
    return statistics.median(times)


def main():
    kavlo, data = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    paths = [os.path.join(data, f) for _, f in INPUTS]
    missing = [p for p in paths if not os.path.exists(p)]
    if missing:
        sys.exit(f"missing inputs: {' '.join(missing)} (python3 bench/gen_inputs.py {data} 64)")
    print(f"kavlo FILE > /dev/null, end to end, median of {runs} runs")
    total = 0.0
    for (label, _), path in zip(INPUTS, paths):
        s = seconds([kavlo, path], runs)
        total += s
        print(f"  {label:<16} {os.path.getsize(path) / 1e6 / s:7.0f} MB/s  ({s:.3f} s)")
    s = seconds([kavlo, "-l", *paths], runs)
    print(f"  batch of the three, -l: {s:.3f} s = {s / total:.2f}x the sum of the single runs")


if __name__ == "__main__":
    main()
