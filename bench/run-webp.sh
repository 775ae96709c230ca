#!/usr/bin/env bash
# Builds convtool and the WebP benchmark optimised, without sanitizers, in build-bench/ and runs
# it: convtool webp-encode/webp-decode against cwebp/dwebp on the same inputs, in the same run.
#   bench/run-webp.sh [rounds]   (default 5)
set -euo pipefail
source "$(dirname "$0")/bench-build.sh"
cmake --build "$build" -j3 --target webpBench convtool
"$build/bench/webpBench" "$@"
