#!/usr/bin/env python3
"""Export speed and memory against the web engine's bare printing of the same pages.

Builds exportBench optimised (build-bench/), then for each book (default: the largest corpus
books) runs, interleaved over several rounds, `exportBench floor` (load + printToPdf of every
page of the export's page list, nothing else) and `exportBench export` (the whole export).
Reports pages per second of each, the export's overhead as a ratio to the floor, and the peak
memory of each run's whole process tree (the program and its web engine processes), sampled
every 20 ms from /proc.
    bench/export/run-export-bench.py [--rounds N] [file.chm ...]
"""
import argparse, os, pathlib, statistics, subprocess, sys, tempfile, time

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = pathlib.Path(os.environ.get("LUMENO_CORPUS", ROOT.parent / "shared" / "corpus")) / "real"
sys.path.insert(0, str(ROOT / "bench"))
from process_figures import process_tree  # noqa: E402

LARGEST = ["en-riak-sandcastle-api.chm", "en-fpc-fcl-chmcmd-large.chm", "en-putty-halibut.chm"]


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
    return int(fields["pages"]), int(fields["ms"]), peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--build", default=str(ROOT / "build-bench"))
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    files = args.files or [str(CORPUS / name) for name in LARGEST if (CORPUS / name).exists()]
    if not files:
        sys.exit("no books to measure: give files or set LUMENO_CORPUS")
    subprocess.run(["cmake", "-S", str(ROOT), "-B", args.build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DLUMENO_SANITIZE=OFF", "-DLUMENO_BUILD_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", args.build, "-j3", "--target", "exportBench"], check=True,
                   stdout=subprocess.DEVNULL)
    program = str(pathlib.Path(args.build) / "bench" / "export" / "exportBench")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1")
    out_dir = tempfile.mkdtemp(prefix="export-bench-")
    print(f"{'book':38} {'pages':>6} {'floor p/s':>10} {'export p/s':>11} {'overhead':>9} "
          f"{'floor MB':>9} {'export MB':>10}")
    for path in files:
        floor_ms, export_ms, floor_peak, export_peak = [], [], 0, 0
        for _ in range(args.rounds):
            pages, ms, peak = run([program, "floor", path], env)
            floor_ms.append(ms)
            floor_peak = max(floor_peak, peak)
            pages, ms, peak = run([program, "export", path, out_dir], env)
            export_ms.append(ms)
            export_peak = max(export_peak, peak)
        f, e = statistics.median(floor_ms), statistics.median(export_ms)
        print(f"{pathlib.Path(path).name:38} {pages:6d} {pages * 1000 / f:10.1f} {pages * 1000 / e:11.1f} "
              f"{e / f:8.2f}x {floor_peak / 1024:9.0f} {export_peak / 1024:10.0f}")


if __name__ == "__main__":
    main()
