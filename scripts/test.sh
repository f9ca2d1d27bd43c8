#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite, in release and again under
# AddressSanitizer and UndefinedBehaviorSanitizer, checks the Debian package, then
# runs each fuzz target briefly. Exits non-zero on any failure or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
ctest --preset release -j"$(nproc)" --timeout 300
bash scripts/package_test.sh
cmake --preset debug >/dev/null
cmake --build --preset debug -j"$(nproc)"
# The crash test kills and restarts the program at random moments of a run; under
# the sanitizers those moments fall mostly in its start-up, so it runs in release only.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --preset debug -j"$(nproc)" --timeout 600 -E test_crash
bash scripts/fuzz.sh
