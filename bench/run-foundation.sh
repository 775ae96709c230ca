#!/usr/bin/env bash
# Builds the foundation's benchmarks optimised, without sanitizers, in build-bench/ and runs them:
# opening files and reading every object, each against raw chmlib in the same run.
#   bench/run-foundation.sh [file.chm...]   (default: the real-world corpus and the 20,000-topic book)
set -euo pipefail
source "$(dirname "$0")/bench-build.sh"
cmake --build "$build" --target openBench contentBench
echo
"$build/bench/openBench" "$@"
echo
"$build/bench/contentBench" "$@"
