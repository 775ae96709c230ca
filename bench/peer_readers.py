#!/usr/bin/env python3
"""Start-to-first-window time and memory of this reader and the two other Linux CHM readers.

Each reader (lumeno, and the Debian packages kchmviewer and xchm, run as programs only) opens
each file on a private X server (Xvfb), in turn, RUNS times. Measured per run:
- window: seconds from the start of the process to the first top-level window that is mapped
  and at least 200 pixels wide (polled every 5 ms with xwininfo);
- memory: RSS and PSS summed over the whole process tree (the web engine's processes too),
  SETTLE seconds after the window appeared (for a book that is indexed on opening, long enough
  for the index to be built). Files the reader keeps in its memory-backed runtime folder (this
  reader's search index) are memory too, but no process maps them: their size is added. Each
  launch has a runtime folder of its own, made before it and removed after it, so that what
  one launch leaves there is never charged to the next.
Printed: the median of each figure per reader and file, and each reader's figures as ratios
against the Qt peer's (kchmviewer) measured in the same run.

usage: peer_readers.py --lumeno PATH [--also NAME=PATH]... [--runs N] [--settle S] FILE.chm...
(--also measures another build of the reader beside it, e.g. the one before a change)
"""

import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

from process_figures import process_tree

POLL = 0.005
MIN_WIDTH = 200


def top_level_windows(env):
    out = subprocess.run(["xwininfo", "-root", "-children"], env=env, capture_output=True,
                         text=True, errors="replace").stdout
    ids = set()
    for line in out.splitlines():
        line = line.strip()
        if line.startswith("0x"):
            ids.add(line.split()[0])
    return ids


def is_shown(env, window):
    out = subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True, text=True,
                         errors="replace").stdout
    width = 0
    for line in out.splitlines():
        if "Width:" in line:
            width = int(line.split(":")[1])
    return "IsViewable" in out and width >= MIN_WIDTH


def memory_mib(root):
    rss = pss = 0
    for pid in process_tree(root):
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    if line.startswith("Rss:"):
                        rss += int(line.split()[1])
                    elif line.startswith("Pss:"):
                        pss += int(line.split()[1])
        except OSError:
            pass
    return rss / 1024.0, pss / 1024.0


def folder_mib(folder):
    total = 0
    for base, _, names in os.walk(folder):
        for name in names:
            try:
                total += os.stat(os.path.join(base, name)).st_blocks * 512
            except OSError:
                pass
    return total / (1024.0 * 1024.0)


def stop(process):
    try:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait(timeout=10)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def measure(command, env, settle):
    # A desktop session's runtime folder: private (mode 0700) and in memory; one per launch.
    runtime = tempfile.mkdtemp(prefix="peer-readers-", dir="/dev/shm")
    env = dict(env, XDG_RUNTIME_DIR=runtime)
    before = top_level_windows(env)
    start = time.monotonic()
    process = None
    shown = None
    try:
        process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        while time.monotonic() - start < 60 and process.poll() is None:
            for window in top_level_windows(env) - before:
                if is_shown(env, window):
                    shown = time.monotonic() - start
                    break
            if shown is not None:
                break
            time.sleep(POLL)
        if shown is None:
            return None
        time.sleep(settle)
        rss, pss = memory_mib(process.pid)
        held = folder_mib(runtime)
        return shown, rss + held, pss + held
    finally:
        if process:
            stop(process)
        shutil.rmtree(runtime, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lumeno", required=True)
    parser.add_argument("--also", action="append", default=[])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--settle", type=float, default=10.0)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    readers = {"lumeno": [args.lumeno]}
    for extra in args.also:
        name, _, path = extra.partition("=")
        readers[name] = [path]
    readers.update({"kchmviewer": ["kchmviewer"], "xchm": ["xchm"]})
    for name, command in readers.items():
        if not shutil.which(command[0]):
            sys.exit("%s is not installed" % command[0])

    display = ":%d" % (90 + os.getpid() % 9)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
    env.pop("WAYLAND_DISPLAY", None)
    if os.geteuid() == 0:
        # Chromium refuses to start its sandbox as root.
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
    home = "/tmp/peer-readers-%d" % os.getpid()
    os.makedirs(home, exist_ok=True)
    # Each reader starts from empty settings, as on a first start.
    env.update(HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data",
               XDG_CACHE_HOME=home + "/cache")
    try:
        print("%-34s %-11s %9s %9s %9s %8s %8s" % ("file", "reader", "window s", "RSS MiB",
                                                   "PSS MiB", "window/Qt", "PSS/Qt"))
        for path in args.files:
            figures = {}
            for _ in range(args.runs):
                # Interleaved: drift of the machine touches every reader alike.
                for name, command in readers.items():
                    result = measure(command + [path], env, args.settle)
                    if result:
                        figures.setdefault(name, []).append(result)
            medians = {name: [statistics.median(r[i] for r in runs) for i in range(3)]
                       for name, runs in figures.items()}
            qt = medians.get("kchmviewer")
            for name in readers:
                if name not in medians:
                    print("%-34s %-11s no window" % (os.path.basename(path), name))
                    continue
                shown, rss, pss = medians[name]
                ratio = lambda a, b: "%.2f" % (a / b) if b else "-"
                print("%-34s %-11s %9.3f %9.0f %9.0f %8s %8s" % (
                    os.path.basename(path), name, shown, rss, pss,
                    ratio(shown, qt[0]) if qt else "-", ratio(pss, qt[2]) if qt else "-"))
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
