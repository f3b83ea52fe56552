#!/usr/bin/env bash
# Runs one fuzz target for a while: fuzz.sh TARGET [SECONDS] (linesplitter, catalog, modellist,
# svgextract, addresses, update, history, streams, generation, launchmessage; 60 seconds unless
# told). Built with clang in build-fuzz/, under AddressSanitizer and UndefinedBehaviorSanitizer. It
# starts from the committed seeds in fuzz/corpus/TARGET and keeps what it finds in
# build-fuzz/corpus/TARGET; a crash or a broken invariant stops it and leaves the input in
# build-fuzz/ (crash-…), to be fixed and kept as a seed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
target="$1"
seconds="${2:-60}"
dir="${DRAVLIN_FUZZ_DIR:-$here/build-fuzz}"
if [ ! -f "$dir/build.ninja" ]; then
    CC=clang CXX=clang++ "$here/scripts/configure.sh" "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DDRAVLIN_FUZZ=ON -DDRAVLIN_BUILD_TESTS=OFF
fi
cmake --build "$dir" --target "fuzz_$target"
mkdir -p "$dir/corpus/$target"
cd "$dir"
# Leaks are left to the sanitizer suite: a fuzz run reports each input's faults, not Qt's caches.
# DRAVLIN_FUZZ_RUNS=N runs exactly N inputs from a fixed seed instead: the same inputs every time,
# so a run in CI fails only for a change in the code, never for a lucky find.
limit=(-max_total_time="$seconds")
if [ -n "${DRAVLIN_FUZZ_RUNS:-}" ]; then
    limit=(-runs="$DRAVLIN_FUZZ_RUNS" -seed=1)
    # Qt's hashes are seeded afresh per process otherwise, and the order they visit in changes
    # which branches an input reaches.
    export QT_HASH_SEED=0
fi
ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$dir/fuzz/fuzz_$target" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$dir/corpus/$target" "$here/fuzz/corpus/$target"
