#!/usr/bin/env python3
"""ConvertPDFToImages (`convtool pdf-to-images`) against pdftoppm on the same pages, in one run:
a 100-page text PDF (Letter pages of running English prose, made here) drawn at 150 dpi.

Rows, each the median of interleaved rounds with its ratio and goal:
  * ours (PNG, every core given) against `pdftoppm -png -r 150`;
  * ours against `pdftoppm -r 150` writing uncompressed PPM: the floor of drawing alone;
  * ours held to one core against the same floor (how much the workers bring);
  * the processor time (user + system) of ours against the floor's, which the load of a shared
    machine does not change: divided by the cores, the wall time ours comes to on free cores;
  * peak resident memory of ours against pdftoppm's, and the memory each program holds before
    any work (its libraries), which is not the job's.

pdftoppm draws on one thread. Every command runs under `taskset -c CORES` (default: the cores
this process may use), so both sides get the same processors.

    bench/pdf_pages_bench.py --convtool build-bench/bin/convtool --cores 2-7
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

from render_bench import fresh, make_pdf

GOAL_FLOOR = 1.0   # wall time at most the PPM floor
GOAL_MEMORY = 1.5  # peak memory at most 1.5 x pdftoppm's


def expand(cores):
    """The processors of a taskset list such as "2-7" or "0,2,4-5"."""
    found = set()
    for part in cores.split(","):
        low, _, high = part.partition("-")
        found.update(range(int(low), int(high or low) + 1))
    return found


def cores_of_this_process():
    cores = sorted(os.sched_getaffinity(0))
    return ",".join(str(c) for c in cores)


def run(command):
    """Wall seconds, peak resident bytes and CPU seconds (user + system) of one process: the
    measure of process_figures.run, with the processor time that the load of a shared machine
    does not change."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    errors = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(command[:6])}\n{errors}")
    return seconds, usage.ru_maxrss * 1024, usage.ru_utime + usage.ru_stime


