#!/usr/bin/env bash
# Installs what the project needs and checks it the way CI does:
#   1. every C++ source is formatted (.clang-format);
#   2. a Debug build with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors,
#      runs every test, the headless web-engine tests included;
#   3. docs/ARCHITECTURE.md's layer table matches the targets and links CMake generates;
#   4. a second build with ThreadSanitizer (no window) runs the headless tests once more;
#   5. the optimised build users get (RelWithDebInfo, as scripts/run.sh makes it, no sanitizers)
#      is built with the benchmarks, which are compiled, not run.
# Extra arguments go to both ctest runs (e.g. -R Search). The real-world corpus is found through
# LUMENO_CORPUS (default ../shared/corpus); its tests skip without it, and fail without it when
# CI=true, as do the tests that need a program scripts/install-deps.sh installs (pdfimages,
# soffice, icns2png, ...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${LUMENO_JOBS:-$(nproc)}
export LUMENO_JOBS=$jobs
"$root/scripts/install-deps.sh"
"$root/scripts/check-format.sh"

export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1

# The sanitizer builds keep line tables only (-g1): their reports name file and line, and the
# builds take a fifth less time than with full debug information.
debug_lines=(-DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1)
build="$root/build-tests"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Debug -DLUMENO_SANITIZE=ON "${debug_lines[@]}" \
  -DLUMENO_BUILD_BENCH=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
(
  cd "$build"
  export ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --output-on-failure -j "$jobs" "$@"
)

"$root/scripts/check-architecture.sh" "$root/build-architecture"

# The web-engine tests (label gui) cannot run under ThreadSanitizer: Chromium is not built with
# it, so its threads' work is invisible to TSan and their hand-overs to ours are reported as
# races. They run under AddressSanitizer above; every headless label runs here.
tsan="$root/build-tsan"
"$root/scripts/build.sh" "$tsan" -DCMAKE_BUILD_TYPE=Debug -DLUMENO_TSAN=ON "${debug_lines[@]}" \
  -DLUMENO_BUILD_GUI=OFF -DLUMENO_BUILD_BENCH=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
(
  cd "$tsan"
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp
  ctest --output-on-failure -j "$jobs" -L '^(viewer|common|conversion|bookmarks|export)$' "$@"
)

# What users run: the optimised build of scripts/run.sh, and the benchmarks, so that neither
# breaks unseen. No tests there (they ran above), which saves building them a third time.
"$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMENO_BUILD_BENCH=ON -DBUILD_TESTING=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
# ... and the programs the conversion library installs name no folder of this machine: they find
# their resources and helpers beside themselves (debug information aside, which packages ship
# apart).
for program in bin/convtool libexec/lumeno/lumeno-convtool libexec/lumeno/lumeno-pdf-to-text \
  libexec/lumeno/lumeno-text-layout; do
  stripped=$(mktemp)
  objcopy --strip-debug "$root/build-release/$program" "$stripped"
  if grep -q -a -F -e "$root" "$stripped"; then
    echo "$program names the build machine's folder $root" >&2
    rm -f "$stripped"
    exit 1
  fi
  rm -f "$stripped"
done
