#!/usr/bin/env bash
# Sets up, builds and starts Stripewell against the terminal simulator.
# The simulator runs on a pseudo-terminal; run/COM1 links to it and run/config.rwc
# chooses COM1, so pressing "Читать" shows the sample deck's cards one by one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

root=$(pwd)
work="$root/run"
mkdir -p "$work"
[[ -f "$work/config.rwc" ]] || printf '0\r\n' > "$work/config.rwc"

sim="$root/build/release/tools/stripewell-sim"
if [[ ! -x "$sim" ]]; then
    echo "run: the terminal simulator is not built yet; starting the program alone (no port)"
    cd "$work" && exec "$root/build/release/app/stripewell"
fi
"$sim" --link "$work/COM1" --present-after 1500 --record "$work/wire.log" --encoded "$work/encoded.txt" \
    > "$work/simulator.out" 2>&1 < /dev/null &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [[ -L "$work/COM1" ]] && break
    sleep 0.1
done
echo "run: terminal simulator on $(readlink "$work/COM1" || echo '?'), linked as $work/COM1"

cd "$work"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "run: no display; starting under Xvfb (nothing will be visible)"
    xvfb-run -a -s "-noreset -screen 0 1024x768x24" "$root/build/release/app/stripewell"
else
    "$root/build/release/app/stripewell"
fi
