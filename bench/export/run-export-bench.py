#!/usr/bin/env python3
"""Export speed and memory against the web engine's bare printing of the same pages.

Builds exportBench optimised (build-bench/), then for each book (default: the corpus books below)
runs, interleaved over several rounds, `exportBench floor` (load + printToPdf of every page of the
export's page list, nothing else) and `exportBench export` (the whole export). Both run pinned to
the same cores (--cores, default 2-5). Prints one row per book: HTML pages and output pages, the
median times, the export's time as a ratio to the floor, the peak memory of each run's whole
process tree (the program and its web engine processes, sampled every 20 ms from /proc), the
export's memory over the floor's per output page, and whether the goals are met.
    bench/export/run-export-bench.py [--rounds N] [--cores LIST] [file.chm ...]
"""
import argparse, os, pathlib, statistics, subprocess, sys, tempfile, time

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = pathlib.Path(os.environ.get("LUMENO_CORPUS", ROOT.parent / "shared" / "corpus")) / "real"
if not CORPUS.exists():
    CORPUS = pathlib.Path("/work/shared/corpus/real")
sys.path.insert(0, str(ROOT / "bench"))
from process_figures import process_tree  # noqa: E402

BOOKS = ["en-putty-halibut.chm", "en-riak-sandcastle-api.chm", "zh-gbk-7zip-help.chm",
         "ko-cp949-nero-burningrom.chm", "ja-sjis-doxygen-api.chm"]
# A book this large is measured in one round, so that the whole run stays within minutes (the
# 3,015 pages of riak alone take about two minutes to print, floor or export).
LARGE_BOOK_PAGES = 500
GOAL_RATIO = 1.3
# Memory flat in the page count: what the export holds over the floor, per output page.
GOAL_MB_PER_PAGE = 0.02


def tree_rss_kb(root_pid):
    total = 0
    for pid in process_tree(root_pid):
        try:
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def run(cmd, env):
    # The output is one line, read at the end; a pipe that nobody reads meanwhile must not fill.
    out_file = tempfile.TemporaryFile("w+")
    proc = subprocess.Popen(cmd, stdout=out_file, stderr=subprocess.DEVNULL, env=env, text=True)
    peak = 0
    while proc.poll() is None:
        peak = max(peak, tree_rss_kb(proc.pid))
        time.sleep(0.02)
    out_file.seek(0)
    out = out_file.read()
    if proc.returncode != 0:
        sys.exit(f"{' '.join(cmd)} failed ({proc.returncode})")
    fields = dict(part.split("=") for part in out.split())
    return int(fields["pages"]), int(fields["outputPages"]), int(fields["ms"]), peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cores", default="2-5")
    parser.add_argument("--build", default=str(ROOT / "build-bench"))
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    files = args.files or [str(CORPUS / name) for name in BOOKS if (CORPUS / name).exists()]
    if not files:
        sys.exit("no books to measure: give files or set LUMENO_CORPUS")
    subprocess.run(["cmake", "-S", str(ROOT), "-B", args.build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DLUMENO_SANITIZE=OFF", "-DLUMENO_BUILD_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["taskset", "-c", args.cores, "cmake", "--build", args.build, "-j2", "--target",
                    "exportBench"], check=True, stdout=subprocess.DEVNULL)
    program = str(pathlib.Path(args.build) / "bench" / "export" / "exportBench")
    reader = str(pathlib.Path(args.build) / "libexec" / "lumeno" / "lumeno-chm-reader")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1",
               LUMENO_CHM_READER=reader)
    pin = ["taskset", "-c", args.cores]
    out_dir = tempfile.mkdtemp(prefix="export-bench-")
    print(f"both pinned to cores {args.cores}; medians of {args.rounds} rounds "
          f"(1 for books over {LARGE_BOOK_PAGES} pages); MB/page: the export's peak memory over "
          f"the floor's, per output page")
    print(f"{'book':32} {'pages':>6} {'out':>6} {'floor s':>8} {'export s':>9} {'ratio':>6} "
          f"{'floor MB':>9} {'export MB':>10} {'MB/page':>8}  goals (ratio <= {GOAL_RATIO}, "
          f"MB/page <= {GOAL_MB_PER_PAGE})")
    all_met = True
    for path in files:
        floor_ms, export_ms, floor_peak, export_peak = [], [], 0, 0
        rounds = args.rounds
        r = 0
        while r < rounds:
            pages, _, ms, peak = run(pin + [program, "floor", path], env)
            floor_ms.append(ms)
            floor_peak = max(floor_peak, peak)
            pages, out_pages, ms, peak = run(pin + [program, "export", path, out_dir], env)
            export_ms.append(ms)
            export_peak = max(export_peak, peak)
            if pages > LARGE_BOOK_PAGES:
                rounds = 1
            r += 1
        f, e = statistics.median(floor_ms), statistics.median(export_ms)
        ratio = e / f
        per_page = max(0, export_peak - floor_peak) / 1024 / max(out_pages, 1)
        met = ratio <= GOAL_RATIO and per_page <= GOAL_MB_PER_PAGE
        all_met = all_met and met
        verdict = ("time ok" if ratio <= GOAL_RATIO else "TIME MISSED") + ", " + \
                  ("memory ok" if per_page <= GOAL_MB_PER_PAGE else "MEMORY MISSED")
        print(f"{pathlib.Path(path).name[:32]:32} {pages:6d} {out_pages:6d} {f / 1000:8.1f} {e / 1000:9.1f} "
              f"{ratio:6.2f} {floor_peak / 1024:9.0f} {export_peak / 1024:10.0f} {per_page:8.3f}  {verdict}",
              flush=True)
    print("all goals met" if all_met else "some goals missed")


if __name__ == "__main__":
    main()
