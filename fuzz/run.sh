#!/usr/bin/env bash
# Runs a fuzz target for a time, or all of them at once:
#   fuzz/run.sh TARGET SECONDS     TARGET: metadata sitemap directory itss open calculator
#                                  imagestream lzx imagereader
#   fuzz/run.sh all SECONDS        every target in parallel
# Builds the clang tree build-fuzz/ (LUMENO_FUZZ_BUILD overrides) with chmlib compiled from
# Debian's source (fetched once into build-fuzz/chmlib-src/ with "apt-get source chmlib"; deb-src
# must be enabled), makes the seed folders under
# build-fuzz/seeds/ from the compiled fixtures, the real-world corpus and fuzz/seeds/, and keeps
# what it learns in build-fuzz/corpus/. Every crash, timeout, out-of-memory or leak input is
# copied to fuzz/regressions/TARGET/, where the normal tests replay it. A run that finds
# something goes on with the remaining time (at most five findings a target; a kept input that
# still fails stops the target at once). Extra libFuzzer
# options can be given in LUMENO_FUZZ_FLAGS (e.g. "-use_value_profile=1").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LUMENO_FUZZ_BUILD:-$root/build-fuzz}
corpus_dir=${LUMENO_CORPUS:-$root/../shared/corpus}/real
targets=(metadata sitemap directory itss open calculator imagestream lzx imagereader)
max_findings=5

usage() {
    echo "usage: $0 {${targets[*]// /|}|all} SECONDS" >&2
    exit 2
}

max_len_for() {
    case $1 in
    metadata) echo 65536 ;;
    # Sitemaps are parsed and then searched and sorted whole: small ones keep the target fast.
    sitemap) echo 16384 ;;
    # Small files keep the container targets fast; the mutator grows them when it needs to.
    directory | open | lzx) echo 65536 ;;
    imagestream | imagereader) echo 65536 ;;
    itss | calculator) echo 4096 ;;
    esac
}

dict_for() {
    case $1 in
    directory | open | lzx) echo "$root/fuzz/dicts/container.dict" ;;
    *) echo "$root/fuzz/dicts/$1.dict" ;;
    esac
}

chmlib_source() {
    local src=$build/chmlib-src
    if [ ! -f "$src"/chmlib-*/src/chm_lib.c ]; then
        mkdir -p "$src"
        (cd "$src" && apt-get source chmlib >/dev/null 2>&1) || {
            echo "cannot fetch chmlib's source (apt-get source chmlib; is deb-src enabled?)" >&2
            exit 1
        }
    fi
    echo "$src"/chmlib-*/
}

build_tree() {
    mkdir -p "$build"
    local chmlib
    chmlib=$(chmlib_source)
    if [ ! -f "$build/build.ninja" ]; then
        CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DLUMENO_FUZZ=ON \
            -DLUMENO_CHMLIB_SOURCE="$chmlib" -DLUMENO_BUILD_GUI=OFF -DLUMENO_BUILD_BENCH=OFF \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    # A shared machine: at most three compile jobs (LUMENO_JOBS: fewer).
    nice cmake --build "$build" --target fuzzers -j "${LUMENO_JOBS:-3}" >/dev/null
}

chmtool() {
    ASAN_OPTIONS=detect_leaks=0 "$build/bin/chmtool" "$@"
}

# Four bytes, little-endian.
le32() {
    local n=$1
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((n & 255)) $((n >> 8 & 255)) \
        $((n >> 16 & 255)) $((n >> 24 & 255)))"
}

# The sitemap target's first byte picks the encoding: "", CP936, CP1251, CP932, UTF-8.
encoding_byte() {
    case $1 in
    zh-gbk* | gbk*) echo 1 ;;
    ru-cp1251*) echo 2 ;;
    ja-sjis*) echo 3 ;;
    *) echo 0 ;;
    esac
}

# Stops the run: a seed folder made of nothing fuzzes nothing, and says so only in the figures.
no_seeds() {
    echo "fuzz seeds: $1 $2${3:+: $3}" >&2
    exit 1
}

