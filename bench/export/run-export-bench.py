#!/usr/bin/env python3
"""Export speed and memory against the web engine's bare printing of the same pages, and the
export's own memory on large books against a 20-page book.

Builds exportBench optimised (build-bench/), then for each book (default: the corpus books below)
runs, interleaved over several rounds, `exportBench floor` (load + printToPdf of every page of the
export's page list, nothing else) and `exportBench export` (the whole export). Both run pinned to
the same cores (--cores, default 2-5). Prints one row per book: HTML pages and output pages, the
median times, the export's time as a ratio to the floor, the peak memory of each run's whole
process tree (the program and its web engine processes, sampled every 20 ms from /proc), the
export's memory over the floor's per output page, and whether the goals are met.

Then the memory of the export's own process, as the system counts it for a process started with
posix_spawn (the peak of the process, or of one of the processes it waited for, if higher): a
book of 20 realistic pages (make_book.py, compiled with chmcmd) is exported first, and every book
after it is measured against it. The export must not keep what each page leaves behind: its peak
stays under 400 MB on every book, and no more than 100 MB above the 20-page book's (the ratio of
the two peaks is shown with the most it may be).
    bench/export/run-export-bench.py [--rounds N] [--cores LIST] [--memory-only] [--prebuilt]
                                     [--build DIR] [file.chm ...]
"""
import argparse, os, pathlib, shutil, statistics, subprocess, sys, tempfile, time

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = pathlib.Path(os.environ.get("LUMENO_CORPUS", ROOT.parent / "shared" / "corpus")) / "real"
if not CORPUS.exists():
    CORPUS = pathlib.Path("/work/shared/corpus/real")
sys.path.insert(0, str(ROOT / "bench"))
from process_figures import process_tree  # noqa: E402

BOOKS = ["en-putty-halibut.chm", "en-riak-sandcastle-api.chm", "zh-gbk-7zip-help.chm",
         "ko-cp949-nero-burningrom.chm", "ja-sjis-doxygen-api.chm", "zh-big5-nero-burningrom.chm",
         "en-fpc-fcl-chmcmd-large.chm"]
# A book this large is measured in one round, so that the whole run stays within minutes (the
# 3,015 pages of riak alone take about two minutes to print, floor or export).
LARGE_BOOK_PAGES = 500
GOAL_RATIO = 1.3
# Memory flat in the page count: what the export holds over the floor, per output page.
GOAL_MB_PER_PAGE = 0.02
# The export's own process: its peak on any book, and over its peak on a book of 20 pages.
GOAL_OWN_PEAK_MB = 400
GOAL_OWN_OVER_SMALL_MB = 100
SMALL_BOOK_PAGES = 20


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
    """Pages, output pages, milliseconds, the peak of the process tree (kB, sampled) and the peak
    of the process itself (kB, from wait4 of a process started with posix_spawn)."""
    # The output is one line, read at the end; a pipe that nobody reads meanwhile must not fill.
    out_file = tempfile.TemporaryFile("w+")
    with open(os.devnull, "w") as devnull:
        pid = os.posix_spawnp(cmd[0], cmd, env, file_actions=[
            (os.POSIX_SPAWN_DUP2, out_file.fileno(), 1), (os.POSIX_SPAWN_DUP2, devnull.fileno(), 2)])
    peak = 0
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done == pid:
            break
        peak = max(peak, tree_rss_kb(pid))
        time.sleep(0.02)
    out_file.seek(0)
    out = out_file.read()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(cmd)} failed ({os.waitstatus_to_exitcode(status)})")
    fields = dict(part.split("=") for part in out.split())
    return (int(fields["pages"]), int(fields["outputPages"]), int(fields["ms"]), peak,
            usage.ru_maxrss)


def small_book(folder):
    """A book of SMALL_BOOK_PAGES realistic pages, compiled now."""
    chmcmd = shutil.which("chmcmd")
    if not chmcmd:
        sys.exit("chmcmd is needed for the 20-page book (scripts/install-deps.sh)")
    book = os.path.join(folder, f"book{SMALL_BOOK_PAGES}.chm")
    subprocess.run([sys.executable, str(ROOT / "bench" / "make_book.py"), "--chmcmd", chmcmd,
                    "--work", os.path.join(folder, "work"), "--out", book, "--topics",
                    str(SMALL_BOOK_PAGES), "--pages", str(SMALL_BOOK_PAGES), "--realistic"],
                   check=True, stdout=subprocess.DEVNULL)
    return book


