#!/usr/bin/env bash
# Sets up, checks the format (scripts/format.sh) and the rooms' arrows (at
# configure time, cmake/arrows.cmake), builds and runs the whole test suite, in
# release and again under AddressSanitizer and UndefinedBehaviorSanitizer,
# checks the Debian package,
# runs each fuzz target briefly, then builds the program for Windows and tests it
# under wine (scripts/windows.sh). Exits non-zero on any failure or sanitizer report.
#
# Qt for Windows is built once into a cache outside the clone. On a machine that
# has no cache yet that takes some 25 minutes of both cores, so it is built at low priority
# beside the Linux builds and tests, whose real-paced runs leave the cores idle
# part of the time; with the cache that step ends at once.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
phase() { echo "test.sh: $1 took $((SECONDS - $2)) s"; }

t=$SECONDS
bash scripts/setup.sh
phase setup "$t"

t=$SECONDS
bash scripts/format.sh
phase "format check" "$t"

# The Windows packages first (apt must not run while the Debian package test installs).
t=$SECONDS
STRIPEWELL_WIN_STEPS=packages bash scripts/windows.sh
mkdir -p build
windows_log=build/windows-cache.log
STRIPEWELL_WIN_STEPS="qt libzip" setsid bash scripts/windows.sh > "$windows_log" 2>&1 &
windows_cache=$!
# Whatever way this script ends, the cache build does not outlive it: its whole
# session goes (timeout puts the build in a process group of its own).
# A test's own database server (tests/db) is stopped by the test; one a crashed
# test left behind goes here too.
trap 'pkill -TERM -s "$windows_cache" 2>/dev/null || true; pkill -TERM -f -- "-D /tmp/stripewell-pg-" 2>/dev/null || true' EXIT
phase "Windows packages" "$t"

t=$SECONDS
bash scripts/build.sh
ctest --preset release -j"$(nproc)" --timeout 300
phase "release build and tests" "$t"

t=$SECONDS
bash scripts/package_test.sh
phase "Debian package" "$t"

t=$SECONDS
cmake --preset debug >/dev/null
cmake --build --preset debug -j"$(nproc)"
# The crash test kills and restarts the program at random moments of a run; under
# the sanitizers those moments fall mostly in its start-up, so it runs in release only.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --preset debug -j"$(nproc)" --timeout 600 -E test_crash
phase "sanitizer build and tests" "$t"

t=$SECONDS
bash scripts/fuzz.sh
phase fuzz "$t"

t=$SECONDS
if ! wait "$windows_cache"; then
    cat "$windows_log" >&2
    echo "test.sh: Qt or libzip for Windows did not build" >&2
    exit 1
fi
trap 'pkill -TERM -f -- "-D /tmp/stripewell-pg-" 2>/dev/null || true' EXIT
cat "$windows_log"
STRIPEWELL_WIN_STEPS="build test package e2e" bash scripts/windows.sh
phase "Windows (waiting for its cache, then build, tests under wine, packages, end to end)" "$t"
phase "everything" "$started"
