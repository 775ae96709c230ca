#!/usr/bin/env bash
# Builds the reader optimised, without sanitizers, in build-bench/ and measures start to the
# first painted page against kchmviewer and a bare web engine on every corpus book, on an X
# server of its own (firstPageBench). Prints a row per book with both ratios and their goals.
#   bench/run-first-page.sh [rounds] [file.chm...]   (default: 5 rounds, the real-world corpus,
#   $LUMENO_CORPUS/real when set)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENO_SANITIZE=OFF \
    -DLUMENO_BUILD_BENCH=ON -DLUMENO_BUILD_GUI=ON >/dev/null
cmake --build "$build" -j2 --target firstPageBench >/dev/null
xvfb-run -a -s "-screen 0 1600x1000x24" "$build/bench/firstPageBench" "$@"
