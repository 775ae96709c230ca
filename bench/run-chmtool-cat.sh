#!/usr/bin/env bash
# Builds chmtool and its reading program optimised (build-release/, as scripts/test.sh makes it)
# and measures `chmtool cat` of one object against chmlib's test_chmLib (Debian's libchm-bin,
# which scripts/install-deps.sh installs) in the same run, on the FCL and riak corpus books.
#   bench/run-chmtool-cat.sh [runs]            (default: 40 runs of each; about half a minute)
# Goal: chmtool's median under 25 ms on the FCL book. Pin it like the other benchmarks:
#   taskset -c 2-7 bench/run-chmtool-cat.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-release"
corpus="${LUMENO_CORPUS:-$root/../shared/corpus}/real"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENO_BUILD_BENCH=ON \
    -DBUILD_TESTING=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target chmtool lumeno-chm-reader >/dev/null
# chmtool finds its reading program in ../libexec/lumeno, as installed.
unset LUMENO_CHM_READER
python3 "$root/bench/chmtool_cat_bench.py" --chmtool "$build/bin/chmtool" --runs "${1:-40}" \
    "$corpus/en-fpc-fcl-chmcmd-large.chm:/index.html" \
    "$corpus/en-riak-sandcastle-api.chm:/html/R_Project_Documentation.htm"
