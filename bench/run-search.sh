#!/usr/bin/env bash
# Builds the reader optimised, without sanitizers, in build-bench-search/ and measures the
# full-text index and the reader beside its peers:
# - searchBench: index build against reading the same objects, the index's memory per 1,000
#   pages, search times; on the two largest corpus books, the 20,000-topic book with its small
#   vocabulary and the three realistic books (1,000, 5,000, 20,000 topics); then the ways of
#   building the index (heap or memory folder, one thread or several) weighed in one run;
# - peer_readers.py: start to first window and memory (RSS/PSS of the process tree, 10 s after
#   the window, and after indexing on the realistic 20,000-topic book) of lumeno, kchmviewer
#   and xchm (Debian packages, run as programs only) on a private Xvfb.
#   bench/run-search.sh            (needs chmcmd, Xvfb, xwininfo, kchmviewer, xchm)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-search"
corpus="${LUMENO_CORPUS:-$root/../shared/corpus}/real"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENO_SANITIZE=OFF \
    -DLUMENO_BUILD_BENCH=ON -DLUMENO_BUILD_GUI=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j3 --target searchBench lumeno
echo
"$build/bench/searchBench"
echo
python3 "$root/bench/peer_readers.py" --lumeno "$build/app/lumeno" --runs 5 --settle 10 \
    "$corpus/en-riak-sandcastle-api.chm" "$corpus/en-putty-halibut.chm" \
    "$corpus/en-fpc-fcl-chmcmd-large.chm" "$corpus/zh-gbk-7zip-help.chm"
echo
python3 "$root/bench/peer_readers.py" --lumeno "$build/app/lumeno" --runs 3 --settle 60 \
    "$build/bench/realistic20000.chm"
