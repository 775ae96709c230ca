#!/usr/bin/env bash
# Builds the reader optimised, without sanitizers, in build-bench/ and measures its start-up:
# start to first visible window against the peer readers (kchmviewer, xchm: Debian packages,
# installed by hand for measuring; missing ones are left out) on every corpus book, on an X
# server of its own; then start to the first page against a bare web engine (startupBench).
#   bench/run-startup.sh [rounds] [file.chm...]   (default: 5 rounds, the real-world corpus)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENO_SANITIZE=OFF \
    -DLUMENO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j3 --target firstWindowBench startupBench
echo
xvfb-run -a -s "-screen 0 1600x1000x24" "$build/bench/firstWindowBench" "$@"
echo
"$build/bench/startupBench"
