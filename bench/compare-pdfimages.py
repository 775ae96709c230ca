#!/usr/bin/env python3
"""Compares convtool pdf-images with Poppler's pdfimages -png on one PDF, picture by picture.

    bench/compare-pdfimages.py CONVTOOL IN.pdf [WORKDIR]

For every picture pdfimages lists (drawn images; soft masks belong to the image before them),
the picture of the same page and size that convtool wrote and that differs least is found; the
script prints per file how many matched within 2 levels, the largest difference of each match
and what had no match. convtool writes each image XObject of a page's resources once (also
those the page does not draw); pdfimages writes each drawn image, so repeats and differences in
order are expected and do not count."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from collections import defaultdict


def read_png(path):
    """Returns (width, height, rows of RGBA tuples flattened to lists of ints)."""
    data = open(path, "rb").read()
    pos, idat, palette = 8, b"", None
    trns = None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, ctype = struct.unpack(">IIBB", body[:10])
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    bits_per_pixel = channels * depth
    stride = (width * bits_per_pixel + 7) // 8
    step = max(1, bits_per_pixel // 8)
    raw = zlib.decompress(idat)
    prev = bytearray(stride)
    pixels = []
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - step] if x >= step else 0
            b = prev[x]
            c = prev[x - step] if x >= step else 0
            if f == 1:
                line[x] = (line[x] + a) & 255
            elif f == 2:
                line[x] = (line[x] + b) & 255
            elif f == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif f == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        samples = []
        if depth < 8:
            for byte in line:
                for shift in range(8 - depth, -1, -depth):
                    samples.append((byte >> shift) & ((1 << depth) - 1))
            samples = samples[:width * channels]
            if ctype != 3:
                samples = [s * 255 // ((1 << depth) - 1) for s in samples]
        elif depth == 16:
            samples = list(line[0::2])
        else:
            samples = list(line)
        for x in range(width):
            s = samples[x * channels:(x + 1) * channels]
            if ctype == 3:
                pixels.append(palette[s[0]] + (255,))
            elif channels == 1:
                pixels.append((s[0], s[0], s[0], 255))
            elif channels == 2:
                pixels.append((s[0], s[0], s[0], s[1]))
            elif channels == 3:
                pixels.append((s[0], s[1], s[2], 255))
            else:
                pixels.append(tuple(s))
    return width, height, pixels


def max_difference(a, b, channels):
    worst = 0
    for p, q in zip(a, b):
        for c in channels:
            d = abs(p[c] - q[c])
            if d > worst:
                worst = d
    return worst


def main():
    convtool, pdf = sys.argv[1], sys.argv[2]
    work = sys.argv[3] if len(sys.argv) > 3 else tempfile.mkdtemp(prefix="pdfimages-compare-")
    ours, theirs = os.path.join(work, "ours"), os.path.join(work, "theirs")
    for d in (ours, theirs):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
    subprocess.run([convtool, "pdf-images", "-base", "x", pdf, ours], check=False)
    subprocess.run(["pdfimages", "-png", "-p", pdf, os.path.join(theirs, "img")], check=True)
    listing = subprocess.run(["pdfimages", "-list", pdf], capture_output=True, text=True,
                             check=True).stdout.splitlines()[2:]
    ours_by_page = defaultdict(list)
    for name in sorted(os.listdir(ours)):
        page = int(name.split("_Page")[1].split("_")[0])
        ours_by_page[page].append(read_png(os.path.join(ours, name)) + (name,))
    matched, unmatched, worst = 0, [], 0
    masks_matched, masks_total = 0, 0
    last_match = None
    for row in listing:
        cols = row.split()
        page, num, kind, w, h = int(cols[0]), int(cols[1]), cols[2], int(cols[3]), int(cols[4])
        file = os.path.join(theirs, "img-%03d-%03d.png" % (page, num))
        if not os.path.exists(file):
            continue
        tw, th, tp = read_png(file)
        if kind == "smask":
            masks_total += 1
            if last_match and last_match[0] == tw and last_match[1] == th:
                alpha = [(p[3],) * 4 for p in last_match[2]]
                if max_difference(alpha, tp, (0,)) <= 2:
                    masks_matched += 1
            continue
        best = None
        for cand in ours_by_page[page]:
            if cand[0] != tw or cand[1] != th:
                continue
            d = max_difference(cand[2], tp, (0, 1, 2))
            if best is None or d < best[0]:
                best = (d, cand)
        if best is not None and best[0] <= 2:
            matched += 1
            worst = max(worst, best[0])
            last_match = best[1]
        else:
            unmatched.append("page %d #%d %s %dx%d%s" % (
                page, num, kind, w, h,
                "" if best is None else " (closest differs by %d)" % best[0]))
            last_match = None
    total = matched + len(unmatched)
    print("%s: %d of %d pictures match within 2 levels (largest difference %d); "
          "%d of %d soft masks match our alpha; convtool wrote %d files" % (
              os.path.basename(pdf), matched, total, worst, masks_matched, masks_total,
              sum(len(v) for v in ours_by_page.values())))
    for u in unmatched[:20]:
        print("  no match: " + u)


if __name__ == "__main__":
    main()
