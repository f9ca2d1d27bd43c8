#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite, then runs each fuzz target briefly.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
ctest --preset release -j"$(nproc)" --timeout 300
bash scripts/package_test.sh
bash scripts/fuzz.sh
