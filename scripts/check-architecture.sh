#!/usr/bin/env bash
# Compares the layer table of docs/ARCHITECTURE.md (between its "layers: begin" and "layers: end"
# markers: target, folder, the targets it links, a note after #) with the libraries and programs CMake generates
# and their direct link edges, in the default configuration without tests and benchmarks.
# Fails, naming each difference, when a target or an edge is in one and not the other.
#   check-architecture.sh [WORK_DIR]   (WORK_DIR: a scratch build folder; default: a temporary one)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
doc="$root/docs/ARCHITECTURE.md"
work=${1:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

# CMake reads its graph options from the build folder: targets only, one graph.
cat >"$work/CMakeGraphVizOptions.cmake" <<'OPTIONS'
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
OPTIONS
if ! cmake -S "$root" -B "$work" -G Ninja -DBUILD_TESTING=OFF -DLUMENO_BUILD_BENCH=OFF \
  -DLUMENO_BUILD_GUI=ON --graphviz="$work/deps.dot" >"$work/configure.log" 2>&1; then
  cat "$work/configure.log" >&2
  echo "check-architecture: configuring failed" >&2
  exit 1
fi

# The documented graph: "target folder dep... # note" lines ("-": none) in the fenced block.
documented=$(awk '
  /<!-- layers: begin/ { inside = 1; next }
  /<!-- layers: end/ { inside = 0 }
  inside && /^```/ { next }
  inside { sub(/#.*/, "") }
  inside && NF >= 2 && $1 != "target" { print }
' "$doc")
if [ -z "$documented" ]; then
  echo "check-architecture: no layer table between the \"layers\" markers of $doc" >&2
  exit 1
fi

status=0
doc_targets=$(awk '{ print $1 }' <<<"$documented" | sort)
doc_edges=$(awk '{ for (i = 3; i <= NF; ++i) if ($i != "-") print $1 " -> " $i }' <<<"$documented" | sort)
while read -r target folder _; do
  if [ ! -d "$root/$folder" ]; then
    echo "check-architecture: $target: folder $folder does not exist" >&2
    status=1
  fi
done <<<"$documented"

# The generated graph: nodes '"nodeN" [ label = "name", ... ]', edges '... // a -> b'.
built_targets=$(sed -n 's/^ *"node[0-9]*" \[ label = "\([^"]*\)".*/\1/p' "$work/deps.dot" | sort -u)
built_edges=$(sed -n 's/^ *"node[0-9]*" -> "node[0-9]*".*\/\/ \(.*\)$/\1/p' "$work/deps.dot" | sort -u)
if [ -z "$built_targets" ]; then
  echo "check-architecture: CMake's graph ($work/deps.dot) lists no target" >&2
  exit 1
fi

report() { # report WHAT ONLY_IN_DOC ONLY_IN_BUILD
  local item
  while read -r item; do
    [ -n "$item" ] || continue
    echo "check-architecture: $1 $item is in docs/ARCHITECTURE.md but CMake does not build it" >&2
    status=1
  done <<<"$2"
  while read -r item; do
    [ -n "$item" ] || continue
    echo "check-architecture: $1 $item is built by CMake but missing from docs/ARCHITECTURE.md" >&2
    status=1
  done <<<"$3"
}
report target "$(comm -23 <(echo "$doc_targets") <(echo "$built_targets"))" \
  "$(comm -13 <(echo "$doc_targets") <(echo "$built_targets"))"
report edge "$(comm -23 <(echo "$doc_edges") <(echo "$built_edges"))" \
  "$(comm -13 <(echo "$doc_edges") <(echo "$built_edges"))"
if [ "$status" -ne 0 ]; then
  echo "check-architecture: update the layer table of docs/ARCHITECTURE.md to match the CMake files (or the CMake files to match it)" >&2
else
  echo "check-architecture: $(wc -l <<<"$built_targets") targets and $(wc -l <<<"$built_edges") edges match docs/ARCHITECTURE.md"
fi
exit "$status"
