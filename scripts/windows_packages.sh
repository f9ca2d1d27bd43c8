# The packages step of scripts/windows.sh: the Debian packages the Windows build needs,
# the deb-src lines that Qt's and libzip's sources come from, and a source package
# unpacked into the cache. Sourced after windows_common.sh, not run.

WIN_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 nsis libz-mingw-w64-dev dpkg-dev unzip xdotool python3
    xvfb xauth imagemagick qt6-translations-l10n ninja-build cmake)

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
