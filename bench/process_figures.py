"""What the Python benchmarks share: running a program to measure it, and finding the processes
it started (a web engine's helpers are memory of the program too)."""
import os
import subprocess
import sys
import time


def run(command):
    """Wall seconds and peak resident memory (bytes) of one process."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    errors = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        # Long input lists are cut: the program and its first arguments say which run failed.
        shown = " ".join(command[:4]) + (" ..." if len(command) > 4 else "")
        sys.exit(f"failed: {shown}\n{errors}")
    return seconds, usage.ru_maxrss * 1024


def process_tree(root):
    """The process and all its descendants, as they stand in /proc now."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except OSError:
            pass
    tree, work = [], [root]
    while work:
        pid = work.pop()
        tree.append(pid)
        work.extend(children.get(pid, []))
    return tree
