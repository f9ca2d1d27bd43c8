#!/usr/bin/env bash
# Builds Stripewell for 64-bit Windows with Debian's mingw-w64, runs its tests and an
# end-to-end run against the terminal simulator under wine, and makes the zip and the
# NSIS installer in build/windows/.
#
# Qt for Windows is built once from Debian's qt6-base source into a cache folder outside
# the clone and reused while the Qt version and the configure line stay the same; libzip
# likewise. Every step says how long it took.
#
#   scripts/windows.sh            everything
#   STRIPEWELL_WIN_CACHE=dir      the cache folder (default /var/cache/stripewell-windows,
#                                 or ~/.cache/stripewell-windows when not root)
#   STRIPEWELL_WIN_STEPS="..."    only these steps (packages qt libzip build test package e2e)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/windows_common.sh
source scripts/windows_common.sh
# shellcheck source=scripts/windows_packages.sh
source scripts/windows_packages.sh
# shellcheck source=scripts/windows_cross.sh
source scripts/windows_cross.sh
# shellcheck source=scripts/windows_build.sh
source scripts/windows_build.sh
# shellcheck source=scripts/windows_wine.sh
source scripts/windows_wine.sh
# shellcheck source=scripts/windows_e2e.sh
source scripts/windows_e2e.sh

steps=${STRIPEWELL_WIN_STEPS:-"packages qt libzip build test package e2e"}
for step in $steps; do
    timed "$step" "step_$step"
done
timings
