#!/usr/bin/env python3
"""ConvertImageFile (through `convtool convert`) on a 24-megapixel photograph against
ImageMagick's `convert` and libvips' `vips copy` doing the same conversions in the same run.

Prints, per case, the median wall time of each tool over interleaved rounds, the ratios
ours/convert and ours/vips in time, and our peak memory against vips' and against the decoded
picture's size (6000 x 4000 x 3 bytes). Goals: at most 1.0 x vips' time and 1.5 x its peak
memory (and faster than convert). Every tool runs pinned to the same cores (--cores, a taskset
list), since vips and convtool both use threads.

    bench/image_convert_bench.py --convtool build-bench/bin/convtool --cores 2-5
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

from process_figures import run

WIDTH, HEIGHT = 6000, 4000
DECODED = WIDTH * HEIGHT * 3


def make_inputs(work, magick):
    photo = os.path.join(work, "photo.jpg")
    if not os.path.exists(photo):
        # A fractal landscape with fine grain: smooth areas, edges and sensor-like noise, as in
        # a real photograph (and unlike a flat gradient, which every codec finds too easy).
        print("generating the 24-megapixel photograph (about a minute) ...", flush=True)
        subprocess.run([magick, "-seed", "7", "-size", f"{WIDTH}x{HEIGHT}", "plasma:fractal",
                        "-blur", "0x1.5", "-attenuate", "0.25", "+noise", "Gaussian",
                        "-quality", "92", photo], check=True)
    png = os.path.join(work, "photo.png")
    tif = os.path.join(work, "photo.tif")
    if not os.path.exists(png):
        subprocess.run(["vips", "copy", photo, png], check=True)
    if not os.path.exists(tif):
        subprocess.run(["vips", "copy", photo, tif], check=True)  # uncompressed
    return photo, png, tif


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--convtool", required=True, help="a Release build's convtool")
    parser.add_argument("--work", default="/tmp/lumeno-image-bench")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--cores", default="2-5", help="taskset core list for every tool")
    args = parser.parse_args()
    pin = ["taskset", "-c", args.cores]
    magick = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else shutil.which("convert")
    if not magick or not shutil.which("vips"):
        sys.exit("needs ImageMagick's convert and libvips-tools' vips")
    os.makedirs(args.work, exist_ok=True)
    photo, png, tif = make_inputs(args.work, magick)
    out = lambda name: os.path.join(args.work, name)
    q = "85"
    cases = [
        ("JPEG -> PNG", [args.convtool, "convert", photo, out("o.png"), "--format", "7"],
         [magick, photo, out("c.png")], ["vips", "copy", photo, out("v.png")]),
        ("PNG -> JPEG",
         [args.convtool, "convert", png, out("o.jpg"), "--format", "4", "--quality", "0.85"],
         [magick, png, "-quality", q, out("c.jpg")], ["vips", "copy", png, out(f"v.jpg[Q={q}]")]),
        ("TIFF -> JPEG",
         [args.convtool, "convert", tif, out("o2.jpg"), "--format", "4", "--quality", "0.85"],
         [magick, tif, "-quality", q, out("c2.jpg")],
         ["vips", "copy", tif, out(f"v2.jpg[Q={q}]")]),
        ("JPEG -> WebP",
         [args.convtool, "convert", photo, out("o.webp"), "--format", "24", "--quality", "0.85"],
         [magick, photo, "-quality", q, out("c.webp")],
         ["vips", "copy", photo, out(f"v.webp[Q={q}]")]),
    ]
    times = {case[0]: ([], [], []) for case in cases}
    peaks = {case[0]: ([], [], []) for case in cases}
    for round_ in range(args.rounds):
        for name, ours, theirs, vips in cases:
            for i, command in enumerate((ours, theirs, vips)):
                seconds, peak = run(pin + command)
                times[name][i].append(seconds)
                peaks[name][i].append(peak)
        print(f"round {round_ + 1}/{args.rounds} done", flush=True)
    print()
    print(f"{'case':<14}{'ours s':>8}{'convert s':>11}{'vips s':>8}{'/convert':>10}{'/vips':>8}"
          f"{'peak MB':>9}{'vips MB':>9}{'mem/vips':>10}{'/decoded':>10}  goals")
    for name, *_ in cases:
        ours, theirs, vips = (statistics.median(t) for t in times[name])
        peak, vips_peak = max(peaks[name][0]), max(peaks[name][2])
        r1, r2, r3, r4 = ours / theirs, ours / vips, peak / vips_peak, peak / DECODED
        goals = ", ".join(["faster than convert" if r1 < 1 else "SLOWER than convert",
                           "time <= 1.0 x vips" if r2 <= 1.0 else "time OVER 1.0 x vips",
                           "memory <= 1.5 x vips" if r3 <= 1.5 else "memory OVER 1.5 x vips"])
        print(f"{name:<14}{ours:>8.2f}{theirs:>11.2f}{vips:>8.2f}{r1:>10.2f}{r2:>8.2f}"
              f"{peak / 1e6:>9.0f}{vips_peak / 1e6:>9.0f}{r3:>10.2f}{r4:>10.2f}  {goals}")
    print(f"\nmedians of {args.rounds} interleaved rounds; decoded picture {DECODED / 1e6:.0f} MB;"
          f" every tool on cores {args.cores}; {os.cpu_count()} processors")


if __name__ == "__main__":
    main()
