#!/usr/bin/env bash
# Installs what the project needs, builds it with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, the headless web-engine tests included.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build="$root/build-tests"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Debug -DLUMENO_SANITIZE=ON -DLUMENO_BUILD_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
