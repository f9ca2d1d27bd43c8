# The build and package steps of scripts/windows.sh: the program and its tests for
# Windows against the cached Qt and libzip, the zip and the installer; and the Linux
# terminal simulator the end-to-end run needs. Sourced after windows_cross.sh, not run.

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
    # Ours is named here: the cached Qt remembers the file of the clone that built it, which
    # may be gone (a CI clone), and without it the tree is configured for Linux.
    timeout 600 cmake -S "$root" -B "$WINBUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$TOOLCHAIN" -DQT_ADDITIONAL_PACKAGES_PREFIX_PATH="$(libzip_prefix)" -DCMAKE_BUILD_TYPE=Release \
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
