#!/usr/bin/env bash
# Re-makes the stored prints of the "links" book that the export's headless tests replay.
# Usage: tests/export/data/make-printed-pages.sh [BUILD_DIR]   (a build with the window, default build/)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../../build}"
cmake --build "$build" -j3 --target print-fixture-pages fixtures
rm -rf "$here/links"
QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:new_delete_type_mismatch=0}" \
  "$build/tests/export/print-fixture-pages" "$build/fixtures/links.chm" "$here/links" 2>/dev/null
ls "$here/links"
