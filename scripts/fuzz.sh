#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short while.
# A crash or a sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${FUZZ_SECONDS:-20}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
status=0
for target in build/fuzz/tests/fuzz/fuzz_*; do
    [[ -x "$target" ]] || continue
    name=$(basename "$target")
    corpus="tests/fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    [[ -d "$corpus" ]] && cp -r "$corpus"/. "$work"/
    echo "fuzz: $name for ${SECONDS_PER_TARGET}s"
    if ! "$target" -max_total_time="$SECONDS_PER_TARGET" -max_len=4096 -rss_limit_mb=1024 \
            -print_final_stats=0 "$work" >"$work.log" 2>&1; then
        echo "fuzz: $name FAILED" >&2
        tail -n 60 "$work.log" >&2
        status=1
    else
        tail -n 1 "$work.log"
    fi
    rm -rf "$work" "$work.log"
done
exit $status
