#!/usr/bin/env python3
"""The kavlo tool end to end, from process start to exit, writing to /dev/null:
each 64 MB input alone (the library's text written as it stands), then the
three as one JSON Lines batch against the sum of the single runs. Beside the
wall-clock figure, the CPU time of the process (user + system), which other
load on the machine disturbs less.

Usage: tool_bench.py KAVLO DATADIR [RUNS]   (medians of RUNS runs, default 5)
"""
import os
import resource
import statistics
import subprocess
import sys
import time

INPUTS = [("extended M3U", "m3u-64MB.m3u"), ("streaming list", "streaming-64MB.txt"),
          ("CUE sheets", "cue-64MB.cue")]


def cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def seconds(args, runs):
    """Medians of wall-clock and CPU seconds."""
    wall, used = [], []
    with open(os.devnull, "wb") as null:
        for _ in range(runs):
            t, c = time.perf_counter(), cpu()
            subprocess.run(args, stdout=null, check=True)
            wall.append(time.perf_counter() - t)
            used.append(cpu() - c)
    return statistics.median(wall), statistics.median(used)


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
        s, c = seconds([kavlo, path], runs)
        total += s
        mb = os.path.getsize(path) / 1e6
        print(f"  {label:<16} {mb / s:7.0f} MB/s  ({s:.3f} s; CPU {c:.3f} s = {mb / c:.0f} MB/s)")
    s, c = seconds([kavlo, "-l", *paths], runs)
    print(f"  batch of the three, -l: {s:.3f} s = {s / total:.2f}x the sum of the single runs (CPU {c:.3f} s)")


if __name__ == "__main__":
    main()
