#!/usr/bin/env python3
"""Images to one PDF and merging PDFs (through `convtool images-to-pdf` and `convtool merge`)
against img2pdf and `qpdf --empty --pages ... --` doing the same work in the same run.

Inputs: 100 JPEG photographs of 12 megapixels (passed into the PDF as they are by both tools),
and 100 copies of a real-world PDF from a Debian package (a pdfTeX manual with an outline).
Prints the median wall time of each tool over interleaved rounds, the ratio ours/peer, and the
peak memory of both at 20 and at 100 inputs (flat when it barely grows with the count).
Goals: ratios within 1.5.

    bench/topdf_bench.py --convtool build-bench/bin/convtool
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

from process_figures import run

PHOTOS = 100
DISTINCT = 5


def make_photos(work):
    folder = os.path.join(work, "photos")
    os.makedirs(folder, exist_ok=True)
    names = [os.path.join(folder, f"photo{i:03d}.jpg") for i in range(PHOTOS)]
    if all(os.path.exists(n) for n in names):
        return names
    print("generating the photographs ...", flush=True)
    seeds = []
    for s in range(DISTINCT):
        seed = os.path.join(folder, f"seed{s}.jpg")
        # A fractal landscape with sensor-like grain, at 4000 x 3000, 300 ppi.
        subprocess.run(["convert", "-seed", str(s + 1), "-size", "1000x750", "plasma:fractal",
                        "-resize", "4000x3000!", "-attenuate", "0.25", "+noise", "Gaussian",
                        "-density", "300", "-units", "PixelsPerInch", "-quality", "90", seed],
                       check=True)
        seeds.append(seed)
    for i, name in enumerate(names):
        shutil.copyfile(seeds[i % DISTINCT], name)
    return names


def find_real_pdf():
    for path in ["/usr/share/doc/libtasn1-doc/libtasn1.pdf"]:
        if os.path.exists(path):
            return path
    for root, _, files in os.walk("/usr/share/doc"):
        for f in files:
            if f.endswith(".pdf") and os.path.getsize(os.path.join(root, f)) > 100_000:
                return os.path.join(root, f)
    sys.exit("no PDF from a Debian package under /usr/share/doc")


def make_pdfs(work):
    source = find_real_pdf()
    folder = os.path.join(work, "pdfs")
    os.makedirs(folder, exist_ok=True)
    names = [os.path.join(folder, f"manual{i:03d}.pdf") for i in range(100)]
    for n in names:
        if not os.path.exists(n):
            shutil.copyfile(source, n)
    return source, names


def measure(label, ours, peer, rounds):
    times_ours, times_peer, mem_ours, mem_peer = [], [], 0, 0
    for _ in range(rounds):
        t, m = run(ours)
        times_ours.append(t)
        mem_ours = max(mem_ours, m)
        t, m = run(peer)
        times_peer.append(t)
        mem_peer = max(mem_peer, m)
    a, b = statistics.median(times_ours), statistics.median(times_peer)
    print(f"{label:34s} ours {a:7.3f} s  peer {b:7.3f} s  ratio {a / b:5.2f}   "
          f"peak memory ours {mem_ours / 2**20:6.1f} MiB  peer {mem_peer / 2**20:6.1f} MiB",
          flush=True)
    return a / b, mem_ours


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--convtool", required=True, help="a Release build's convtool")
    parser.add_argument("--work", default="/tmp/lumeno-topdf-bench")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    for tool in ("img2pdf", "qpdf", "convert"):
        if not shutil.which(tool):
            sys.exit(f"needs {tool}")
    os.makedirs(args.work, exist_ok=True)
    photos = make_photos(args.work)
    source, pdfs = make_pdfs(args.work)
    out = lambda name: os.path.join(args.work, name)
    print(f"real-world PDF: {source}")
    results = {}
    for count in (20, 100):
        results[("img", count)] = measure(
            f"{count} JPEG photos -> one PDF",
            [args.convtool, "images-to-pdf", out("ours-images.pdf")] + photos[:count],
            ["img2pdf", "-o", out("img2pdf.pdf")] + photos[:count], args.rounds)
        results[("merge", count)] = measure(
            f"merge {count} PDFs",
            [args.convtool, "merge", out("ours-merged.pdf")] + pdfs[:count],
            ["qpdf", "--empty", "--pages"] + pdfs[:count] + ["--", out("qpdf-merged.pdf")],
            args.rounds)
    for kind, name in (("img", "images"), ("merge", "merge")):
        growth = results[(kind, 100)][1] / results[(kind, 20)][1]
        print(f"{name}: peak memory at 100 inputs / at 20 inputs = {growth:.2f}")


if __name__ == "__main__":
    main()
