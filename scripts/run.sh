#!/usr/bin/env bash
# Installs what the project needs, builds it and opens the bundled sample book.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build="$root/build"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENO_BUILD_BENCH=OFF -DBUILD_TESTING=OFF
sample="$build/fixtures/sample.chm"
if [ -x "$build/app/lumeno" ]; then
  exec "$build/app/lumeno" "$sample" "$@"
fi
# chmtool finds the reading program in ../libexec/lumeno, as an installed one does.
"$build/bin/chmtool" info "$sample"
"$build/bin/chmtool" toc "$sample"
