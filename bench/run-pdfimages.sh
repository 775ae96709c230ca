#!/usr/bin/env bash
# Builds convtool and the embedded-image benchmark optimised, without sanitizers, in build-bench/
# and runs it: convtool pdf-images against pdfimages -png on the same PDFs, in the same run.
# Pin it as the machine allows; both tools get the same cores, e.g. taskset -c 2-5 bench/run-pdfimages.sh
#   bench/run-pdfimages.sh [rounds]   (default 3)
set -euo pipefail
source "$(dirname "$0")/bench-build.sh"
cmake --build "$build" -j2 --target pdfImagesBench convtool
"$build/bench/pdfImagesBench" "$@"
