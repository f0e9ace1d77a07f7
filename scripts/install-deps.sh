#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the lab need, when they are missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format
    qtbase5-dev libqt5dbus5 libcurl4-openssl-dev rapidjson-dev libboost-dev libboost-thread-dev
    libgtest-dev libgmock-dev
    avahi-daemon avahi-utils libavahi-compat-libdnssd1 libavahi-compat-libdnssd-dev dbus libdbus-1-dev
    iproute2 python3 openssl curl fonts-dejavu-core fonts-crosextra-carlito binutils-mingw-w64-x86-64
    libxcb1-dev xvfb
    x11-utils imagemagick xdotool
    dpkg-dev file lintian desktop-file-utils appstream
)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
