# Shared by the steps of scripts/windows.sh: the mingw target, the build tree and the
# cache folder of Qt and libzip for Windows, the builds' priority, and the step timings.
# Sourced first, not run; expects $root set to the clone.

MINGW=x86_64-w64-mingw32
TOOLCHAIN="$root/cmake/mingw-w64-x86_64.cmake"
WINBUILD="$root/build/windows"
JOBS=2
NICE=(nice -n 10)

if [[ -n "${STRIPEWELL_WIN_CACHE:-}" ]]; then
    CACHE=$STRIPEWELL_WIN_CACHE
elif [[ $(id -u) -eq 0 ]]; then
    CACHE=/var/cache/stripewell-windows
else
    CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/stripewell-windows
fi
mkdir -p "$CACHE" "$WINBUILD"
TIMINGS="$WINBUILD/timings.txt"
: > "$TIMINGS"

say() { echo "windows: $*"; }

timed() {
    local name=$1
    shift
    local t0=$SECONDS
    say "── $name"
    "$@"
    local took=$((SECONDS - t0))
    printf '%-10s %4d:%02d\n' "$name" $((took / 60)) $((took % 60)) >> "$TIMINGS"
    say "$name took $((took / 60)) min $((took % 60)) s"
}

timings() {
    say "timings (min:s)"
    sed 's/^/  /' "$TIMINGS"
}
