#!/usr/bin/env python3
"""Writes deterministic, realistic benchmark inputs into a directory.

  m3u-<N>MB.m3u            IPTV-style extended M3U: tvg-id, tvg-name, tvg-logo and
                           group-title attributes, commas in some titles, #EXTGRP and
                           #EXTVLCOPT lines
  streaming-<N>MB.txt      streaming URL list, ASCII and full-width commas, CJK names
  streaming-gbk-<N>MB.txt  the same list encoded in GBK (decoded by the fallback)
  streaming-utf16-<N>MB.txt the streaming list in UTF-16LE with byte-order mark
  cue-<N>MB.cue            CUE sheets with many tracks

Usage: gen_inputs.py OUTDIR [SIZE_MB...]   (default sizes: 1 16 64)
"""
import os
import random
import sys

CJK = "新闻体育电影音乐少儿纪录综合财经国际科教戏曲社会农业军事健康旅游购物卫视高清频道直播台"
WORDS = ["News", "Sport", "Movies", "Music", "Kids", "Docs", "Weather", "Travel", "Comedy",
         "Drama", "Classic", "World", "Live", "Extra", "Plus", "One", "Two", "HD", "FHD", "4K"]
GROUPS = ["News", "Sports", "Movies", "Music", "Kids", "Documentary", "Entertainment", "Local"]


def name(rng):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 3)))


def cjk(rng):
    return "".join(rng.choice(CJK) for _ in range(rng.randint(2, 6)))


def m3u_entries(rng):
    yield '#EXTM3U x-tvg-url="https://epg.example.org/guide.xml.gz"\n'
    i = 0
    while True:
        i += 1
        n = name(rng)
        group = rng.choice(GROUPS)
        title = f"{n}, {rng.choice(WORDS)}" if i % 7 == 0 else n
        lines = []
        if i % 11 == 0:
            lines.append(f"#EXTGRP:{group}\n")
            attrs = f'tvg-id="{n.lower().replace(" ", ".")}.{i}" tvg-name="{n}" tvg-logo="https://img.example.org/logos/{i}.png"'
        else:
            attrs = (f'tvg-id="{n.lower().replace(" ", ".")}.{i}" tvg-name="{n}" '
                     f'tvg-logo="https://img.example.org/logos/{i}.png" group-title="{group}"')
        lines.append(f"#EXTINF:-1 {attrs},{title}\n")
        if i % 5 == 0:
            lines.append("#EXTVLCOPT:http-user-agent=Mozilla/5.0\n")
        lines.append(f"http://stream{i % 50}.example.org:8080/live/user/pass/{100000 + i}.ts\n")
        yield "".join(lines)


def streaming_entries(rng):
    i = 0
    while True:
        i += 1
        if i % 3 == 0:
            yield f"{cjk(rng)}，http://198.51.100.{i % 250}:8080/hls/{i}.m3u8\n"
        elif i % 3 == 1:
            yield f"{name(rng)},http://live.example.org/channel/{i}/index.m3u8\n"
        else:
            yield f"{cjk(rng)},rtsp://203.0.113.{i % 250}:554/stream{i}\n"


def cue_entries(rng):
    i = 0
    while True:
        i += 1
        lines = [f'REM GENRE "{rng.choice(WORDS)}"\nPERFORMER "{name(rng)}"\nTITLE "{name(rng)} {i}"\n'
                 f'FILE "disc {i}.flac" WAVE\n']
        pos = 0
        for t in range(1, 13):
            lines.append(f"  TRACK {t:02d} AUDIO\n    TITLE \"{name(rng)}\"\n"
                         f"    PERFORMER \"{name(rng)}\"\n")
            if t > 1:
                lines.append(f"    INDEX 00 {pos // 4500:02d}:{pos // 75 % 60:02d}:{pos % 75:02d}\n")
                pos += 150
            lines.append(f"    INDEX 01 {pos // 4500:02d}:{pos // 75 % 60:02d}:{pos % 75:02d}\n")
            pos += rng.randint(9000, 30000)
        yield "".join(lines)


def build(entries, size):
    out, total = [], 0
    for chunk in entries:
        out.append(chunk)
        total += len(chunk.encode("utf-8"))
        if total >= size:
            return "".join(out)


def main():
    outdir = sys.argv[1]
    sizes = [int(s) for s in sys.argv[2:]] or [1, 16, 64]
    os.makedirs(outdir, exist_ok=True)
    for mb in sizes:
        size = mb << 20
        jobs = {
            f"m3u-{mb}MB.m3u": (m3u_entries, "utf-8"),
            f"streaming-{mb}MB.txt": (streaming_entries, "utf-8"),
            f"streaming-gbk-{mb}MB.txt": (streaming_entries, "gbk"),
            f"streaming-utf16-{mb}MB.txt": (streaming_entries, "utf-16"),
            f"cue-{mb}MB.cue": (cue_entries, "utf-8"),
        }
        for fname, (gen, enc) in jobs.items():
            path = os.path.join(outdir, fname)
            if os.path.exists(path):
                continue
            text = build(gen(random.Random(f"{fname}")), size if enc != "utf-16" else size // 2)
            data = text.encode("utf-16-le") if enc == "utf-16" else text.encode(enc)
            if enc == "utf-16":
                data = b"\xff\xfe" + data
            with open(path + ".tmp", "wb") as f:
                f.write(data)
            os.replace(path + ".tmp", path)
            print(f"wrote {path} ({len(data) / 1e6:.1f} MB)")


if __name__ == "__main__":
    main()
