#!/usr/bin/env bash
# Builds the foundation's benchmarks optimised, without sanitizers, in build-bench/ and runs them:
# opening files and reading every object, each against raw chmlib in the same run.
#   bench/run-foundation.sh [file.chm...]   (default: the real-world corpus and the 20,000-topic book)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENO_SANITIZE=OFF \
    -DLUMENO_BUILD_BENCH=ON -DLUMENO_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target openBench contentBench
echo
"$build/bench/openBench" "$@"
echo
"$build/bench/contentBench" "$@"
