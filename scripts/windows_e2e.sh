# End to end under wine, sourced by scripts/windows.sh: the Windows program
# against the Linux terminal simulator on a pseudo-terminal that wine maps as
# COM1. A three-track read, then a run of cards written and answered, each
# checked against what the simulator printed and encoded; then the program from
# the zip started on its own for the screenshot.

E2E_CARDS=(
    "B4000123412341234^IVANOV/IVAN^2512101|4000123412341234:2512101|0123456789012345678"
    "B5100777788889999^PETROVA/ANNA^2601|5100777788889999:2601|987654321"
    "B6011000011112222^SIDOROV/OLEG^2703|6011000011112222<27|1111222233334444;1"
)

# Starts the simulator in $1 with the options that follow; sets SIM_PID and
# maps its pseudo-terminal as COM1.
e2e_simulator() {
    local work=$1
    shift
    timeout 600 "$SIM" "$@" > "$work/simulator.out" 2> "$work/simulator.err" < /dev/null &
    SIM_PID=$!
    local device=
    for _ in $(seq 100); do
        device=$(sed -n 's/^device //p' "$work/simulator.out")
        [[ -n "$device" ]] && break
        sleep 0.1
    done
    [[ -n "$device" ]] || { echo "windows: the simulator did not start" >&2; cat "$work/simulator.err" >&2; exit 1; }
    wine_map_port COM1 "$device"
}

e2e_simulator_stop() {
    [[ -n "${SIM_PID:-}" ]] || return 0
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=
}

# Runs the scripted operator in $1 (mode $2) until $4 lines of file $3 match
# $5 or $6 seconds have passed, then ends every wine process.
e2e_operator() {
    local work=$1 mode=$2 file=$3 want=$4 pattern=$5 seconds=$6
    (cd "$work" && timeout "$((seconds + 30))" wine "$WINBUILD/tests/windows/stripewell-operator.exe" \
        -platform offscreen $mode > "$work/operator.out" 2> "$work/operator.err" < /dev/null) &
    local pid=$! waited=0
    while ((waited < seconds * 10)); do
        (($(grep -c -E "$pattern" "$file" 2>/dev/null || true) >= want)) && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
        waited=$((waited + 1))
    done
    timeout 30 wineserver -k 2>/dev/null || true
    wine_server
    wait "$pid" 2>/dev/null || true
}

