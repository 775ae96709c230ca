#!/usr/bin/env bash
# Builds convtool and the PDF-to-text benchmark optimised, without sanitizers, in build-bench/
# and runs it: convtool pdf-to-text against pdftotext on the same 500-page PDF, in the same run.
#   bench/run-pdftext.sh [rounds]   (default 5)
set -euo pipefail
source "$(dirname "$0")/bench-build.sh"
cmake --build "$build" -j3 --target pdfTextBench convtool
"$build/bench/pdfTextBench" "$@"
