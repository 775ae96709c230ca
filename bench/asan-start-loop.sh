#!/usr/bin/env bash
# Starts the reader of a build (a sanitizer build finds more) N times on each book until its
# first page has loaded (LUMENO_EXIT_AFTER_FIRST_LOAD), each start with a fresh home and runtime
# folder, and counts the starts that did not end well (a crash, a sanitizer's report, a
# timeout); their output is kept. As root the reader is left to turn the web engine's sandbox
# off itself, as a root user's start does, so that the loop also covers the environment the
# reader sets for itself at start. With ON_X=1 the starts run on a private X server (xvfb-run)
# instead of headless: setting up the display takes longest, and a race with the threads that
# run meanwhile shows most there.
#   bench/asan-start-loop.sh BUILD N BOOK...   (e.g. build 300 book.chm ...)
#   ON_X=1 bench/asan-start-loop.sh build-release 300 book.chm
set -u
if [ "${ON_X:-0}" = 1 ] && [ -z "${LUMENO_LOOP_ON_XVFB:-}" ]; then
  LUMENO_LOOP_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" "$0" "$@"
fi
build=$1; n=$2; shift 2
out=$(mktemp -d /tmp/lumeno-asan-starts-XXXXXX)
if [ -n "${LUMENO_LOOP_ON_XVFB:-}" ]; then
  export QT_QPA_PLATFORM=xcb
else
  export QT_QPA_PLATFORM=offscreen
fi
export LUMENO_EXIT_AFTER_FIRST_LOAD=1
if [ "$(id -u)" -eq 0 ]; then
  unset QTWEBENGINE_DISABLE_SANDBOX QT_XCB_GL_INTEGRATION
else
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
export ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fails=0; runs=0
for book in "$@"; do
  for _ in $(seq 1 "$n"); do
    home=$(mktemp -d)
    export HOME=$home XDG_CONFIG_HOME=$home/c XDG_DATA_HOME=$home/d XDG_RUNTIME_DIR=$home/r
    mkdir -m 700 "$home/r"
    timeout 60 "$build/app/lumeno" "$book" > "$out/run.log" 2>&1; rc=$?
    runs=$((runs + 1))
    if [ $rc -ne 0 ]; then
      fails=$((fails + 1))
      cp "$out/run.log" "$out/fail-$fails-$(basename "$book")-$rc.log"
    fi
    rm -rf "$home"
  done
done
echo "starts $runs, failures $fails (their output in $out)"