def idle_memory(command):
    """Peak resident bytes of a command that does no work, through GNU time (None without it)."""
    if not os.path.exists("/usr/bin/time"):
        return None
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    return int(done.stderr.strip().splitlines()[-1]) * 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--convtool", required=True, help="an optimised build's convtool")
    parser.add_argument("--work", default="/tmp/lumeno-pdf-pages-bench")
    parser.add_argument("--cores", default=None, help="taskset core list for every command")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--png-rounds", type=int, default=3,
                        help="rounds of pdftoppm -png (about 50 s each)")
    parser.add_argument("--dpi", type=int, default=150)
    args = parser.parse_args()
    if not shutil.which("pdftoppm") or not shutil.which("taskset"):
        sys.exit("needs pdftoppm (poppler-utils) and taskset (util-linux)")
    cores = args.cores or cores_of_this_process()
    first_core = cores.replace("-", ",").split(",")[0]
    os.makedirs(args.work, exist_ok=True)
    pdf = make_pdf(args.work)
    out = lambda name: os.path.join(args.work, name)
    pin = lambda command, where=cores: ["taskset", "-c", where] + command
    dpi = str(args.dpi)
    tools = {
        "ours": lambda: pin([args.convtool, "pdf-to-images", pdf, fresh(out("ours")),
                             "--format", "7", "--dpi", dpi]),
        "ours-1core": lambda: pin([args.convtool, "pdf-to-images", pdf, fresh(out("ours1")),
                                   "--format", "7", "--dpi", dpi], first_core),
        "pdftoppm-ppm": lambda: pin(["pdftoppm", "-r", dpi, pdf, os.path.join(
            fresh(out("ppm")), "p")]),
        "pdftoppm-png": lambda: pin(["pdftoppm", "-png", "-r", dpi, pdf, os.path.join(
            fresh(out("png")), "p")]),
    }
    times = {t: [] for t in tools}
    cpu = {t: [] for t in tools}
    peaks = {t: 0 for t in tools}
    for round_ in range(args.rounds):
        for tool, command in tools.items():
            if tool == "pdftoppm-png" and round_ >= args.png_rounds:
                continue
            seconds, peak, processor = run(command())
            times[tool].append(seconds)
            cpu[tool].append(processor)
            peaks[tool] = max(peaks[tool], peak)
        print(f"round {round_ + 1}/{args.rounds} done", flush=True)
    count = len(os.listdir(out("ours")))
    for folder in ("ours", "ours1", "ppm", "png"):  # 600 MB of PPM among them
        shutil.rmtree(out(folder), ignore_errors=True)
    if count != 100:
        sys.exit(f"convtool wrote {count} files, not 100")
    # What each program holds before it does anything: its libraries, loaded and relocated.
    # Measured with GNU time, since a child of this (larger) Python process reports at least
    # Python's own resident size as its peak.
    idle_ours, idle_peer = idle_memory([args.convtool, "pdf-to-images", "-h"]), idle_memory(
        ["pdftoppm", "-v"])

    med = {t: statistics.median(v) for t, v in times.items()}
    med_cpu = {t: statistics.median(v) for t, v in cpu.items()}
    print(f"\n100 pages, {dpi} dpi, PNG; cores {cores} for every command "
          f"({len(os.sched_getaffinity(0))} available to the benchmark); "
          f"medians of {args.rounds} interleaved rounds ({args.png_rounds} for pdftoppm -png)\n")
    rows = [
        ("time: ours / pdftoppm -png", med["ours"], med["pdftoppm-png"], "< 1 (well ahead)", 1.0),
        ("time: ours / pdftoppm PPM floor", med["ours"], med["pdftoppm-ppm"],
         f"<= {GOAL_FLOOR}", GOAL_FLOOR),
        ("time: ours on 1 core / PPM floor", med["ours-1core"], med["pdftoppm-ppm"],
         "(information)", None),
        ("CPU time: ours / PPM floor", med_cpu["ours"], med_cpu["pdftoppm-ppm"],
         "(information)", None),
        ("peak memory: ours / pdftoppm PPM", peaks["ours"] / 1e6, peaks["pdftoppm-ppm"] / 1e6,
         f"<= {GOAL_MEMORY}", GOAL_MEMORY),
        ("peak memory: ours / pdftoppm -png", peaks["ours"] / 1e6, peaks["pdftoppm-png"] / 1e6,
         f"<= {GOAL_MEMORY}", GOAL_MEMORY),
        ("peak memory: ours on 1 core / PPM", peaks["ours-1core"] / 1e6,
         peaks["pdftoppm-ppm"] / 1e6, "(information)", None),
    ]
    print(f"{'case':<38}{'ours':>10}{'peer':>10}{'ratio':>8}  {'goal':<18}met")
    for name, ours, peer, goal, limit in rows:
        unit = "MB" if "memory" in name else "s"
        ratio = ours / peer
        met = "" if limit is None else ("yes" if ratio <= limit else "NO")
        print(f"{name:<38}{ours:>8.2f}{unit:<2}{peer:>8.2f}{unit:<2}{ratio:>8.2f}  {goal:<18}{met}")
    cores_used = len(os.sched_getaffinity(0)) if args.cores is None else len(
        expand(cores))
    print(f"\nours used {med_cpu['ours']:.2f} s of processor time on {cores_used} cores: at "
          f"least {med_cpu['ours'] / cores_used:.2f} s of wall time where the cores are free, "
          f"{med_cpu['ours'] / cores_used / med_cpu['pdftoppm-ppm']:.2f} x the floor's processor "
          f"time (its wall time on a free core); load average now {os.getloadavg()[0]:.1f}")
    if idle_ours and idle_peer:
        print(f"\nbefore any work (libraries loaded; GNU time): convtool {idle_ours / 1e6:.0f} MB,"
              f" pdftoppm {idle_peer / 1e6:.0f} MB: ours holds "
              f"{(peaks['ours'] - idle_ours) / 1e6:.0f} MB more at its peak, pdftoppm "
              f"{(peaks['pdftoppm-ppm'] - idle_peer) / 1e6:.0f} MB")


if __name__ == "__main__":
    main()
