#!/usr/bin/env bash
# Builds the Debian package from the release tree, installs it with apt, starts
# the installed program under Xvfb and checks that its main window appears,
# then removes the package. Installing needs root: as another user it only
# builds and checks the package.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(mktemp -d)
work=$(mktemp -d)
installed=0
cleanup() {
    if [[ $installed -eq 1 ]]; then
        apt-get remove -y -qq stripewell >/dev/null 2>&1 || true
    fi
    rm -rf "$out" "$work"
}
trap cleanup EXIT

if ! (cd build/release && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1); then
    cat "$out/cpack.log" >&2
    exit 1
fi
deb=$(ls "$out"/stripewell_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in usr/bin/stripewell usr/bin/stripewell-sim \
    usr/share/applications/com.example.Stripewell.desktop \
    usr/share/metainfo/com.example.Stripewell.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/com.example.Stripewell.svg \
    usr/share/doc/stripewell/copyright usr/share/doc/stripewell/changelog.gz \
    usr/share/man/man1/stripewell.1.gz usr/share/man/man1/stripewell-sim.1.gz; do
    if ! grep -q " ./$f\$" <<<"$contents"; then
        echo "package: $f is missing from $(basename "$deb")" >&2
        exit 1
    fi
done
depends=$(dpkg-deb -f "$deb" Depends)
if ! grep -q 'libqt6widgets6' <<<"$depends"; then
    echo "package: the dependencies do not name the Qt libraries: $depends" >&2
    exit 1
fi
echo "package: $(basename "$deb"), depends on $depends"

# Debian's conventions: lintian reports no error (warnings and notes are shown).
if ! command -v lintian >/dev/null; then
    echo "package: lintian is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi
lintian --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>&1 || true
cat "$out/lintian.log"
if grep -q '^E: ' "$out/lintian.log"; then
    echo "package: lintian reports errors" >&2
    exit 1
fi
echo "package: lintian reports no error"

if [[ $(id -u) -ne 0 ]]; then
    echo "package: not root; the package is not installed and started"
    exit 0
fi
if dpkg-query -W -f='${Status}' stripewell 2>/dev/null | grep -q 'install ok installed'; then
    echo "package: stripewell is installed on this machine already; left as it is, not started"
    exit 0
fi
installed=1
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$out/apt.log" 2>&1; then
    cat "$out/apt.log" >&2
    exit 1
fi
[[ -x /usr/bin/stripewell ]] || { echo "package: /usr/bin/stripewell is not there after installing" >&2; exit 1; }
# Both programs answer --version and --help, without a display.
for program in stripewell stripewell-sim; do
    version=$(env -u DISPLAY "/usr/bin/$program" --version)
    [[ "$version" == "$program "[0-9]* ]] || { echo "package: $program --version says \"$version\"" >&2; exit 1; }
    env -u DISPLAY "/usr/bin/$program" --help | grep -q '^Usage:' || { echo "package: $program --help gives no usage" >&2; exit 1; }
done

# A fresh working directory: the program starts without config.rwc, says so in
# a box, and its main window is up behind it.
cd "$work"
if ! xvfb-run -a -s "-noreset -screen 0 1024x768x24" bash -c '
    /usr/bin/stripewell >program.log 2>&1 &
    pid=$!
    for _ in $(seq 100); do
        if xwininfo -root -tree | grep -q "R/W card for R418V"; then
            kill "$pid"; wait "$pid" 2>/dev/null || true; exit 0
        fi
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true; exit 1'; then
    echo "package: the installed program showed no main window within 10 s" >&2
    cat "$work/program.log" >&2 || true
    exit 1
fi
echo "package: installed, /usr/bin/stripewell started under Xvfb, its window seen, package removed"
cd "$root"
