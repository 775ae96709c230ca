#!/usr/bin/env python3
"""Images to one PDF and merging PDFs (through `convtool images-to-pdf` and `convtool merge`)
against img2pdf and `qpdf --empty --pages ... --` doing the same work in the same run.

Inputs: 100 JPEG photographs of 12 megapixels (passed into the PDF as they are by both tools),
100 copies of a real-world PDF from a Debian package (a pdfTeX manual with an outline), 1,000
one-page PDFs (that manual's pages, split) and 100 manual pages (printed to PDF by convtool
documents-to-pdf once, then kept in the work folder).
Prints the median wall time of each tool over interleaved rounds, the ratio ours/peer, and the
peak memory of both at 20, 100 and 1,000 inputs (flat when it barely grows with the count).
Goals: images within 1.5 in time and memory; merging at most 1.0 x qpdf in time and 1.5 x in
memory, with a peak memory that does not grow with the number of inputs.

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


def make_one_page_pdfs(work, source, count=1000):
    folder = os.path.join(work, "pages")
    os.makedirs(folder, exist_ok=True)
    names = [os.path.join(folder, f"page{i:04d}.pdf") for i in range(count)]
    if all(os.path.exists(n) for n in names):
        return names
    split = os.path.join(folder, "split")
    os.makedirs(split, exist_ok=True)
    subprocess.run(["qpdf", "--split-pages", source, os.path.join(split, "p-%d.pdf")], check=True)
    pages = sorted(os.path.join(split, f) for f in os.listdir(split))
    for i, name in enumerate(names):
        shutil.copyfile(pages[i % len(pages)], name)
    return names


def make_man_pages(work, convtool, count=100):
    """Manual pages of the installed commands as text, printed to one PDF each."""
    folder = os.path.join(work, "man")
    printed = os.path.join(folder, "pdf")
    os.makedirs(printed, exist_ok=True)
    done = sorted(os.path.join(printed, f) for f in os.listdir(printed) if f.endswith(".pdf"))
    if len(done) >= count:
        return done[:count]
    print("printing the manual pages ...", flush=True)
    texts = []
    env = dict(os.environ, MANWIDTH="80")
    for page in sorted(os.listdir("/usr/share/man/man1")):
        if len(texts) == count:
            break
        text = subprocess.run(["man", "-P", "cat", "-l", os.path.join("/usr/share/man/man1", page)],
                              env=env, capture_output=True).stdout
        if len(text) < 2000:
            continue
        name = os.path.join(folder, page.removesuffix(".gz") + ".txt")
        with open(name, "wb") as f:
            f.write(text)
        texts.append(name)
    subprocess.run([convtool, "documents-to-pdf", printed, "--separate"] + texts, check=True,
                   stdout=subprocess.DEVNULL)
    return sorted(os.path.join(printed, f) for f in os.listdir(printed) if f.endswith(".pdf"))


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
    return a / b, mem_ours, mem_peer


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
    pages = make_one_page_pdfs(args.work, source)
    man = make_man_pages(args.work, args.convtool)
    out = lambda name: os.path.join(args.work, name)
    print(f"real-world PDF: {source}")
    results = {}
    for count in (20, 100):
        results[("img", count)] = measure(
            f"{count} JPEG photos -> one PDF",
            [args.convtool, "images-to-pdf", out("ours-images.pdf")] + photos[:count],
            ["img2pdf", "-o", out("img2pdf.pdf")] + photos[:count], args.rounds)
    merges = [("manual", count, f"merge {count} PDF manuals", pdfs[:count]) for count in (20, 100)]
    merges += [("pages", count, f"merge {count} one-page PDFs", pages[:count])
               for count in (20, 100, 1000)]
    merges.append(("man", len(man), f"merge {len(man)} man pages", man))
    for kind, count, label, inputs in merges:
        results[(kind, count)] = measure(
            label, [args.convtool, "merge", out("ours-merged.pdf")] + inputs,
            ["qpdf", "--empty", "--pages"] + inputs + ["--", out("qpdf-merged.pdf")], args.rounds)
    print()
    growth = results[("img", 100)][1] / results[("img", 20)][1]
    print(f"images: peak memory at 100 inputs / at 20 inputs = {growth:.2f}")
    print(f"{'merge':34s} {'time ratio':>10s} {'goal':>5s} {'memory ratio':>12s} {'goal':>5s}")
    for kind, count, label, _ in merges:
        ratio, ours, peer = results[(kind, count)]
        print(f"{label:34s} {ratio:10.2f} {1.0:5.1f} {ours / peer:12.2f} {1.5:5.1f}")
    for kind, counts in (("manual", (20, 100)), ("pages", (20, 100, 1000))):
        figures = "  ".join(f"{c}: {results[(kind, c)][1] / 2**20:6.1f} MiB" for c in counts)
        first, last = results[(kind, counts[0])], results[(kind, counts[-1])]
        per_input = lambda i: (last[i] - first[i]) / (counts[-1] - counts[0]) / 2**10
        print(f"merge peak memory, {kind:6s} {figures}   growth per input: ours "
              f"{per_input(1):6.1f} KiB, qpdf {per_input(2):6.1f} KiB (goal: flat)")

if __name__ == "__main__":
    main()
