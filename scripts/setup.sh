#!/usr/bin/env bash
# Installs every Debian package Stripewell needs to build, test and run.
# Safe to run again: it only calls apt when something is missing.
set -euo pipefail

PACKAGES=(
    build-essential cmake pkg-config git
    qt6-base-dev qt6-serialport-dev libqt6serialport6 qt6-qpa-plugins qt6-translations-l10n
    libzip-dev libx11-dev
    libpq-dev postgresql-15
    clang-14 libclang-rt-14-dev clang-format
    xvfb xauth x11-xkb-utils x11-utils
    dpkg-dev lintian help2man
    fonts-liberation fonts-dejavu-core
)
if [[ "${STRIPEWELL_DEV_PACKAGES:-0}" == 1 ]]; then
    # Only for regenerating the workbook fixtures, taking screenshots and running
    # the workbook benchmark against its peers (openpyxl, xlrd, LibreOffice, orcus).
    PACKAGES+=(imagemagick python3-openpyxl python3-xlsxwriter python3-xlwt python3-xlrd python3-pandas libreoffice-calc-nogui
        liborcus-bin)
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "setup: installing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
    echo "setup: not root; run this first:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
