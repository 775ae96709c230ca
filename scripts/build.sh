#!/usr/bin/env bash
# Configures and builds the project into the given folder: build.sh DIR [cmake options...]
# LUMENO_JOBS sets the number of parallel compile jobs (default: the processors available).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "${LUMENO_JOBS:-$(nproc)}"