make_seeds() {
    local seeds=$build/seeds
    rm -rf "$seeds"
    for t in "${targets[@]}"; do
        mkdir -p "$seeds/$t"
        # Kept inputs start the fuzzer too: a fix is tried against what broke it.
        for kept in "$root/fuzz/seeds/$t" "$root/fuzz/regressions/$t"; do
            if [ -d "$kept" ]; then
                cp "$kept"/* "$seeds/$t/" 2>/dev/null || true
            fi
        done
    done
    local files=("$build"/fixtures/*.chm)
    if [ -d "$corpus_dir" ]; then
        files+=("$corpus_dir"/*.chm)
    fi
    local limit
    limit=$(max_len_for open)
    for f in "${files[@]}"; do
        [ -f "$f" ] || continue
        local name
        name=$(basename "$f" .chm)
        if [ "$(stat -c %s "$f")" -le "$limit" ]; then
            cp "$f" "$seeds/directory/$name.chm"
            cp "$f" "$seeds/open/$name.chm"
            cp "$f" "$seeds/lzx/$name.chm"
        fi
        local tmp
        tmp=$(mktemp -d)
        # Every book the seeds come from opens: one that does not (no reading program, a chmtool
        # that cannot run) would leave its seeds empty without a word.
        chmtool list "$f" >"$tmp/objects" 2>"$tmp/error" ||
            no_seeds "$f" "cannot be listed" "$(head -c 400 "$tmp/error")"
        [ -s "$tmp/objects" ] || no_seeds "$f" "lists no object"
        local flags=0
        chmtool cat "$f" /#SYSTEM >"$tmp/system" 2>/dev/null || flags=$((flags | 2))
        chmtool cat "$f" /#WINDOWS >"$tmp/windows" 2>/dev/null || flags=$((flags | 4))
        chmtool cat "$f" /#STRINGS >"$tmp/strings" 2>/dev/null || flags=$((flags | 8))
        [ "$flags" -ne 14 ] || no_seeds "$f" "yields no metadata (no /#SYSTEM, /#WINDOWS, /#STRINGS)"
        {
            printf "$(printf '\\x%02x' $flags)"
            le32 "$(stat -c %s "$tmp/system")"
            le32 "$(stat -c %s "$tmp/windows")"
            cat "$tmp/system" "$tmp/windows" "$tmp/strings"
        } >"$seeds/metadata/$name"
        local n=0 object
        while IFS= read -r object; do
            n=$((n + 1))
            case $object in
            *.hhc | *.hhk | *.HHC | *.HHK)
                {
                    printf "$(printf '\\x%02x' "$(encoding_byte "$name")")"
                    chmtool cat "$f" "$object" 2>"$tmp/error" ||
                        no_seeds "$f" "cannot give its sitemap $object" "$(head -c 400 "$tmp/error")"
                } >"$seeds/sitemap/$name-$n"
                ;;
            esac
            case $object in
            /*) if [ "$n" -le 40 ]; then printf '\x00itss://chm%s' "$object" >"$seeds/itss/$name-$n"; fi ;;
            esac
        done <"$tmp/objects"
        rm -rf "$tmp"
    done
    echo "seeds: metadata $(du -sk "$seeds/metadata" | cut -f1) KB in" \
        "$(find "$seeds/metadata" -type f | wc -l) files, sitemap $(find "$seeds/sitemap" -type f |
            wc -l) files, itss $(find "$seeds/itss" -type f | wc -l) files"
}

# Runs one target until its time is used up, restarting after each finding; each session logs
# to runs/TARGET/log-N.txt.
run_target() {
    local t=$1 seconds=$2
    local out=$build/runs/$t
    rm -rf "$out"
    mkdir -p "$out/artifacts" "$build/corpus/$t" "$root/fuzz/regressions/$t"
    local deadline=$(($(date +%s) + seconds)) findings=0 executions=0 session=0
    while :; do
        local left=$((deadline - $(date +%s)))
        [ "$left" -gt 0 ] || break
        session=$((session + 1))
        local log=$out/log-$session.txt status=0
        # The lzx target tells the objects it compares from those its seeds decode to.
        LUMENO_FUZZ_SEEDS="$build/seeds/$t" \
            UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
            nice -n 19 "$build/fuzz/fuzz_$t" -max_len="$(max_len_for "$t")" -timeout=10 -rss_limit_mb=2048 \
            -max_total_time="$left" -print_final_stats=1 -dict="$(dict_for "$t")" \
            -artifact_prefix="$out/artifacts/" ${LUMENO_FUZZ_FLAGS:-} "$build/corpus/$t" "$build/seeds/$t" \
            >"$log" 2>&1 || status=$?
        local ran
        ran=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}' || true)
        executions=$((executions + ${ran:-0}))
        [ "$status" -ne 0 ] || break
        # The same input again (a kept input that still fails as the run starts): restarting
        # would only repeat it.
        local now
        now=$(find "$out/artifacts" -type f | wc -l)
        [ "$now" -gt "$findings" ] || break
        findings=$now
        [ "$findings" -lt "$max_findings" ] || break
    done
    for a in "$out"/artifacts/{crash,timeout,oom,leak}-*; do
        [ -f "$a" ] || continue
        local known=no k
        for k in "$root/fuzz/regressions/$t"/*; do
            if [ -f "$k" ] && cmp -s "$a" "$k"; then
                known=yes
            fi
        done
        [ "$known" = yes ] || cp "$a" "$root/fuzz/regressions/$t/"
    done
    echo "$t: ${seconds}s, $session sessions, $executions executions, $findings findings" \
        "(logs: $out)"
    # The lzx target's last counts of each session: objects compared, how many of them are bytes
    # no seed holds, and what was skipped.
    local log
    for log in "$out"/log-*.txt; do
        grep -h '^lzx: [0-9]* inputs' "$log" | tail -1 || true
    done
}

[ $# -eq 2 ] || usage
target=$1
seconds=$2
[[ $seconds =~ ^[0-9]+$ ]] || usage
if [ "$target" != all ] && [[ ! " ${targets[*]} " == *" $target "* ]]; then
    usage
fi
build_tree
make_seeds
if [ "$target" = all ]; then
    for t in "${targets[@]}"; do
        run_target "$t" "$seconds" &
    done
    wait
else
    run_target "$target" "$seconds"
fi
