# The test step of scripts/windows.sh, and wine as it and the end-to-end run
# (windows_e2e.sh) use it. Sourced after windows_build.sh, not run.

# ── wine: a fresh prefix per run, a private X display, everything killed at the end
WINE_TMP=
XVFB_PID=
wine_start() {
    [[ -n "$WINE_TMP" ]] && return
    WINE_TMP=$(mktemp -d /tmp/stripewell-wine.XXXXXX)
    export WINEPREFIX="$WINE_TMP/prefix" WINEDEBUG=-all WINEARCH=win64
    # No Mono or Gecko installer dialogs while the prefix is made.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    local display
    for display in $(seq 91 120); do
        [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]] && continue
        Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp > "$WINE_TMP/xvfb.log" 2>&1 &
        XVFB_PID=$!
        sleep 1
        if kill -0 "$XVFB_PID" 2>/dev/null; then
            export DISPLAY=":$display"
            break
        fi
    done
    [[ -n "${DISPLAY:-}" ]] || { echo "windows: no X display could be started" >&2; exit 1; }
    trap wine_stop EXIT
    timeout 300 wine wineboot -i > "$WINE_TMP/wineboot.log" 2>&1 || { tail "$WINE_TMP/wineboot.log" >&2; exit 1; }
    # Wine hands the program no QT_* variable of ours, but it does add the registry's
    # environment. Qt Test then prints to standard output, not to the debugger's log.
    timeout 60 wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f > /dev/null 2>&1
    timeout 60 wineserver -w || true
    wine_server
    say "wine prefix $WINEPREFIX on display $DISPLAY"
}

# One wine server for the programs that follow, and wine's own helper processes
# (services, devices, desktop), started here with their output away from the
# programs': started by a program, they would hold its output open after it
# ended, and ctest would wait on it until its time-out.
wine_server() {
    wineserver -p > /dev/null 2>&1 < /dev/null
    timeout 120 wine cmd /c exit > /dev/null 2>&1 < /dev/null || true
}

wine_stop() {
    # A simulator left by a step that failed goes too.
    [[ -z "${SIM_PID:-}" ]] || kill "$SIM_PID" 2>/dev/null || true
    [[ -z "$WINE_TMP" ]] && return
    timeout 30 wineserver -k 2>/dev/null || true
    [[ -n "$XVFB_PID" ]] && kill "$XVFB_PID" 2>/dev/null || true
    [[ -n "$XVFB_PID" ]] && wait "$XVFB_PID" 2>/dev/null || true
    [[ "${STRIPEWELL_WIN_KEEP:-0}" == 1 ]] || rm -rf "$WINE_TMP"
    WINE_TMP=
}

# Maps a Linux device (a pseudo-terminal) as a COM port; wine makes the link when it next starts.
wine_map_port() {
    local port=$1 device=$2
    timeout 60 wineserver -k 2>/dev/null || true
    timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$device" /f > /dev/null 2>&1
    timeout 60 wineserver -w || true
    wine_server
}

# Where the program's DLLs are for the build tree's executables.
wine_path_for_build() {
    local qt runtime
    qt=$(qt_prefix)
    runtime=$(dirname "$($MINGW-g++-posix -print-file-name=libstdc++-6.dll)")
    export WINEPATH="Z:${qt//\//\\}\\bin;Z:${runtime//\//\\};Z:\\usr\\$MINGW\\lib"
}

step_test() {
    wine_start
    wine_path_for_build
    # The device test's far end: a pseudo-terminal that echoes and hangs up after "bye".
    local peer="$WINE_TMP/peer.out"
    timeout 600 python3 "$root/scripts/windows_echo_peer.py" > "$peer" 2>&1 &
    local peer_pid=$! device=
    for _ in $(seq 50); do
        device=$(sed -n 's/^device //p' "$peer")
        [[ -n "$device" ]] && break
        sleep 0.1
    done
    wine_map_port COM2 "$device"
    local status=0
    (cd "$WINBUILD" && STRIPEWELL_TEST_PORT=COM2 timeout 900 ctest --output-on-failure --timeout 300) || status=$?
    kill "$peer_pid" 2>/dev/null || true
    wait "$peer_pid" 2>/dev/null || true
    [[ $status -eq 0 ]] || { echo "windows: tests failed under wine" >&2; exit 1; }
}