e2e_read() {
    local work="$WINE_TMP/read"
    mkdir -p "$work"
    printf '%s\n' "${E2E_CARDS[@]}" > "$work/deck.txt"
    printf '0\r\n' > "$work/config.rwc"
    e2e_simulator "$work" --deck "$work/deck.txt" --present-after 300 --record "$work/wire.log"
    e2e_operator "$work" read "$work/operator.out" ${#E2E_CARDS[@]} '^card ' 60
    e2e_simulator_stop
    local read
    read=$(sed -n 's/^card //p' "$work/operator.out" | tr -d '\r')
    if [[ "$read" != "$(printf '%s\n' "${E2E_CARDS[@]}")" ]]; then
        echo "windows: the cards read are not the deck's" >&2
        echo "read:" >&2; echo "$read" >&2
        echo "operator:" >&2; cat "$work/operator.out" "$work/operator.err" >&2
        echo "simulator:" >&2; cat "$work/simulator.out" >&2
        exit 1
    fi
    say "read ${#E2E_CARDS[@]} three-track cards over COM1 ($(grep -c . "$work/wire.log") commands on the wire)"
}

e2e_job() {
    cat <<'EOF'
{"format": "stripewell-job", "version": 1, "trackChoice": 5, "workbook": {"path": "cards.csv"}, "tracks": [
 {"digitCount": 1, "slots": [{"kind": 0, "text": "B"},
   {"kind": 3, "text": "Name", "excel": {"column": 1, "row": 1, "step": 1, "direction": "+"}},
   {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""},
   {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""}]},
 {"digitCount": 4, "slots": [{"kind": 1, "text": "1000+1"}, {"kind": 0, "text": "="},
   {"kind": 3, "text": "Code", "excel": {"column": 2, "row": 1, "step": 1, "direction": "+"}},
   {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""},
   {"kind": 0, "text": ""}, {"kind": 0, "text": ""}]},
 {"digitCount": 4, "slots": [{"kind": 2, "text": "9000-3"},
   {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""},
   {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""}, {"kind": 0, "text": ""}]}
]}
EOF
}

e2e_write() {
    local work="$WINE_TMP/write" cards=6 row
    mkdir -p "$work"
    printf '0\r\n' > "$work/config.rwc"
    e2e_job > "$work/job.swj"
    {
        printf 'Name;Code\r\n'
        for row in $(seq 40); do printf 'CARD%d;%d\r\n' "$row" $((row * 7)); done
    } > "$work/cards.csv"
    # The expected cards: the worksheet's rows in turn, one counter rising, one falling.
    : > "$work/expected.txt"
    for row in $(seq "$cards"); do
        printf 'BCARD%d|%d=%04d|%d\n' "$row" $((999 + row)) $((row * 7)) $((9003 - 3 * row)) >> "$work/expected.txt"
    done
    # The second card is answered "not written" and goes again; the rest are written.
    e2e_simulator "$work" --encoded "$work/encoded.txt" --swipe 100 --write-outcomes WNW \
        --record "$work/wire.log"
    e2e_operator "$work" "" "$work/encoded.txt" "$cards" . 90
    e2e_simulator_stop
    local encoded
    encoded=$(head -n "$cards" "$work/encoded.txt")
    if [[ "$encoded" != "$(cat "$work/expected.txt")" ]] || grep -q '^timing-fault ' "$work/simulator.out" ||
        grep -q '^box ' "$work/operator.out"; then
        echo "windows: the write run is not what the job gives" >&2
        echo "expected:" >&2; cat "$work/expected.txt" >&2
        echo "encoded:" >&2; cat "$work/encoded.txt" >&2
        echo "operator:" >&2; cat "$work/operator.out" "$work/operator.err" >&2
        echo "simulator:" >&2; tail -30 "$work/simulator.out" >&2
        exit 1
    fi
    say "wrote $(grep -c . "$work/encoded.txt") cards over COM1, one answered \"not written\" and sent again; the encoded list is the job's sequence"
}

# The program from the zip, as an operator unpacks it, on the X display with its
# own platform plugin and no WINEPATH: it must start from what the zip holds,
# open COM1 from its config.rwc and show its main window; the screenshot is taken then.
e2e_program() {
    local zip work="$WINE_TMP/program"
    zip=$(ls "$WINBUILD"/stripewell-*-win64.zip)
    mkdir -p "$work/unpacked"
    (cd "$work/unpacked" && unzip -q "$zip")
    printf '%s\n' "${E2E_CARDS[0]}" > "$work/deck.txt"
    printf '0\r\n' > "$work/unpacked/config.rwc"
    e2e_simulator "$work" --deck "$work/deck.txt" --present-after 300
    (cd "$work/unpacked" && WINEPATH= timeout 120 wine ./stripewell.exe > "$work/program.out" 2>&1 < /dev/null) &
    local pid=$! window=
    for _ in $(seq 150); do
        window=$(xdotool search --name '^R/W card for R418V' 2>/dev/null | head -1 || true) # none yet: xdotool fails
        [[ -n "$window" ]] && break
        sleep 0.2
    done
    sleep 3 # the first paint, and the port opened at start
    mkdir -p "$WINBUILD/screenshots"
    [[ -z "$window" ]] || import -display "$DISPLAY" -window root "$WINBUILD/screenshots/windows.png" 2> /dev/null || true
    timeout 30 wineserver -k 2>/dev/null || true
    wine_server
    wait "$pid" 2>/dev/null || true
    e2e_simulator_stop
    if [[ -z "$window" ]]; then
        echo "windows: stripewell.exe from the zip showed no window" >&2
        cat "$work/program.out" >&2
        exit 1
    fi
    say "stripewell.exe from the zip started on its own and showed its window (build/windows/screenshots/windows.png)"
}

# The installer, silent, as an administrator installs it for every operator of
# the desk; then its uninstaller, which must leave the working folder's files.
e2e_install() {
    local installer c="$WINEPREFIX/drive_c" menu
    installer=$(ls "$WINBUILD"/stripewell-*-win64.exe)
    timeout 300 wine "$installer" /S > /dev/null 2>&1
    timeout 60 wineserver -w || true
    menu=$(find "$c" -path '*Start Menu/Programs/Stripewell/Stripewell.lnk' 2> /dev/null | head -1 || true)
    local folder
    folder=$(find "$c/users" -maxdepth 4 -type d -path '*Documents/Stripewell' 2> /dev/null | head -1 || true)
    if [[ ! -f "$c/Program Files/Stripewell/stripewell.exe" || ! -f "$c/Program Files/Stripewell/Uninstall.exe" ||
        ! -f "$c/Program Files/Stripewell/plugins/platforms/qwindows.dll" || -z "$menu" || -z "$folder" ]]; then
        echo "windows: the installer did not install the program, its Start-menu entry and its working folder" >&2
        find "$c/Program Files/Stripewell" "$c/ProgramData" "$c/users" -maxdepth 6 -iname '*stripewell*' >&2 || true
        exit 1
    fi
    printf '0\r\n' > "$folder/config.rwc"
    timeout 300 wine "$c/Program Files/Stripewell/Uninstall.exe" /S > /dev/null 2>&1
    timeout 60 wineserver -w || true
    for _ in $(seq 50); do # the uninstaller runs a copy of itself and returns at once
        [[ -f "$c/Program Files/Stripewell/stripewell.exe" ]] || break
        sleep 0.2
    done
    if [[ -f "$c/Program Files/Stripewell/stripewell.exe" || -f "$menu" || ! -f "$folder/config.rwc" ]]; then
        echo "windows: the uninstaller left the program or took the operator's files" >&2
        exit 1
    fi
    say "installer: $(basename "$installer") installed into Program Files, Start-menu entry, working folder ${folder#"$c"/}; uninstalled cleanly, config.rwc kept"
}

step_e2e() {
    wine_start
    wine_path_for_build
    linux_simulator
    e2e_read
    e2e_write
    e2e_program
    e2e_install
}
