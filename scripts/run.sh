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
# chmtool reads books through the reading program the build keeps beside the reader's folder.
export LUMENO_CHM_READER="$build/libexec/lumeno/lumeno-chm-reader"
"$build/tools/chmtool/chmtool" info "$sample"
"$build/tools/chmtool/chmtool" toc "$sample"
