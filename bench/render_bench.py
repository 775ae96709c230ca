#!/usr/bin/env python3
"""RenderImageFile and ConvertPDFToImages (through `convtool render` and `convtool pdf-to-images`)
against the Debian tools doing the same work, in the same run:

  * a 24-megapixel photograph (6000 x 4000, as JPEG and as PNG) reduced to 2 megapixels (1732
    wide, JPEG at quality 85) against `vips thumbnail` and `convert -resize`;
  * a 100-page text PDF (Letter pages of running English prose) drawn at 150 dpi to PNG against
    `pdftoppm -png -r 150`, and against `pdftoppm -r 150` writing uncompressed PPM (a floor).

Prints the median wall time of each tool over interleaved rounds, the ratios ours/peer, and the
peak resident memory of each. Goals: the reductions at most 1.0 x vips' time and 1.5 x its peak
memory (and faster than convert); the PDF pages within 1.15 x pdftoppm. Every tool runs pinned
to the same cores (--cores, a taskset list), since vips and convtool both use threads.

    bench/render_bench.py --convtool build-bench/bin/convtool --cores 2-5
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys

from process_figures import run

WIDTH, HEIGHT = 6000, 4000
TARGET = 1732  # 1732 x 1155: two megapixels

WORDS = ("the of and to in is that for it as with was on be by this are or from at which an "
         "have not but all can has were more one their will when there been would if its so "
         "document window page search index topic content bookmark library reader chapter "
         "section figure table reference function parameter value return type example note "
         "system file folder archive compiled help viewer export image format resolution "
         "colour print printer network server client request response version release install "
         "configure option setting default user interface keyboard shortcut menu command").split()


def make_photo(work, magick):
    photo = os.path.join(work, "photo.jpg")
    if not os.path.exists(photo):
        # A fractal landscape with fine grain, as in a real photograph.
        print("generating the 24-megapixel photograph (about a minute) ...", flush=True)
        subprocess.run([magick, "-seed", "7", "-size", f"{WIDTH}x{HEIGHT}", "plasma:fractal",
                        "-blur", "0x1.5", "-attenuate", "0.25", "+noise", "Gaussian",
                        "-quality", "92", photo], check=True)
    return photo


def escape(text):
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def make_pdf(work, pages=100):
    """Letter pages of justified-looking prose in Helvetica 10/12, a heading on each."""
    path = os.path.join(work, "text100.pdf")
    if os.path.exists(path):
        return path
    rng = random.Random(17)
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", None,
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>"]
    kids = []
    for n in range(pages):
        lines = [f"BT /F2 16 Tf 72 740 Td ({escape('Chapter %d: ' % (n + 1))}"
                 f"{escape(' '.join(rng.choice(WORDS) for _ in range(4)).title())}) Tj ET"]
        y = 712
        while y > 72:
            words, text = [], ""
            while len(text) < 95:
                words.append(rng.choice(WORDS))
                text = " ".join(words)
            lines.append(f"BT /F1 10 Tf 72 {y} Td ({escape(text.capitalize())}.) Tj ET")
            y -= 12 if rng.random() > 0.08 else 24
        content = "\n".join(lines)
        page_obj = len(objects) + 1
        objects.append(f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources "
                       f"<< /Font << /F1 3 0 R /F2 4 0 R >> >> /Contents {page_obj + 1} 0 R >>")
        objects.append(f"<< /Length {len(content)} >>\nstream\n{content}\nendstream")
        kids.append(f"{page_obj} 0 R")
    objects[1] = f"<< /Type /Pages /Kids [{' '.join(kids)}] /Count {pages} >>"
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, body in enumerate(objects):
        offsets.append(len(out))
        out += f"{i + 1} 0 obj\n{body}\nendobj\n".encode("latin-1")
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for offset in offsets:
        out += f"{offset:010d} 00000 n \n".encode()
    out += (f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n"
            .encode())
    with open(path, "wb") as f:
        f.write(out)
    return path


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--convtool", required=True, help="a Release build's convtool")
    parser.add_argument("--work", default="/tmp/lumeno-render-bench")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--cores", default="2-5", help="taskset core list for every tool")
    parser.add_argument("--skip-pdf", action="store_true", help="only the photograph rows")
    args = parser.parse_args()
    magick = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else shutil.which("convert")
    for tool in ("vips", "pdftoppm"):
        if not shutil.which(tool):
            sys.exit(f"needs {tool} (libvips-tools, poppler-utils)")
    if not magick:
        sys.exit("needs ImageMagick's convert")
    os.makedirs(args.work, exist_ok=True)
    photo, pdf = make_photo(args.work, magick), make_pdf(args.work)
    png = os.path.join(args.work, "photo.png")
    if not os.path.exists(png):
        subprocess.run(["vips", "copy", photo, png], check=True)
    out = lambda name: os.path.join(args.work, name)
    pin = ["taskset", "-c", args.cores]
    ours_pages, peer_pages = out("ours-pages"), out("pdftoppm-pages")
    cases = [
        (f"24 MP -> 2 MP ({kind})", [
            ("convtool", lambda src=src: [args.convtool, "render", src, out("o.jpg"), "--format",
                                          "4", "--quality", "0.85", "--width", str(TARGET),
                                          "--keep-aspect"]),
            ("vips", lambda src=src: ["vips", "thumbnail", src, out("v.jpg[Q=85]"), str(TARGET)]),
            ("convert", lambda src=src: [magick, src, "-resize", f"{TARGET}x", "-quality", "85",
                                         out("c.jpg")]),
        ]) for kind, src in (("JPEG", photo), ("PNG", png))
    ] + [
        ("100 pages 150 dpi PNG", [
            ("convtool", lambda: [args.convtool, "pdf-to-images", pdf, fresh(ours_pages),
                                  "--format", "7", "--dpi", "150"]),
            ("pdftoppm", lambda: ["pdftoppm", "-png", "-r", "150", pdf,
                                  os.path.join(fresh(peer_pages), "p")]),
            # The same drawing written as uncompressed PPM: the floor of drawing alone, since
            # pdftoppm's own PNG writer compresses much harder than the PNG writer here.
            ("pdftoppm-ppm", lambda: ["pdftoppm", "-r", "150", pdf,
                                      os.path.join(fresh(peer_pages), "p")]),
        ]),
    ]
    if args.skip_pdf:
        cases = cases[:2]
    times = {(c, t): [] for c, tools in cases for t, _ in tools}
    peaks = {(c, t): 0 for c, tools in cases for t, _ in tools}
    # pdftoppm's PNG writer takes most of a minute for the 100 pages: those rows get at most
    # three rounds, so that the whole run stays within about five minutes.
    pdf_rounds = min(args.rounds, 3)
    for round_ in range(args.rounds):
        for name, tools in cases:
            if name.startswith("100 pages") and round_ >= pdf_rounds:
                continue
            for tool, command in tools:
                seconds, peak = run(pin + command())
                times[(name, tool)].append(seconds)
                peaks[(name, tool)] = max(peaks[(name, tool)], peak)
        print(f"round {round_ + 1}/{args.rounds} done", flush=True)
    print()
    print(f"{'case':<24}{'ours s':>8}{'peer':>14}{'peer s':>8}{'time':>7}{'ours MB':>9}"
          f"{'peer MB':>9}{'memory':>8}  goal")
    for name, tools in cases:
        ours = statistics.median(times[(name, "convtool")])
        ours_peak = peaks[(name, "convtool")]
        for tool, _ in tools[1:]:
            theirs = statistics.median(times[(name, tool)])
            rt, rm = ours / theirs, ours_peak / peaks[(name, tool)]
            if tool == "vips":
                goal = "time <= 1.0, memory <= 1.5: " + (
                    "met" if rt <= 1.0 and rm <= 1.5 else "MISSED")
            elif tool == "convert":
                goal = "time < 1.0: " + ("met" if rt < 1.0 else "MISSED")
            elif tool == "pdftoppm":
                goal = "time <= 1.15: " + ("met" if rt <= 1.15 else "MISSED")
            else:
                goal = "(floor)"
            print(f"{name:<24}{ours:>8.2f}{tool:>14}{theirs:>8.2f}{rt:>7.2f}{ours_peak / 1e6:>9.0f}"
                  f"{peaks[(name, tool)] / 1e6:>9.0f}{rm:>8.2f}  {goal}")
    print(f"\nmedians of {args.rounds} interleaved rounds ({pdf_rounds} for the PDF pages), "
          f"every tool on cores {args.cores}; "
          f"{os.cpu_count()} processors")


if __name__ == "__main__":
    main()
