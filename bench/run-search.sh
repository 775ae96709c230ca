#!/usr/bin/env bash
# Builds the reader optimised, without sanitizers, in build-bench-search/ and measures the
# full-text index and the reader beside its peers, each row with its goal:
# - searchBench: index build in processor time against reading the same objects (goal <= 4),
#   the index's memory, search median (< 0.5 ms) and worst (< 20 ms) on the three realistic
#   books (1,000, 5,000, 20,000 topics);
# - typingBench: keystroke to the search field's next paint in the reader's window while the
#   realistic 20,000-topic book is indexed (worst < 16 ms), and once it is done;
# - peer_readers.py: memory (PSS of the process tree plus the index's files, 10 s after the
#   window; 30 s for the 20,000-topic book, so that its index is built) of lumeno, kchmviewer
#   and xchm (Debian packages, run as programs only) on a private Xvfb, on Sandcastle
#   (goal: PSS/Qt <= 1.25) and the realistic 20,000-topic book (goal: PSS/Qt <= 1.25).
#   bench/run-search.sh            (needs chmcmd, Xvfb, xwininfo, kchmviewer, xchm; about 8 min)
# Pin it like the other benchmarks: taskset -c 2-7 bench/run-search.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench-search"
corpus="${LUMENO_CORPUS:-$root/../shared/corpus}/real"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENO_SANITIZE=OFF \
    -DLUMENO_BUILD_BENCH=ON -DLUMENO_BUILD_GUI=ON -DBUILD_TESTING=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target searchBench typingBench lumeno
books="$build/bench"
echo
"$build/bench/searchBench" "$books/realistic1000.chm" "$books/realistic5000.chm" \
    "$books/realistic20000.chm"
echo
# Chromium refuses to start its sandbox as root.
if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
QT_QPA_PLATFORM=offscreen "$build/bench/typingBench" "$books/realistic20000.chm" 2>/dev/null
echo
echo "PSS of the process tree and the index's files against kchmviewer's (goal: PSS/Qt <= 1.25)"
python3 "$root/bench/peer_readers.py" --lumeno "$build/app/lumeno" --runs 3 --settle 10 \
    "$corpus/en-riak-sandcastle-api.chm"
python3 "$root/bench/peer_readers.py" --lumeno "$build/app/lumeno" --runs 3 --settle 30 \
    "$books/realistic20000.chm"
