#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need, when any is missing.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config ca-certificates
    sqlite3 libsqlite3-dev libcsv-dev libuchardet-dev
    postgresql
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite libqt6sql6-psql
    qt6-svg-dev qt6-webengine-dev qt6-webengine-dev-tools libqt6opengl6-dev
    qt6-httpserver-dev qt6-websockets-dev
    libsodium-dev
    libgl-dev libvulkan-dev
    qt6-translations-l10n libjs-jquery rapidjson-dev
    fonts-noto-cjk xvfb xauth poppler-utils xdotool
    nginx openssl
    systemd
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
