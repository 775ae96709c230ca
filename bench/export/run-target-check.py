#!/usr/bin/env python3
"""Where the export's links and outline entries land, and how long `chmtool export` takes.

For each book (default: every book of the corpus), runs `chmtool export` once and times it, then
runs `exportTargetCheck`, which exports the book again as the export does and checks each link
and outline entry by the text at its destination (see ExportTargetCheck.cpp). Prints one row per
book: pages, output pages, links landing of those checked, outline entries landing of those
checked, and chmtool's wall time. Needs an optimised build with the benchmarks
(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENO_BUILD_BENCH=ON -DBUILD_TESTING=OFF) holding the
targets exportTargetCheck, chmtool and lumeno-chm-reader.
    bench/export/run-target-check.py [--build DIR] [--cores LIST] [--check-only] [-v] [file.chm ...]
--check-only leaves chmtool out (its time shows as nan).
"""
import argparse, os, pathlib, subprocess, sys, tempfile, time

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = pathlib.Path(os.environ.get("LUMENO_CORPUS", ROOT.parent / "shared" / "corpus")) / "real"
if not CORPUS.exists():
    CORPUS = pathlib.Path("/work/shared/corpus/real")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(ROOT / "build-release"))
    parser.add_argument("--cores", default="", help="pin the runs to these cores (taskset list)")
    parser.add_argument("-v", action="store_true", help="list every target that does not land")
    parser.add_argument("--check-only", action="store_true", help="do not run and time chmtool")
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    files = args.files or sorted(str(p) for p in CORPUS.glob("*.chm"))
    if not files:
        sys.exit("no books to check: give files or set LUMENO_CORPUS")
    build = pathlib.Path(args.build)
    chmtool = build / "tools" / "chmtool" / "chmtool"
    check = build / "bench" / "export" / "exportTargetCheck"
    for program in (chmtool, check):
        if not program.exists():
            sys.exit(f"{program} is missing: build it first")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1",
               LUMENO_CHM_READER=str(build / "libexec" / "lumeno" / "lumeno-chm-reader"))
    pin = ["taskset", "-c", args.cores] if args.cores else []
    print(f"{'book':40} {'pages':>6} {'output':>6} {'links landing':>17} "
          f"{'outline landing':>17} {'chmtool s':>9} exit")
    for book in files:
        name = pathlib.Path(book).name
        with tempfile.TemporaryDirectory(prefix="target-check-") as out:
            seconds, status = float("nan"), "-"
            if not args.check_only:
                started = time.monotonic()
                status = subprocess.run(pin + [str(chmtool), "export", book, out], env=env,
                                        stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL).returncode
                seconds = time.monotonic() - started
            run = subprocess.run(pin + [str(check), book, os.path.join(out, "check.pdf")]
                                 + (["-v"] if args.v else []),
                                 env=env, capture_output=True, text=True)
        if run.returncode != 0:
            print(f"{name:40} check failed ({run.returncode}): {run.stderr.strip()[-200:]}")
            continue
        lines = run.stdout.strip().splitlines()
        fields = dict(part.split("=", 1) for part in lines[-1].split() if "=" in part)
        values = lines[-1].split()
        links = f"{values[1].split('=')[1]}/{values[0].split('=')[1]}"
        outline = f"{values[3].split('=')[1]}/{values[2].split('=')[1]}"
        print(f"{name:40} {fields['pages']:>6} {fields['outputPages']:>6} {links:>17} "
              f"{outline:>17} {seconds:9.1f} {status}", flush=True)
        if args.v:
            for line in lines[:-1]:
                print("    " + line)


if __name__ == "__main__":
    main()
