#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short while.
# A crash or any sanitizer report fails the run: the fuzz preset builds with
# -fno-sanitize-recover=all, and the log is searched for reports as well.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${FUZZ_SECONDS:-15}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# Inputs longer than the default, where a target has limits past it to reach.
declare -A max_len=([fuzz_settings]=10000)
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
    if ! "$target" -max_total_time="$SECONDS_PER_TARGET" -max_len="${max_len[$name]:-4096}" -rss_limit_mb=1024 \
            -print_final_stats=0 "$work" >"$work.log" 2>&1 \
        || grep -qE "runtime error:|ERROR: [A-Za-z]+Sanitizer" "$work.log"; then
        echo "fuzz: $name FAILED" >&2
        tail -n 60 "$work.log" >&2
        status=1
    else
        tail -n 1 "$work.log"
    fi
    rm -rf "$work" "$work.log"
done
exit $status
