# Sourced by the run-*.sh scripts whose benchmarks need no window: configures an optimised build
# without sanitizers in build-bench/ and leaves its folder in $build, the repository's in $root.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMENO_SANITIZE=OFF \
    -DLUMENO_BUILD_BENCH=ON -DLUMENO_BUILD_GUI=OFF >/dev/null
