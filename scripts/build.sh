#!/usr/bin/env bash
# Configures and builds the project into the given folder: build.sh DIR [cmake options...]
# LUMENO_JOBS sets the number of parallel compile jobs (default: the processors available).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
# A compiler cache, when installed, makes rebuilding unchanged sources nearly free. Paths below the
# checkout are hashed relative to it, so that every clone and worktree shares one cache.
launcher=()
if command -v ccache >/dev/null && [ -z "${LUMENO_NO_CCACHE:-}" ]; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi
cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j "${LUMENO_JOBS:-$(nproc)}"