def own_memory(files, run_export, measured):
    """The export's own peak on each book against its peak on the 20-page book. `measured`: books
    already exported, by path: (output pages, milliseconds, peak kB)."""
    print(f"\nthe export's own process: peak memory on each book / on a {SMALL_BOOK_PAGES}-page "
          f"book; goals: under {GOAL_OWN_PEAK_MB} MB and at most {GOAL_OWN_OVER_SMALL_MB} MB "
          f"over the {SMALL_BOOK_PAGES}-page book's")
    _, small_out, small_ms, _, small_kb = run_export(small_book(tempfile.mkdtemp(prefix="book20-")))
    small_mb = small_kb / 1024
    limit = (small_mb + GOAL_OWN_OVER_SMALL_MB) / small_mb
    print(f"{'book':32} {'out':>6} {'export s':>9} {'own MB':>7} {'ratio':>6} {'at most':>8}  goal")
    print(f"{f'{SMALL_BOOK_PAGES}-page book':32} {small_out:6d} {small_ms / 1000:9.1f} "
          f"{small_mb:7.0f} {1.0:6.2f} {limit:8.2f}", flush=True)
    all_met = True
    for path in files:
        if path in measured:
            out_pages, ms, kb = measured[path]
        else:
            _, out_pages, ms, _, kb = run_export(path)
        mb = kb / 1024
        met = mb <= GOAL_OWN_PEAK_MB and mb - small_mb <= GOAL_OWN_OVER_SMALL_MB
        all_met = all_met and met
        print(f"{pathlib.Path(path).name[:32]:32} {out_pages:6d} {ms / 1000:9.1f} {mb:7.0f} "
              f"{mb / small_mb:6.2f} {limit:8.2f}  {'memory ok' if met else 'MEMORY MISSED'}",
              flush=True)
    return all_met


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cores", default="2-5")
    parser.add_argument("--build", default=str(ROOT / "build-bench"))
    parser.add_argument("--prebuilt", action="store_true",
                        help="use the exportBench already built in --build")
    parser.add_argument("--memory-only", action="store_true",
                        help="only the export's own memory against the 20-page book")
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    files = args.files or [str(CORPUS / name) for name in BOOKS if (CORPUS / name).exists()]
    if not files:
        sys.exit("no books to measure: give files or set LUMENO_CORPUS")
    if not args.prebuilt:
        subprocess.run(["cmake", "-S", str(ROOT), "-B", args.build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DLUMENO_SANITIZE=OFF",
                        "-DLUMENO_BUILD_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["taskset", "-c", args.cores, "cmake", "--build", args.build, "-j2",
                        "--target", "exportBench"], check=True, stdout=subprocess.DEVNULL)
    program = str(pathlib.Path(args.build) / "bench" / "export" / "exportBench")
    reader = str(pathlib.Path(args.build) / "libexec" / "lumeno" / "lumeno-chm-reader")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1",
               LUMENO_CHM_READER=reader)
    pin = ["taskset", "-c", args.cores]
    out_dir = tempfile.mkdtemp(prefix="export-bench-")
    run_export = lambda path: run(pin + [program, "export", path, out_dir], env)  # noqa: E731
    if args.memory_only:
        met = own_memory(files, run_export, {})
        print("all goals met" if met else "some goals missed")
        return
    print(f"both pinned to cores {args.cores}; medians of {args.rounds} rounds "
          f"(1 for books over {LARGE_BOOK_PAGES} pages); MB/page: the export's peak memory over "
          f"the floor's, per output page")
    print(f"{'book':32} {'pages':>6} {'out':>6} {'floor s':>8} {'export s':>9} {'ratio':>6} "
          f"{'floor MB':>9} {'export MB':>10} {'MB/page':>8}  goals (ratio <= {GOAL_RATIO}, "
          f"MB/page <= {GOAL_MB_PER_PAGE})")
    all_met = True
    own = {}
    for path in files:
        floor_ms, export_ms, floor_peak, export_peak, own_peak = [], [], 0, 0, 0
        rounds = args.rounds
        r = 0
        while r < rounds:
            pages, _, ms, peak, _ = run(pin + [program, "floor", path], env)
            floor_ms.append(ms)
            floor_peak = max(floor_peak, peak)
            pages, out_pages, ms, peak, own_kb = run_export(path)
            export_ms.append(ms)
            export_peak = max(export_peak, peak)
            own_peak = max(own_peak, own_kb)
            if pages > LARGE_BOOK_PAGES:
                rounds = 1
            r += 1
        f, e = statistics.median(floor_ms), statistics.median(export_ms)
        own[path] = (out_pages, e, own_peak)
        ratio = e / f
        per_page = max(0, export_peak - floor_peak) / 1024 / max(out_pages, 1)
        met = ratio <= GOAL_RATIO and per_page <= GOAL_MB_PER_PAGE
        all_met = all_met and met
        verdict = ("time ok" if ratio <= GOAL_RATIO else "TIME MISSED") + ", " + \
                  ("memory ok" if per_page <= GOAL_MB_PER_PAGE else "MEMORY MISSED")
        print(f"{pathlib.Path(path).name[:32]:32} {pages:6d} {out_pages:6d} {f / 1000:8.1f} {e / 1000:9.1f} "
              f"{ratio:6.2f} {floor_peak / 1024:9.0f} {export_peak / 1024:10.0f} {per_page:8.3f}  {verdict}",
              flush=True)
    all_met = own_memory(files, run_export, own) and all_met
    print("all goals met" if all_met else "some goals missed")


if __name__ == "__main__":
    main()
