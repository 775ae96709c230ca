#!/usr/bin/env bash
# Builds convtool and the PDF-to-text benchmark optimised, without sanitizers, in build-bench/
# and runs it: convtool pdf-to-text against pdftotext on the same 500-page PDF, in the same run.
#   bench/run-pdftext.sh [rounds]   (default 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENO_SANITIZE=OFF \
    -DLUMENO_BUILD_BENCH=ON -DLUMENO_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j3 --target pdfTextBench convtool
"$build/bench/pdfTextBench" "$@"
