#!/usr/bin/env bash
# Builds convtool and the embedded-image benchmark optimised, without sanitizers, in build-bench/
# and runs it: convtool pdf-images against pdfimages -all on the same PDF, in the same run.
#   bench/run-pdfimages.sh [rounds]   (default 5)
set -euo pipefail
source "$(dirname "$0")/bench-build.sh"
cmake --build "$build" -j3 --target pdfImagesBench convtool
"$build/bench/pdfImagesBench" "$@"
