#!/usr/bin/env bash
# Builds convtool and the PDF-to-text benchmark optimised, without sanitizers, in build-bench/
# and runs it: convtool pdf-to-text against pdftotext on the same 10-, 100- and 1000-page PDFs, in
# the same run.
#   bench/run-pdftext.sh [rounds]   (default 5)
set -euo pipefail
source "$(dirname "$0")/bench-build.sh"
cmake --build "$build" -j3 --target pdfTextBench convtool
# Both programs run on the same four cores, so neither gains from more of them.
taskset -c 2-5 "$build/bench/pdfTextBench" "$@"
