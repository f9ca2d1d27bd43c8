# The qt and libzip steps of scripts/windows.sh: Qt and libzip cross-built for Windows
# from Debian's sources into the cache, each in a folder named by a hash of what it is
# built from. Sourced after windows_packages.sh, not run.

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

# True, and says so, when the prefix holds a finished build of $2.
from_cache() {
    [[ -f "$1/.complete" ]] || return 1
    say "$2 for Windows from the cache: $1"
}

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
    from_cache "$prefix" Qt && return
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
    from_cache "$prefix" libzip && return
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
