#!/usr/bin/env bash
# Builds convtool and the embedded-image benchmark optimised, without sanitizers, in build-bench/
# and runs it: convtool pdf-images against pdfimages -all on the same PDF, in the same run.
#   bench/run-pdfimages.sh [rounds]   (default 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENO_SANITIZE=OFF \
    -DLUMENO_BUILD_BENCH=ON -DLUMENO_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j3 --target pdfImagesBench convtool
"$build/bench/pdfImagesBench" "$@"
