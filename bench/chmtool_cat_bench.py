"""chmtool cat of one object against chmlib's own test_chmLib doing the same, run after run in
turns, on the largest corpus books: what one object costs through chmtool (a process start, the
book's reading process and its checks) beside a bare chmlib read (a process start and chm_open).

    python3 bench/chmtool_cat_bench.py --chmtool build-release/bin/chmtool [--runs 40] BOOK:PATH...

Prints each side's median and 90th percentile in milliseconds and the ratio of the medians;
the goal is chmtool's median under 25 ms on the FCL book."""
import argparse
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_figures import run  # noqa: E402

GOAL_MS = 25.0


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--chmtool", required=True)
    parser.add_argument("--peer", default=shutil.which("test_chmLib"))
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("objects", nargs="+", help="BOOK:PATH, e.g. book.chm:/index.html")
    args = parser.parse_args()
    if not args.peer:
        sys.exit("test_chmLib is missing (Debian's libchm-bin; scripts/install-deps.sh installs it)")
    out = tempfile.mkdtemp(prefix="chmtool-cat-bench-")
    print(f"{'book':<36} {'object':<16} {'chmtool ms':>12} {'p90':>7} {'test_chmLib ms':>15} "
          f"{'p90':>7} {'ratio':>7}  goal")
    try:
        for spec in args.objects:
            book, path = spec.rsplit(":", 1)
            mine, peer = [], []
            # One of each to warm the page cache, then in turns so that both see the same machine.
            run([args.chmtool, "cat", book, path])
            run([args.peer, book, path, os.path.join(out, "object")])
            for _ in range(args.runs):
                mine.append(run([args.chmtool, "cat", book, path])[0] * 1000)
                peer.append(run([args.peer, book, path, os.path.join(out, "object")])[0] * 1000)
            median, peer_median = statistics.median(mine), statistics.median(peer)
            name = os.path.basename(book)
            goal = f"< {GOAL_MS:.0f} ms: {'met' if median < GOAL_MS else 'MISSED'}"
            print(f"{name:<36} {path:<16} {median:>12.1f} {percentile(mine, 0.9):>7.1f} "
                  f"{peer_median:>15.1f} {percentile(peer, 0.9):>7.1f} "
                  f"{median / peer_median:>7.1f}  {goal}")
    finally:
        shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
