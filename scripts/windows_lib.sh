# Steps of scripts/windows.sh: Debian packages, Qt and libzip for Windows (cached),
# the program and its tests. Sourced, not run; expects $root set to the clone.

WIN_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 nsis libz-mingw-w64-dev dpkg-dev unzip xdotool python3
    xvfb xauth imagemagick qt6-translations-l10n ninja-build cmake)
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

step_packages() {
    local missing=() p
    for p in "${WIN_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    # The source packages of Qt and libzip come from the deb-src lines.
    local need_src=0
    apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package:' || need_src=1
    if [[ ${#missing[@]} -eq 0 && $need_src -eq 0 ]]; then
        say "packages are all there"
        return
    fi
    if [[ $(id -u) -ne 0 ]]; then
        echo "windows: not root; install ${missing[*]} and enable deb-src lines first" >&2
        exit 1
    fi
    if [[ $need_src -eq 1 ]]; then
        say "enabling Debian source packages (deb-src)"
        cat > /etc/apt/sources.list.d/stripewell-src.sources <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    fi
    say "installing ${missing[*]:-nothing new}"
    export DEBIAN_FRONTEND=noninteractive
    timeout 600 apt-get update -qq
    [[ ${#missing[@]} -eq 0 ]] || timeout 1200 apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Unpacks Debian's source package $1 (with Debian's patches) into $CACHE/src and
# prints the folder.
debian_source() {
    local pkg=$1 version dir
    version=$(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -V | tail -1)
    dir="$CACHE/src/$pkg-$version"
    if [[ ! -f "$dir/.unpacked" ]]; then
        rm -rf "$dir" "$CACHE/src/tmp-$pkg"
        mkdir -p "$CACHE/src/tmp-$pkg"
        (cd "$CACHE/src/tmp-$pkg" && timeout 900 apt-get source -qq "$pkg=$version" >/dev/null 2>&1)
        mv "$(find "$CACHE/src/tmp-$pkg" -mindepth 1 -maxdepth 1 -type d | head -1)" "$dir"
        rm -rf "$CACHE/src/tmp-$pkg"
        touch "$dir/.unpacked"
    fi
    echo "$dir"
}

# Only what the program uses: Core, Gui, Widgets and Test, the windows, offscreen and
# minimal platforms. Left out besides the modules: the Direct2D platform (it compiles
# the whole windows platform a second time), JPEG, PDF and the ODF and Markdown text
# formats, widgets no window of ours has, and HarfBuzz (our texts are Latin and
# Cyrillic, which Qt lays out without it). FreeType stays: the offscreen platform the
# tests run on takes its fonts through it on Windows. Debian's source lacks the wintab
# headers (tablet events), and without DirectWrite 3 the platform plugin links.
# Optimized for size: a form program loses no speed that shows, the first build on a
# fresh machine takes a third less time, and the zip is smaller.
QT_CONFIGURE=(-release -shared -xplatform win32-g++ -qt-host-path /usr
    -nomake examples -nomake tests
    -no-opengl -no-dbus -no-icu
    -qt-zlib -qt-libpng -no-libjpeg -qt-pcre -no-harfbuzz -qt-freetype -optimize-size
    -no-feature-network -no-feature-sql -no-feature-xml -no-feature-printsupport
    -no-feature-concurrent -no-feature-tabletevent -no-feature-directwrite3
    -no-feature-direct2d -no-feature-pdf -no-feature-textodfwriter
    -no-feature-textmarkdownreader -no-feature-textmarkdownwriter -no-feature-movie
    -no-feature-graphicsview -no-feature-mdiarea -no-feature-calendarwidget -no-feature-wizard
    -no-feature-undoview -no-feature-undostack -no-feature-colordialog -no-feature-fontdialog)

QT_CMAKE_ARGS=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)

qt_prefix() {
    local version hash
    version=$(apt-cache showsrc qt6-base | sed -n 's/^Version: //p' | sort -V | tail -1)
    # QT_CMAKE_ARGS name only the generator, the toolchain (hashed by its content) and
    # Debian's fixed host path, so the hash leaves them out.
    hash=$( { echo "$version"; echo "${QT_CONFIGURE[*]}"; cat "$TOOLCHAIN"; } | sha256sum | cut -c1-12)
    echo "$CACHE/qt-$hash"
}

step_qt() {
    local prefix src build
    prefix=$(qt_prefix)
    if [[ -f "$prefix/.complete" ]]; then
        say "Qt for Windows from the cache: $prefix"
        return
    fi
    src=$(debian_source qt6-base)
    build="$CACHE/build-$(basename "$prefix")"
    say "building Qt for Windows from $src into $prefix (about 25 minutes on 2 idle cores; log in $build/build.log)"
    rm -rf "$prefix"
    # A build that was cut off (a killed run) goes on where it stopped.
    if [[ ! -f "$build/build.ninja" ]]; then
        rm -rf "$build"
        mkdir -p "$build"
        (cd "$build" && timeout 600 "$src/configure" -prefix "$prefix" "${QT_CONFIGURE[@]}" -- "${QT_CMAKE_ARGS[@]}" \
            > build.log 2>&1) || { tail -40 "$build/build.log" >&2; rm -f "$build/build.ninja"; exit 1; }
    fi
    (
        cd "$build"
        timeout 7200 "${NICE[@]}" cmake --build . --parallel $JOBS >> build.log 2>&1
        timeout 600 cmake --install . >> build.log 2>&1
    ) || { tail -40 "$build/build.log" >&2; exit 1; }
    touch "$prefix/.complete"
    rm -rf "$build"
}

libzip_prefix() {
    local version hash
    version=$(apt-cache showsrc libzip | sed -n 's/^Version: //p' | sort -V | tail -1)
    hash=$( { echo "$version"; cat "$TOOLCHAIN"; } | sha256sum | cut -c1-12)
    echo "$CACHE/libzip-$hash"
}

step_libzip() {
    local prefix src build
    prefix=$(libzip_prefix)
    if [[ -f "$prefix/.complete" ]]; then
        say "libzip for Windows from the cache: $prefix"
        return
    fi
    src=$(debian_source libzip)
    build="$CACHE/build-$(basename "$prefix")"
    rm -rf "$build" "$prefix"
    (
        timeout 600 cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
            -DENABLE_OPENSSL=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_BZIP2=OFF \
            -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF \
            -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF > "$CACHE/libzip.log" 2>&1
        timeout 900 "${NICE[@]}" cmake --build "$build" --parallel $JOBS >> "$CACHE/libzip.log" 2>&1
        timeout 300 cmake --install "$build" >> "$CACHE/libzip.log" 2>&1
    ) || { tail -40 "$CACHE/libzip.log" >&2; exit 1; }
    touch "$prefix/.complete"
    rm -rf "$build"
}

# The mingw pkg-config view: only the Windows libzip, never the Linux one.
mingw_pkg_config_env() {
    export PKG_CONFIG_LIBDIR="$(libzip_prefix)/lib/pkgconfig"
    export PKG_CONFIG_PATH=
}

step_build() {
    mingw_pkg_config_env
    local qt
    qt=$(qt_prefix)
    # A tree configured against another Qt (the configure line changed) keeps finding
    # that one: CMake reads a toolchain only on the first configure.
    if [[ -f "$WINBUILD/CMakeCache.txt" ]] && ! grep -qx "Qt6_DIR:PATH=$qt/lib/cmake/Qt6" "$WINBUILD/CMakeCache.txt"; then
        say "Qt for Windows changed: configuring $WINBUILD afresh"
        rm -rf "$WINBUILD/CMakeCache.txt" "$WINBUILD/CMakeFiles"
    fi
    # Qt's own toolchain file loads ours and adds the Qt and libzip prefixes to the places searched.
    timeout 600 cmake -S "$root" -B "$WINBUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_ADDITIONAL_PACKAGES_PREFIX_PATH="$(libzip_prefix)" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/wine -DSTRIPEWELL_BENCH=OFF > "$WINBUILD/configure.log" 2>&1 ||
        { tail -40 "$WINBUILD/configure.log" >&2; exit 1; }
    timeout 2400 "${NICE[@]}" cmake --build "$WINBUILD" --parallel $JOBS > "$WINBUILD/build.log" 2>&1 ||
        { grep -B2 -A12 -m3 'error' "$WINBUILD/build.log" >&2 || tail -40 "$WINBUILD/build.log" >&2; exit 1; }
    say "built $(cd "$WINBUILD" && ls ./*.exe app/*.exe tests/*/*.exe 2>/dev/null | tr '\n' ' ')"
}

# The simulator is a Linux program; the Linux tree normally has it already.
linux_simulator() {
    SIM="$root/build/release/tools/stripewell-sim"
    if [[ ! -x "$SIM" ]]; then
        say "building the Linux terminal simulator"
        (cd "$root" && cmake --preset release > /dev/null &&
            timeout 1800 "${NICE[@]}" cmake --build --preset release -j$JOBS --target stripewell-sim > /dev/null)
    fi
}

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

step_package() {
    (cd "$WINBUILD" && timeout 900 cpack -G ZIP > cpack-zip.log 2>&1 && timeout 900 cpack -G NSIS > cpack-nsis.log 2>&1) ||
        { tail -30 "$WINBUILD"/cpack-*.log >&2; exit 1; }
    local zip
    zip=$(ls "$WINBUILD"/stripewell-*-win64.zip)
    # What the program needs beside it to start on a machine with nothing else installed.
    local need=(stripewell.exe qt.conf Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll
        libwinpthread-1.dll plugins/platforms/qwindows.dll translations/qtbase_ru.qm) listing f
    listing=$(unzip -Z1 "$zip")
    for f in "${need[@]}"; do
        grep -qx "$f" <<< "$listing" || { echo "windows: $f is missing from $zip" >&2; exit 1; }
    done
    say "$(basename "$zip") ($(du -k "$zip" | cut -f1) KB, $(wc -l <<< "$listing") files) and $(basename "${zip%.zip}.exe") ($(du -k "${zip%.zip}.exe" | cut -f1) KB)"
}
